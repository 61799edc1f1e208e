#include "archive/ServerArchive.h"
#include "archive/Spool.h"
#include "logbook/LogbookCli.h"
#include "logbook/LogbookWindow.h"

#include <QApplication>
#include <QCoreApplication>
#include <QGuiApplication>

#include <cstdio>
#include <cstring>

// lmx207-logbook: with no arguments (or only --archive FILE or --server CONNINFO) the windows; with
// any other the command line (import, export, visits, report, --help), which needs no display.
int main(int argc, char* argv[]) {
    if (argc > 1 && std::strcmp(argv[1], "report") == 0) {
        // The report paints (fonts, the link's picture) but shows no window: no display needed.
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        QGuiApplication app(argc, argv);
        MoveDefaultSpoolIn();
        return RunLogbookCommand(QCoreApplication::arguments().mid(1), stdout, stderr);
    }
    // --server CONNINFO or --archive FILE alone: the windows over that archive.
    QString location;
    const QByteArray first = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    const bool serverWindow =
        (argc == 3 && first == "--server") || (argc == 2 && first.startsWith("--server="));
    const bool archiveWindow =
        (argc == 3 && first == "--archive") || (argc == 2 && first.startsWith("--archive="));
    if (serverWindow) {
        const QString conninfo = QString::fromLocal8Bit(argc == 3 ? argv[2] : argv[1] + 9);
        if (ConninfoHasPassword(conninfo))
            std::fprintf(stderr, "%s\n", qPrintable(PasswordOnCommandLineWarning()));
        location = ServerLocation(conninfo);
    } else if (archiveWindow)
        location = QString::fromLocal8Bit(argc == 3 ? argv[2] : argv[1] + 10);
    if (argc > 1 && !serverWindow && !archiveWindow) {
        QCoreApplication app(argc, argv);
        MoveDefaultSpoolIn(); // what the service program left waiting goes in first
        QStringList args = QCoreApplication::arguments();
        args.removeFirst();
        return RunLogbookCommand(args, stdout, stderr);
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("lmx207-logbook"));
    MoveDefaultSpoolIn();
    return RunLogbookWindow(location);
}
