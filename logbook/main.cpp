#include "logbook/LogbookCli.h"
#include "logbook/LogbookWindow.h"

#include <QApplication>
#include <QCoreApplication>

#include <cstdio>

// lmx207-logbook: with no arguments the windows; with any argument the command line (import,
// export, visits, --help), which needs no display.
int main(int argc, char* argv[]) {
    if (argc > 1) {
        QCoreApplication app(argc, argv);
        QStringList args = QCoreApplication::arguments();
        args.removeFirst();
        return RunLogbookCommand(args, stdout, stderr);
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("lmx207-logbook"));
    return RunLogbookWindow();
}
