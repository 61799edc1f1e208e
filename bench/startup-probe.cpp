// The tool's start-up probe for bench_startup: runs exactly the start-up of lmx207 (RunProgram)
// with a watcher that reports when the login comes up.
//   lmx207-bench-startup-probe ready   once the login is shown, prints "ready <ms since the program
//                                      was loaded>" and exits 0
//   lmx207-bench-startup-probe idle    logs in with the stored password, lets the main window idle
//                                      for 2 s, prints "idle <VmRSS kB> <VmHWM kB>" and exits 0
//                                      (exit 1 when the login is still up)
#include "access/LoginDlg.h"
#include "app/Program.h"
#include "bench/StartupReport.h"

#include <QApplication>
#include <QLineEdit>
#include <QTimer>

namespace {

class LoginWatch : public QObject {
public:
    explicit LoginWatch(bool idle) : m_idle(idle) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* login = event->type() == QEvent::Show ? qobject_cast<CLoginDlg*>(watched) : nullptr;
        if (login)
            QTimer::singleShot(0, login, [this, login] { onLoginShown(login); });
        return false;
    }

private:
    void onLoginShown(CLoginDlg* login) {
        if (!m_idle)
            ReportReady();
        if (auto* edit = login->GetDlgItemAs<QLineEdit>(57634))
            edit->setText(QString::fromLatin1(login->m_szStored));
        login->OnOK();
        QTimer::singleShot(2000, [] {
            if (QApplication::activeModalWidget())
                ::_exit(1); // still not logged in
            ReportIdle();
        });
    }

    bool m_idle;
};

} // namespace

int main(int argc, char* argv[]) {
    bool idle = false;
    if (!ParseProbeMode(argc, argv, &idle))
        return 2;
    QApplication app(argc, argv);
    LoginWatch watch(idle);
    app.installEventFilter(&watch);
    return RunProgram(app);
}
