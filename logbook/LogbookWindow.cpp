#include "logbook/LogbookWindow.h"

#include <QApplication>
#include <QMainWindow>

// A stand-in until the logbook's windows land: an empty main window.
int RunLogbookWindow() {
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("LMX-207 Logbook"));
    window.resize(800, 500);
    window.show();
    return QApplication::exec();
}
