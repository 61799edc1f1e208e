// The yardstick for the tool's start-up figures: a bare Qt Widgets program, built with the same
// compiler flags against the same Qt, that shows a 500 x 400 main window with a menu bar and a
// toolbar and nothing else. It answers as the tool's start-up probe does:
//   bench-bare-window ready   once the window is shown, prints "ready <ms since the program was
//                             loaded>" and exits 0
//   bench-bare-window idle    lets the window idle for 2 s, prints "idle <VmRSS kB> <VmHWM kB>" and
//                             exits 0
#include "bench/StartupReport.h"

#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QMenuBar>
#include <QTimer>
#include <QToolBar>

namespace {

class BareWindow : public QMainWindow {
public:
    bool m_idle = false;

protected:
    void showEvent(QShowEvent* event) override {
        QMainWindow::showEvent(event);
        QTimer::singleShot(m_idle ? 2000 : 0, this, [this] { m_idle ? ReportIdle() : ReportReady(); });
    }
};

} // namespace

int main(int argc, char* argv[]) {
    bool idle = false;
    if (!ParseProbeMode(argc, argv, &idle))
        return 2;
    QApplication app(argc, argv);
    BareWindow window;
    window.m_idle = idle;
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
