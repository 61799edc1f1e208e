// Prints what the logbook costs on an archive of 1,000,000 events of 500 units, generated in a
// temporary folder: the dialog's hand-over of a 254-record read and the archive's work on it, the
// import rate beside SQLite's own insert rate into the same schema, each filter and sort's first
// page beside the same SQL through the sqlite3 program on the same file, a filter that matches
// nothing as the window runs it, and the CSV export of the million beside `sqlite3 -csv` on the
// same rows. The three goals are printed as ratios at the end. Asserts nothing.
#include "archive/Archive.h"
#include "archive/ArchiveFormat.h"
#include "archive/HandOver.h"
#include "archive/Import.h"
#include "archive/VisitRecorder.h"
#include "bench/BenchSupport.h"
#include "logbook/LogbookCli.h"
#include "records/RecordFormat.h"
#include "sim/SimUnit.h"
#include "support/TestEnv.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <array>
#include <cstdio>
#include <ctime>

#include <sys/resource.h>

namespace {

constexpr int kUnits = 500;
constexpr int kEventsPerUnit = 2000;

double Ms(const QElapsedTimer& t) {
    return t.nsecsElapsed() / 1e6;
}

// A log of n records, newest first, ending `back` records before the unit's newest.
QByteArray LogAnswer(int unit, int first, int n, quint8 answerByte) {
    QByteArray a;
    a.append(char(answerByte));
    a.append(char(n));
    const QDateTime newest(QDate(2026, 11, 30), QTime(23, 0, 0), Qt::UTC);
    for (int k = 0; k < n; ++k) {
        // Events about 20 minutes apart per unit, the units' clocks a few seconds apart.
        const QDateTime at = newest.addMSecs(-qint64(first + k) * 1'234'567 - unit * 3'917);
        const QDate d = at.date();
        const QTime t = at.time();
        // Every code but fibre B's two (a healthy fibre B): the filter on them matches nothing.
        int code = (unit * 7 + first + k) % 42;
        if (code == 37 || code == 38)
            code -= 4;
        const quint8 rec[8] = {toBcd(d.year() % 100),
                               toBcd(d.day()),
                               toBcd(t.hour()),
                               toBcd(t.minute()),
                               toBcd(t.second()),
                               quint8(d.month() << 4 | t.msec() / 100),
                               quint8(code < 39 ? code : 39 + code),
                               toBcd(t.msec() % 100)};
        a.append(reinterpret_cast<const char*>(rec), 8);
    }
    return a;
}

QByteArray ConfigAnswerOf(int address) {
    SimUnit u;
    u.address = address;
    u.setExampleSettings();
    return u.configAnswer(0x76);
}

// The statement with its values written in, for the sqlite3 program.
QString Inline(QString sql, const QList<QVariant>& values) {
    for (const QVariant& v : values) {
        const qsizetype at = sql.indexOf('?');
        if (at < 0)
            break;
        sql.replace(at, 1, v.toString());
    }
    return sql;
}

// The sqlite3 program's plan for `sql`, on one line.
QString SqliteCliPlan(const QString& file, const QString& sql) {
    QProcess p;
    p.start(QStringLiteral("sqlite3"), {QStringLiteral("-batch"), file, "EXPLAIN QUERY PLAN " + sql});
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput()).simplified();
}

// The best of three runs of `sql` in the sqlite3 program, in milliseconds; -1 when it cannot run.
double SqliteCliMs(const QString& file, const QString& sql) {
    QProcess p;
    p.start(QStringLiteral("sqlite3"), {QStringLiteral("-batch"), file});
    if (!p.waitForStarted(5000))
        return -1;
    const QByteArray s =
        (".timer on\n.output /dev/null\n" + sql + ";\n" + sql + ";\n" + sql + ";\n").toUtf8();
    p.write(s);
    p.closeWriteChannel();
    p.waitForFinished(60000);
    const QString out = QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
    double best = -1;
    static const QRegularExpression re(QStringLiteral("Run Time: real ([0-9.]+)"));
    for (auto it = re.globalMatch(out); it.hasNext();) {
        const double ms = it.next().captured(1).toDouble() * 1000;
        if (best < 0 || ms < best)
            best = ms;
    }
    return best;
}

// The CPU time this thread has used, in seconds: on a busy machine the import's wall time is
// mostly the other programs' turns.
double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// The CPU time of the child processes waited for so far, in seconds: the sqlite3 program's share.
double ChildrenCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The machine's load average over the last minute, as /proc/loadavg says it.
QString LoadAverage() {
    QFile f(QStringLiteral("/proc/loadavg"));
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("unknown");
    return QString::fromLatin1(f.readLine()).section(' ', 0, 0);
}

struct Query {
    const char* name;
    EventFilter filter;
    EventSort sort;
    Qt::SortOrder order;
};

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    TestEnv env;
    const QString path = DefaultArchivePath();
    std::printf("bench_logbook: archive %s\n", qPrintable(path));

