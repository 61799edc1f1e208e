#include "access/LoginDlg.h"
#include "app/KelpApp.h"
#include "app/MainFrame.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPainter>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

namespace {
// LMX207_SCREENSHOT=<file.png>: once the login is up, saves the main window with the login over it
// and ends the program (for machines without a display, and for the README's pictures).
void scheduleScreenshot(const QString& file) {
    QTimer::singleShot(1000, [file] {
        CMainFrame* frame = AfxGetApp().m_pMainWnd;
        QWidget* login = QApplication::activeModalWidget();
        if (!frame)
            ::_exit(1);
        QImage shot = frame->grab().toImage();
        if (login) {
            QPainter p(&shot);
            const QImage dialog = login->grab().toImage();
            p.drawImage((shot.width() - dialog.width()) / 2, (shot.height() - dialog.height()) / 2, dialog);
        }
        ::_exit(shot.save(file) ? 0 : 1);
    });
}

// Start-up figures for tests/bench_startup; nothing else sets these switches.
// LMX207_BENCH_READY=1: once the login is shown, prints "ready <ms since the program was loaded>"
// and exits 0. LMX207_BENCH_IDLE=1: logs in with the stored password, lets the main window idle for
// 2 s, prints "idle <VmRSS kB> <VmHWM kB>" and exits 0.
class BenchWatch : public QObject {
public:
    bool m_ready = qEnvironmentVariableIsSet("LMX207_BENCH_READY");
    bool m_idle = qEnvironmentVariableIsSet("LMX207_BENCH_IDLE");
    QElapsedTimer m_clock; // started before main(), once the program and its libraries are loaded

    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* login = event->type() == QEvent::Show ? qobject_cast<CLoginDlg*>(watched) : nullptr;
        if (!login)
            return false;
        QTimer::singleShot(0, login, [this, login] {
            if (m_ready) {
                std::printf("ready %lld\n", static_cast<long long>(m_clock.elapsed()));
                std::fflush(stdout);
                ::_exit(0);
            }
            if (auto* edit = login->GetDlgItemAs<QLineEdit>(57634))
                edit->setText(QString::fromLatin1(login->m_szStored));
            login->OnOK();
            QTimer::singleShot(2000, [] {
                if (QApplication::activeModalWidget())
                    ::_exit(1); // still not logged in
                QFile status(QStringLiteral("/proc/self/status"));
                status.open(QIODevice::ReadOnly);
                QByteArray rss = "0", hwm = "0";
                for (const QByteArray& line : status.readAll().split('\n')) {
                    if (line.startsWith("VmRSS:"))
                        rss = line.mid(6).trimmed().split(' ').value(0);
                    if (line.startsWith("VmHWM:"))
                        hwm = line.mid(6).trimmed().split(' ').value(0);
                }
                std::printf("idle %s %s\n", rss.constData(), hwm.constData());
                std::fflush(stdout);
                ::_exit(0);
            });
        });
        return false;
    }
};

BenchWatch& Bench() {
    static BenchWatch bench;
    return bench;
}
// Starts the start-up clock while static objects are built, before main().
const bool g_benchClockStarted = (Bench().m_clock.start(), true);
} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (Bench().m_ready || Bench().m_idle)
        app.installEventFilter(&Bench());
    QApplication::setApplicationName(QStringLiteral("lmx207"));
    CKelpApp& theApp = AfxGetApp();
    if (!theApp.InitInstance())
        return 0;
    const QString screenshot = qEnvironmentVariable("LMX207_SCREENSHOT");
    if (!screenshot.isEmpty())
        scheduleScreenshot(screenshot);
    const int login = theApp.RunLogin();
    if (login == IDCANCEL)
        ::_exit(-1); // Escape at login: the process ends at once
    if (!theApp.m_pMainWnd)
        return 0; // the login's exit button closed the main window
    return app.exec();
}
