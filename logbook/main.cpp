#include "archive/ServerArchive.h"
#include "logbook/LogbookCli.h"
#include "logbook/LogbookWindow.h"

#include <QApplication>
#include <QCoreApplication>

#include <cstdio>

// lmx207-logbook: with no arguments the windows; with any argument the command line (import,
// export, visits, --help), which needs no display.
int main(int argc, char* argv[]) {
    // --server CONNINFO alone: the windows over the team's archive on a server.
    QString server;
    const bool serverWindow = (argc == 3 && QByteArray(argv[1]) == "--server") ||
                              (argc == 2 && QByteArray(argv[1]).startsWith("--server="));
    if (serverWindow)
        server = ServerLocation(QString::fromLocal8Bit(argc == 3 ? argv[2] : argv[1] + 9));
    if (argc > 1 && !serverWindow) {
        QCoreApplication app(argc, argv);
        QStringList args = QCoreApplication::arguments();
        args.removeFirst();
        return RunLogbookCommand(args, stdout, stderr);
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("lmx207-logbook"));
    return RunLogbookWindow(server);
}