    Archive archive;
    if (!archive.Open(path, Archive::Mode::ReadWrite)) {
        std::printf("cannot open: %s\n", qPrintable(archive.LastError()));
        return 1;
    }
    // The million: each unit's configuration read, then its log in reads of up to 250 records.
    {
        QElapsedTimer t;
        t.start();
        for (int u = 0; u < kUnits; ++u) {
            VisitRecorder v(archive, {});
            const UnitSide side = u % 2 ? UnitSide::Remote : UnitSide::Local;
            v.ConfigAnswer(side, QStringLiteral("/dev/ttyUSB0"), PcTimeNow(), ConfigAnswerOf(u + 1));
            for (int first = 0; first < kEventsPerUnit; first += 250)
                if (!v.RecordAnswer(side, QStringLiteral("/dev/ttyUSB0"), PcTimeNow(),
                                    LogAnswer(u, first, 250, side == UnitSide::Local ? 0x78 : 0x87))) {
                    std::printf("generation failed: %s\n", qPrintable(v.LastError()));
                    return 1;
                }
        }
        const double s = Ms(t) / 1000;
        const qint64 n = archive.EventCount({});
        std::printf("generated %lld events of %d units through the visit recorder in %.1f s (%.0f events/s), "
                    "file %.0f MB\n",
                    n, kUnits, s, n / s, QFileInfo(path).size() / 1e6);
    }

    // A 254-record read: the dialog's hand-over call, and the archive's work on it.
    {
        std::vector<double> call;
        std::vector<double> keep;
        VisitRecorder v(archive, {});
        v.ConfigAnswer(UnitSide::Local, QStringLiteral("/dev/ttyUSB0"), PcTimeNow(), ConfigAnswerOf(60000));
        for (int i = 0; i < 15; ++i) {
            const QByteArray answer = LogAnswer(kUnits + 1, i * 254, 254, 0x78);
            QElapsedTimer t;
            t.start();
            ArchiveRecordAnswer(true, 1, reinterpret_cast<const unsigned char*>(answer.constData()),
                                int(answer.size()));
            call.push_back(Ms(t));
            ArchiveHandOverFlush(10000);
            const QByteArray other = LogAnswer(kUnits + 2, i * 254, 254, 0x78);
            t.restart();
            v.RecordAnswer(UnitSide::Local, QStringLiteral("/dev/ttyUSB0"), PcTimeNow(), other);
            keep.push_back(Ms(t));
        }
        std::printf(
            "254-record read: the dialog's hand-over call median %.3f ms (max %.3f); the archive thread "
            "keeps it in median %.1f ms (max %.1f), off the dialog's thread\n",
            Median(call), *std::max_element(call.begin(), call.end()), Median(keep),
            *std::max_element(keep.begin(), keep.end()));
    }

