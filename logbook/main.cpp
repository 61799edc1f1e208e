#include "logbook/LogbookCli.h"
#include "logbook/LogbookWindow.h"

#include <QApplication>
#include <QCoreApplication>
#include <QGuiApplication>

#include <cstdio>
#include <cstring>

// lmx207-logbook: with no arguments the windows; with any argument the command line (import,
// export, visits, report, --help), which needs no display.
int main(int argc, char* argv[]) {
    if (argc > 1 && std::strcmp(argv[1], "report") == 0) {
        // The report paints (fonts, the link's picture) but shows no window: no display needed.
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        QGuiApplication app(argc, argv);
        return RunLogbookCommand(QCoreApplication::arguments().mid(1), stdout, stderr);
    }
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
