// The yardstick for the tool's start-up figures: a bare Qt Widgets program, built with the same
// compiler flags against the same Qt, that shows a 500 x 400 main window with a menu bar and a
// toolbar and nothing else. It answers the same switches as the tool:
// LMX207_BENCH_READY=1 prints "ready <ms since the program was loaded>" once the window is shown and
// exits 0; LMX207_BENCH_IDLE=1 lets the window idle for 2 s, prints "idle <VmRSS kB> <VmHWM kB>" and
// exits 0.
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMainWindow>
#include <QMenuBar>
#include <QTimer>
#include <QToolBar>

#include <cstdio>
#include <unistd.h>

namespace {

class BareWindow : public QMainWindow {
public:
    QElapsedTimer* m_clock = nullptr;
    bool m_ready = qEnvironmentVariableIsSet("LMX207_BENCH_READY");
    bool m_idle = qEnvironmentVariableIsSet("LMX207_BENCH_IDLE");

protected:
    void showEvent(QShowEvent* event) override {
        QMainWindow::showEvent(event);
        if (m_ready)
            QTimer::singleShot(0, this, [this] {
                std::printf("ready %lld\n", static_cast<long long>(m_clock->elapsed()));
                std::fflush(stdout);
                ::_exit(0);
            });
        else if (m_idle)
            QTimer::singleShot(2000, this, [] {
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
    }
};

QElapsedTimer& Clock() {
    static QElapsedTimer clock;
    return clock;
}
// Starts the start-up clock while static objects are built, before main(), as the tool does.
const bool g_clockStarted = (Clock().start(), true);

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    BareWindow window;
    window.m_clock = &Clock();
    window.setWindowTitle(QStringLiteral("Bare window"));
    QMenu* file = window.menuBar()->addMenu(QStringLiteral("&File"));
    QAction* exit = file->addAction(QStringLiteral("E&xit"));
    QObject::connect(exit, &QAction::triggered, &window, &QMainWindow::close);
    QToolBar* toolBar = window.addToolBar(QStringLiteral("Standard"));
    toolBar->addAction(exit);
    window.resize(500, 400);
    window.show();
    return app.exec();
}