    // Import: 400 record files of new units, 250 records each, beside SQLite's own insert rate into
    // the same schema: the same rows by one prepared INSERT each, in one transaction.
    double importRatio = 0;
    {
        QDir().mkpath(env.root() + "/import");
        for (int f = 0; f < 400; ++f) {
            const QString folder = env.root() + QStringLiteral("/import/unit%1").arg(f);
            QDir().mkpath(folder);
            const QByteArray answer = LogAnswer(1000 + f, 0, 250, 0x78);
            const auto* b = reinterpret_cast<const unsigned char*>(answer.constData());
            QFile file(folder + "/LocalRecord.txt");
            if (file.open(QIODevice::WriteOnly))
                file.write(RecordFileContent(250, DecodeRecordAnswer(b, int(answer.size()), false), false));
        }
        // Into an archive of its own (an old laptop's folder, the first time), then into the million.
        Archive fresh;
        fresh.Open(env.root() + "/fresh.sqlite", Archive::Mode::ReadWrite);
        for (Archive* into : {&fresh, &archive}) {
            ImportReport report;
            QElapsedTimer t;
            t.start();
            const double cpuBefore = ThreadCpuSeconds();
            ImportRecordPaths(*into, {env.root() + "/import"}, {}, &report);
            const double s = Ms(t) / 1000;
            const double cpu = ThreadCpuSeconds() - cpuBefore;
            // The same rows again under other unit numbers, as plainly as SQLite takes them; rolled
            // back after, so the million stays the million.
            QList<std::array<qint64, 8>> rows;
            {
                QSqlQuery q(into->Database());
                q.setForwardOnly(true);
                q.exec(
                    QStringLiteral("SELECT e.unit_id, e.side, e.unit_time, e.code, e.first_seen_utc, "
                                   "e.first_seen_offset, e.visit_id, e.read_id FROM events e JOIN units u ON "
                                   "u.id = e.unit_id WHERE u.name LIKE 'unit%'"));
                while (q.next())
                    rows.append({q.value(0).toLongLong() + 10'000'000, q.value(1).toLongLong(),
                                 q.value(2).toLongLong(), q.value(3).toLongLong(), q.value(4).toLongLong(),
                                 q.value(5).toLongLong(), q.value(6).toLongLong(), q.value(7).toLongLong()});
            }
            QSqlDatabase& db = into->Database();
            t.restart();
            const double plainCpuBefore = ThreadCpuSeconds();
            db.transaction();
            QSqlQuery insert(db);
            insert.prepare(
                QStringLiteral("INSERT INTO events (unit_id, side, unit_time, code, first_seen_utc, "
                               "first_seen_offset, visit_id, read_id) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"));
            for (const auto& row : rows) {
                for (int i = 0; i < 8; ++i)
                    insert.bindValue(i, row[i]);
                insert.exec();
            }
            const double plainCpu = ThreadCpuSeconds() - plainCpuBefore;
            const double plain = Ms(t) / 1000;
            db.rollback();
            const double ratio = s / plain;
            std::printf(
                "import into %s: %d files, %lld events (%lld new) in %.2f s: %.0f events/s (%.2f s of "
                "CPU: %.0f events per CPU second; load average %s)\n"
                "    SQLite's own insert of the same %lld rows (prepared INSERT, one transaction): %.2f s, "
                "%.2f s of CPU: %.0f rows per CPU second; import/SQLite %.2f (CPU %.2f)\n",
                into == &fresh ? "a new archive" : "the million", report.filesImported, report.events,
                report.newEvents, s, report.newEvents / s, cpu, report.newEvents / cpu,
                qPrintable(LoadAverage()), qint64(rows.size()), plain, plainCpu, rows.size() / plainCpu,
                ratio, cpu / plainCpu);
            importRatio = qMax(importRatio, ratio);
        }
    }
    archive.Close();

