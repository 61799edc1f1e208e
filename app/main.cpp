#include "app/KelpApp.h"
#include "app/MainFrame.h"

#include <QApplication>
#include <QPainter>
#include <QTimer>

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
} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
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
