#include "platform/Platform.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPointer>
#include <QStandardPaths>
#include <QThread>

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
MessageBoxHook g_messageBoxHook;
int g_beeps = 0;
std::function<void(DWORD)> g_sleepHook;
unsigned g_dlgBk = RGB(211, 209, 201);
unsigned g_dlgText = 0;
QPointer<QWidget> g_mainWnd;
std::function<bool(int)> g_unhandledRoute;
} // namespace

int MessageBox(QWidget* owner, const QString& text, const QString& caption, UINT type) {
    if (g_messageBoxHook)
        return g_messageBoxHook(MessageBoxCall{owner, text, caption, type});
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (type & MB_ICONMASK) {
    case MB_ICONHAND:
        icon = QMessageBox::Critical;
        break;
    case MB_ICONQUESTION:
        icon = QMessageBox::Question;
        break;
    case MB_ICONEXCLAMATION:
        icon = QMessageBox::Warning;
        break;
    case MB_ICONINFORMATION:
        icon = QMessageBox::Information;
        break;
    default:
        break;
    }
    QMessageBox box(icon, caption, text, QMessageBox::NoButton, owner);
    box.setTextFormat(Qt::PlainText);
    switch (type & 0x0F) {
    case MB_OKCANCEL:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    case MB_YESNO:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    default:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    }
    switch (box.exec()) {
    case QMessageBox::Cancel:
        return IDCANCEL;
    case QMessageBox::Yes:
        return IDYES;
    case QMessageBox::No:
        return IDNO;
    default:
        return IDOK;
    }
}

void SetMessageBoxHook(MessageBoxHook hook) {
    g_messageBoxHook = std::move(hook);
}

void MessageBeep(UINT) {
    ++g_beeps;
    QApplication::beep();
}

int MessageBeepCount() {
    return g_beeps;
}
void ResetMessageBeepCount() {
    g_beeps = 0;
}

void Sleep(DWORD milliseconds) {
    if (g_sleepHook)
        g_sleepHook(milliseconds);
    else
        QThread::msleep(milliseconds);
}

void SetSleepHook(std::function<void(DWORD)> hook) {
    g_sleepHook = std::move(hook);
}

bool CreateSingleInstanceLock(const QString& name) {
    // Qt's runtime folder: $XDG_RUNTIME_DIR, else <temp>/runtime-<user>, made 0700 when missing.
    // It is empty when the folder belongs to another account, who must not be able to decide
    // whether this tool starts: then there is no lock.
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        return true;
    const QByteArray path = QFile::encodeName(folder + '/' + name + ".lock");
    // The descriptor stays open for the life of the process: the lock is the running instance.
    // Never through a symbolic link planted under the lock's name.
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return true; // no place for a lock: run rather than refuse to start
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool held = errno == EWOULDBLOCK;
        ::close(fd);
        return !held;
    }
    return true;
}

void ProvideRuntimeDir() {
    if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        return;
    const uid_t uid = ::geteuid();
    const passwd* user = ::getpwuid(uid);
    const QByteArray folder = QFile::encodeName(QDir::tempPath()) + "/runtime-" +
                              (user ? QByteArray(user->pw_name) : QByteArray::number(uid));
    ::mkdir(folder.constData(), 0700);
    struct stat st;
    if (::lstat(folder.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == uid &&
        (st.st_mode & 0777) == 0700)
        qputenv("XDG_RUNTIME_DIR", folder);
}

void SetDialogBkColor(unsigned backgroundRgb, unsigned textRgb) {
    g_dlgBk = backgroundRgb;
    g_dlgText = textRgb;
}
unsigned DialogBkColor() {
    return g_dlgBk;
}
unsigned DialogTextColor() {
    return g_dlgText;
}

QWidget* AfxGetMainWnd() {
    return g_mainWnd;
}
void AfxSetMainWnd(QWidget* wnd) {
    g_mainWnd = wnd;
}
void SetUnhandledCommandRoute(std::function<bool(int)> route) {
    g_unhandledRoute = std::move(route);
}
bool RouteUnhandledCommand(int id) {
    return g_unhandledRoute ? g_unhandledRoute(id) : false;
}

QString AfxAppName() {
    const QString name = QCoreApplication::applicationName();
    return name.isEmpty() ? QStringLiteral("lmx207") : name;
}