    // First pages, beside the sqlite3 program on the same file.
    Archive reader;
    reader.Open(path, Archive::Mode::ReadOnly);
    const QList<UnitRow> units = reader.Units();
    const qint64 someUnit = units[units.size() / 3].id;
    QList<Query> queries;
    const char* sortNames[] = {"unit", "side", "unit time", "code", "first seen", "visit"};
    for (EventSort sort : {EventSort::Unit, EventSort::Side, EventSort::UnitTime, EventSort::Code,
                           EventSort::FirstSeen, EventSort::Visit})
        for (Qt::SortOrder order : {Qt::AscendingOrder, Qt::DescendingOrder})
            queries.append({sortNames[int(sort)], {}, sort, order});
    auto add = [&](const char* name, auto setUp, EventSort sort) {
        EventFilter f;
        setUp(f);
        queries.append({name, f, sort, Qt::DescendingOrder});
    };
    add(
        "one unit", [&](EventFilter& f) { f.unitId = someUnit; }, EventSort::UnitTime);
    add(
        "one unit by code", [&](EventFilter& f) { f.unitId = someUnit; }, EventSort::Code);
    add(
        "remote side", [](EventFilter& f) { f.side = UnitSide::Remote; }, EventSort::UnitTime);
    add(
        "command 3", [](EventFilter& f) { f.command = 3; }, EventSort::UnitTime);
    add(
        "alarms", [](EventFilter& f) { f.kinds = KindAlarm; }, EventSort::UnitTime);
    add(
        "fibre A and B", [](EventFilter& f) { f.kinds = KindFibreA | KindFibreB; }, EventSort::Unit);
    add(
        "invalid", [](EventFilter& f) { f.kinds = KindInvalid; }, EventSort::FirstSeen);
    add(
        "text \"fiber b\"", [](EventFilter& f) { f.text = QStringLiteral("fiber b"); }, EventSort::UnitTime);
    add(
        "text 返回", [](EventFilter& f) { f.text = QString::fromUtf8("返回"); }, EventSort::Code);
    add(
        "a week",
        [](EventFilter& f) {
            f.from = QDate(2026, 11, 10);
            f.to = QDate(2026, 11, 16);
        },
        EventSort::UnitTime);
    add(
        "unit, alarms, a year",
        [&](EventFilter& f) {
            f.unitId = someUnit;
            f.kinds = KindAlarm;
            f.from = QDate(2026, 1, 1);
            f.to = QDate(2026, 12, 31);
        },
        EventSort::UnitTime);
    add(
        "send, remote, by side",
        [](EventFilter& f) {
            f.kinds = KindSend;
            f.side = UnitSide::Remote;
        },
        EventSort::Side);
    std::printf("%-24s %-5s %10s %10s %7s %10s %12s\n", "first page of 100", "order", "ours ms", "sqlite3 ms",
                "ratio", "count ms", "counters ms");
    for (const Query& q : queries) {
        std::vector<double> ours;
        for (int i = 0; i < 5; ++i) {
            QElapsedTimer t;
            t.start();
            reader.EventPage(q.filter, q.sort, q.order, 0, 100);
            ours.push_back(Ms(t));
        }
        QList<QVariant> values;
        const QString sql = Inline(reader.EventPageSql(q.filter, q.sort, q.order, 0, 100, &values), values);
        const double cli = SqliteCliMs(path, sql);
        QElapsedTimer t;
        t.start();
        reader.EventCount(q.filter);
        const double countMs = Ms(t);
        t.restart();
        reader.EventCounters(q.filter);
        const double countersMs = Ms(t);
        // sqlite3 times to the millisecond: below one, its figure says only "under 1 ms".
        const QString cliText = cli < 0   ? QStringLiteral("-")
                                : cli < 1 ? QStringLiteral("<1")
                                          : QString::number(cli, 'f', 0);
        const QString ratio = cli >= 1 ? QString::number(Median(ours) / cli, 'f', 2) : QStringLiteral("-");
        std::printf("%-24s %-5s %10.2f %10s %7s %10.1f %12.1f\n", q.name,
                    q.order == Qt::AscendingOrder ? "asc" : "desc", Median(ours), qPrintable(cliText),
                    qPrintable(ratio), countMs, countersMs);
        if (cli >= 10 || Median(ours) >= 10)
            std::printf("    plan in sqlite3: %s\n", qPrintable(SqliteCliPlan(path, sql)));
    }

