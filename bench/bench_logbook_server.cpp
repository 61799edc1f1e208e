// Prints what the team's server costs, on a throwaway PostgreSQL server (run it through
// tests/pg/run-pg-tests.sh, which starts one and names it in LMX207_PG_DIR): the first sync of a
// laptop's 1,000,000 events of 500 units to an empty server, a sync that carries one new visit,
// and each filter's first page over the million on the server. Asserts nothing.
#include "archive/Archive.h"
#include "archive/ServerArchive.h"
#include "archive/VisitRecorder.h"
#include "logbook/LogbookCli.h"
#include "support/LogbookSample.h"
#include "support/TestEnv.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <cstdio>

namespace {

constexpr int kUnits = 500;
constexpr int kEventsPerUnit = 2000;

double Ms(const QElapsedTimer& t) {
    return t.nsecsElapsed() / 1e6;
}

int Sync(const QString& archive, const QString& conninfo) {
    std::FILE* sink = std::tmpfile();
    const int status = RunLogbookCommand({"sync", "--archive", archive, "--server", conninfo}, sink, stderr);
    std::fclose(sink);
    return status;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QString dir = qEnvironmentVariable("LMX207_PG_DIR");
    const QString script = qEnvironmentVariable("LMX207_PG_SH");
    if (dir.isEmpty()) {
        std::fprintf(stderr, "no server: run tests/pg/run-pg-tests.sh %s\n", argv[0]);
        return 1;
    }
    TestEnv env;
    const QString laptop = env.root() + "/laptop/logbook.sqlite";
    QElapsedTimer t;
    t.start();
    QString error;
    if (!MakeSampleArchive(laptop, kUnits, kEventsPerUnit, &error)) {
        std::fprintf(stderr, "sample archive: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("laptop archive of %d events of %d units made in %.1f s\n", kUnits * kEventsPerUnit, kUnits,
                Ms(t) / 1000);
    if (QProcess::execute("bash", {script, "psql", dir, "postgres", "-c",
                                   "CREATE DATABASE bench OWNER lmx207_writer"}) != 0)
        return 1;
    const QString conninfo = QStringLiteral("host=%1 dbname=bench user=lmx207_writer").arg(dir);
    std::FILE* sink = std::tmpfile();
    if (RunLogbookCommand({"server", "init", "--server", conninfo}, sink, stderr) != 0)
        return 1;
    std::fclose(sink);

    t.restart();
    if (Sync(laptop, conninfo) != 0)
        return 1;
    std::printf("first sync of %d events to an empty server: %.1f s (target 60 s)\n", kUnits * kEventsPerUnit,
                Ms(t) / 1000);

    // One new visit: a configuration read and a 250-record read of a known unit.
    {
        Archive a;
        if (!a.Open(laptop, Archive::Mode::ReadWrite))
            return 1;
        VisitRecorder v(a, VisitInfo{});
        QByteArray records;
        const QDateTime start(QDate(2027, 1, 1), QTime(8, 0));
        for (int i = 0; i < 250; ++i)
            records += SampleEventRecord(start.addSecs(60LL * i), i, SampleEventCode(i));
        if (!v.ConfigAnswer(UnitSide::Local, "/dev/ttyUSB0", PcTimeNow(),
                            SampleConfigAnswer(true, 8, 1007, 3)) ||
            !v.RecordAnswer(UnitSide::Local, "/dev/ttyUSB0", PcTimeNow(), SampleRecordAnswer(true, records)))
            return 1;
    }
    t.restart();
    if (Sync(laptop, conninfo) != 0)
        return 1;
    std::printf("sync carrying one new visit (250 events) beside the million: %.0f ms (target 1000 ms)\n",
                Ms(t));
    t.restart();
    if (Sync(laptop, conninfo) != 0)
        return 1;
    std::printf("sync with nothing new: %.0f ms\n", Ms(t));

    Archive server;
    if (!server.Open(ServerLocation(conninfo), Archive::Mode::ReadOnly)) {
        std::fprintf(stderr, "%s\n", qPrintable(server.LastError()));
        return 1;
    }
    struct Case {
        const char* name;
        EventFilter filter;
        EventSort sort;
        Qt::SortOrder order;
    };
    EventFilter remote;
    remote.side = UnitSide::Remote;
    EventFilter command;
    command.command = 5;
    EventFilter alarms;
    alarms.kinds = KindAlarm | KindFibreA | KindFibreB;
    EventFilter month;
    month.from = QDate(2026, 6, 1);
    month.to = QDate(2026, 6, 30);
    EventFilter text;
    text.text = QStringLiteral("interrupt");
    EventFilter unit;
    unit.unitId = 250;
    const QList<Case> cases{
        {"all, newest first", {}, EventSort::FirstSeen, Qt::DescendingOrder},
        {"all, by unit time", {}, EventSort::UnitTime, Qt::DescendingOrder},
        {"all, by code", {}, EventSort::Code, Qt::AscendingOrder},
        {"all, by unit", {}, EventSort::Unit, Qt::AscendingOrder},
        {"remote side (none)", remote, EventSort::FirstSeen, Qt::DescendingOrder},
        {"command 5", command, EventSort::UnitTime, Qt::DescendingOrder},
        {"alarms and interruptions", alarms, EventSort::FirstSeen, Qt::DescendingOrder},
        {"one month", month, EventSort::UnitTime, Qt::AscendingOrder},
        {"text \"interrupt\"", text, EventSort::Visit, Qt::DescendingOrder},
        {"one unit", unit, EventSort::UnitTime, Qt::DescendingOrder},
    };
    std::printf("first page (100 rows) over the million on the server (target 200 ms):\n");
    for (const Case& c : cases) {
        std::vector<double> samples;
        for (int i = 0; i < 3; ++i) {
            t.restart();
            const QList<EventRow> rows = server.EventPage(c.filter, c.sort, c.order, 0, 100);
            samples.push_back(Ms(t));
            if (!server.LastError().isEmpty())
                std::fprintf(stderr, "%s\n", qPrintable(server.LastError()));
        }
        const double first = samples[0];
        std::sort(samples.begin(), samples.end());
        std::printf("  %-28s %7.1f ms (median of 3; first %.1f ms)\n", c.name, samples[1], first);
    }
    return 0;
}
