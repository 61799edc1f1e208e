#include "platform/Platform.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>
#include <QStandardPaths>
#include <QThread>
#include <QTranslator>
#include <QWindow>

#include <algorithm>

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

// A message box that, once laid out for its text, centres itself on its owner.
class CenteredMessageBox : public QMessageBox {
public:
    CenteredMessageBox(Icon icon, const QString& caption, const QString& text, QWidget* owner)
        : QMessageBox(icon, caption, text, NoButton, owner), m_owner(owner) {}

protected:
    void showEvent(QShowEvent* event) override {
        QMessageBox::showEvent(event); // sizes the box for its text
        CenterOnOwner(this, m_owner);
    }

private:
    QPointer<QWidget> m_owner;
};
} // namespace

extern int g_bChinese; // the process-wide language flag of the application

bool FrameworkChinese() {
    return g_bChinese != 0;
}

void SyncFrameworkTranslation() {
    static QTranslator* installed[2] = {};
    static bool chinese = false;
    if (!QCoreApplication::instance() || FrameworkChinese() == chinese)
        return;
    chinese = FrameworkChinese();
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    const char* catalogues[2] = {"qtbase_zh_CN", "qtserialport_zh_CN"};
    for (int i = 0; i < 2; ++i) {
        if (!chinese) {
            if (installed[i])
                QCoreApplication::removeTranslator(installed[i]);
            delete installed[i];
            installed[i] = nullptr;
            continue;
        }
        auto* t = new QTranslator(QCoreApplication::instance());
        if (t->load(QLatin1String(catalogues[i]), folder) && QCoreApplication::installTranslator(t))
            installed[i] = t;
        else
            delete t;
    }
}

namespace {
// Centres a window again once, when its owner (just shown, not yet placed by the window manager)
// gets its place. Lives as the window's child, so it goes with the window.
class CentreWhenPlaced : public QObject {
public:
    CentreWhenPlaced(QWidget* window, QWidget* owner, QWidget* target)
        : QObject(window), m_window(window), m_owner(owner), m_target(target) {
        setObjectName(QStringLiteral("centreWhenPlaced"));
        target->windowHandle()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (m_target && watched == m_target->windowHandle() && event->type() == QEvent::Expose &&
            m_target->windowHandle()->isExposed()) {
            watched->removeEventFilter(this);
            if (m_window && m_window->isVisible())
                CenterOnOwner(m_window, m_owner);
            deleteLater();
        }
        return false;
    }

private:
    QPointer<QWidget> m_window, m_owner, m_target;
};
} // namespace

void CenterOnOwner(QWidget* window, QWidget* owner) {
    QWidget* target = owner ? owner->window() : nullptr;
    if (target && (target == window || !target->isVisible()))
        target = nullptr;
    if (!target) {
        QWidget* main = AfxGetMainWnd();
        if (main && main != window && main->isVisible())
            target = main;
    }
    QRect area;
    if (target) {
        area = target->frameGeometry();
        // The window manager places a window shown a moment ago later: follow it there once.
        if (target->windowHandle() && !target->windowHandle()->isExposed() &&
            !window->findChild<QObject*>(QStringLiteral("centreWhenPlaced"), Qt::FindDirectChildrenOnly))
            new CentreWhenPlaced(window, owner, target);
    } else if (QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen())
        area = screen->availableGeometry();
    if (area.isEmpty())
        return;
    const QSize size = window->frameGeometry().size();
    window->move(area.x() + (area.width() - size.width()) / 2,
                 area.y() + (area.height() - size.height()) / 2);
    KeepOnScreen(window);
}

void KeepOnScreen(QWidget* window) {
    // The screen the window's centre is on, else the owner's or the primary one.
    const QRect frame = window->frameGeometry();
    QScreen* screen = QGuiApplication::screenAt(frame.center());
    if (!screen)
        screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect avail = screen->availableGeometry();
    QPoint to = frame.topLeft();
    // Right and bottom edges first, then left and top: a window larger than the area keeps its
    // caption and its first column in view.
    to.setX(std::max(avail.left(), std::min(to.x(), avail.right() + 1 - frame.width())));
    to.setY(std::max(avail.top(), std::min(to.y(), avail.bottom() + 1 - frame.height())));
    if (to != frame.topLeft())
        window->move(window->pos() + (to - frame.topLeft()));
}

void DestroyWidgetLater(QWidget* widget) {
    if (!widget)
        return;
    widget->hide();
    // Out of its parent (and so out of the parent's layout, a main window's menu bar slot included)
    // at once; its own children, an open drop-down among them, stay with it until it goes.
    widget->setParent(nullptr);
    widget->deleteLater();
}

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
    SyncFrameworkTranslation();
    CenteredMessageBox box(icon, caption, text, owner);
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