    // A filter that matches nothing, as the Events tab runs it: the first page in its sort, the
    // count and the counters. No unit had a fibre B interruption.
    double nothingMs = 0;
    {
        struct Nothing {
            const char* name;
            EventFilter filter;
            EventSort sort;
            Qt::SortOrder order;
        };
        QList<Nothing> nothing;
        EventFilter f;
        f.kinds = KindFibreB;
        nothing.append({"fibre B", f, EventSort::UnitTime, Qt::DescendingOrder});
        nothing.append({"fibre B", f, EventSort::Unit, Qt::AscendingOrder});
        nothing.append({"fibre B", f, EventSort::FirstSeen, Qt::DescendingOrder});
        f.side = UnitSide::Remote;
        nothing.append({"fibre B, remote", f, EventSort::UnitTime, Qt::DescendingOrder});
        f.side.reset();
        f.unitId = someUnit;
        nothing.append({"fibre B, one unit", f, EventSort::UnitTime, Qt::DescendingOrder});
        EventFilter later;
        later.from = QDate(2030, 1, 1);
        later.command = 3;
        nothing.append({"command 3 from 2030", later, EventSort::UnitTime, Qt::DescendingOrder});
        std::printf("%-24s %-10s %9s %9s %11s %9s\n", "filter matching nothing", "sort", "page ms",
                    "count ms", "counters ms", "total ms");
        for (const Nothing& n : nothing) {
            std::vector<double> page, count, counters, total;
            for (int i = 0; i < 5; ++i) {
                QElapsedTimer t;
                t.start();
                const bool empty = reader.EventPage(n.filter, n.sort, n.order, 0, 128).isEmpty();
                page.push_back(Ms(t));
                t.restart();
                const bool none = reader.EventCount(n.filter) == 0;
                count.push_back(Ms(t));
                t.restart();
                reader.EventCounters(n.filter);
                counters.push_back(Ms(t));
                total.push_back(page.back() + count.back() + counters.back());
                if (!empty || !none)
                    std::printf("    (it matches something)\n");
            }
            std::printf("%-24s %-10s %9.2f %9.2f %11.2f %9.2f\n", n.name,
                        qPrintable(QString::fromLatin1(sortNames[int(n.sort)]) +
                                   (n.order == Qt::AscendingOrder ? " asc" : " desc")),
                        Median(page), Median(count), Median(counters), Median(total));
            nothingMs = qMax(nothingMs, Median(total));
        }
    }
    reader.Close();

    // The CSV export of the million (and the import's), through the command line's code, beside
    // the sqlite3 program writing the same rows in the same order as CSV.
    double exportRatio = 0;
    {
        std::FILE* out = std::fopen("/dev/null", "w");
        std::FILE* err = std::tmpfile();
        QElapsedTimer t;
        t.start();
        const double cpuBefore = ThreadCpuSeconds();
        const int status = RunLogbookCommand({QStringLiteral("export")}, out, err);
        const double oursCpu = ThreadCpuSeconds() - cpuBefore;
        const double ours = Ms(t) / 1000;
        std::fclose(out);
        std::fclose(err);
        const QString sql =
            QStringLiteral("SELECT CASE WHEN u.name <> '' THEN u.name WHEN u.address IS NOT NULL THEN "
                           "'Address ' || u.address "
                           "ELSE 'Unit #' || u.id END, CASE e.side WHEN 0 THEN 'local' ELSE 'remote' END, "
                           "e.unit_time, e.code, "
                           "e.first_seen_utc, e.first_seen_offset, v.uuid FROM events e JOIN units u ON u.id "
                           "= e.unit_id JOIN "
                           "visits v ON v.id = e.visit_id ORDER BY e.unit_id, e.unit_time, e.code, e.id");
        QProcess p;
        p.setStandardOutputFile(QProcess::nullDevice());
        t.restart();
        const double childrenBefore = ChildrenCpuSeconds();
        p.start(QStringLiteral("sqlite3"), {QStringLiteral("-csv"), QStringLiteral("-readonly"), path, sql});
        p.waitForFinished(600000);
        const double cli = Ms(t) / 1000;
        const double cliCpu = ChildrenCpuSeconds() - childrenBefore;
        exportRatio = ours / cli;
        std::printf("CSV export of all events: %.2f s, %.2f s of CPU (status %d; load average %s); sqlite3 "
                    "-csv of the "
                    "same rows %.2f s, %.2f s of CPU (exit %d): ratio %.2f (CPU %.2f)\n",
                    ours, oursCpu, status, qPrintable(LoadAverage()), cli, cliCpu, p.exitCode(), exportRatio,
                    oursCpu / cliCpu);
    }

    std::printf("goals (each holds at a ratio of 1 or less):\n"
                "  filter matching nothing, worst of the above %.1f ms / 100 ms: %.2f\n"
                "  export / sqlite3 -csv %.2f / 1.5: %.2f\n"
                "  import / SQLite's own insert (wall time, worse of the two archives) %.2f / 2: %.2f\n",
                nothingMs, nothingMs / 100, exportRatio, exportRatio / 1.5, importRatio, importRatio / 2);
    return 0;
}
