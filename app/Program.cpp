#include "app/Program.h"

#include "app/KelpApp.h"
#include "archive/HandOver.h"

#include <QApplication>

#include <unistd.h>

int RunProgram(QApplication& app) {
    QApplication::setApplicationName(QStringLiteral("lmx207"));
    CKelpApp& theApp = AfxGetApp();
    if (!theApp.InitInstance())
        return 0;
    ArchiveHandOverStart(); // facts a run before left waiting go in now
    if (theApp.RunLogin() == IDCANCEL)
        ::_exit(-1); // Escape at login: the process ends at once, without an orderly shutdown
    if (!theApp.m_pMainWnd)
        return 0; // the login's exit button closed the main window
    return app.exec();
}
