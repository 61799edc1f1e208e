#include "app/KelpApp.h"

#include <QApplication>

#include <unistd.h>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("lmx207"));
    QApplication::setQuitOnLastWindowClosed(true);
    CKelpApp& theApp = AfxGetApp();
    if (!theApp.InitInstance())
        return 0;
    const int login = theApp.RunLogin();
    if (login == IDCANCEL)
        ::_exit(-1); // Escape at login: the process ends at once
    if (!theApp.m_pMainWnd)
        return 0; // the login's exit button closed the main window
    return app.exec();
}
