// The team's archive on a real PostgreSQL server (run-pg-tests.sh starts one and names it in
// LMX207_PG_DIR): two laptops with overlapping reads of one link, a visit that grows after its
// push, a server killed in the middle of a push, a role that may only read, and the archive's
// queries giving the same answers on the laptop's SQLite file and on the server; the server as
// untrusted input (rows no laptop can have written, facts added to another laptop's visit), the
// laptops' role refused what it must not do, and libpq's ways of giving a password.

#include "archive/Archive.h"
#include "archive/ArchiveFormat.h"
#include "archive/ServerArchive.h"
#include "archive/Sync.h"
#include "archive/VisitRecorder.h"
#include "logbook/EventsPage.h"
#include "logbook/LogbookTables.h"
#include "logbook/LogbookWindow.h"
#include "logbook/PagedTableModel.h"
#include "support/LogbookRun.h"
#include "support/LogbookSample.h"
#include "support/Suite.h"

#include <QCryptographicHash>
#include <QSqlQuery>

#include <csignal>

namespace {

constexpr int kWaitMs = 120000;

QByteArray Sha(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

PcTime At(qint64 seconds) {
    return {1'800'000'000'000 + seconds * 1000, 3600};
}

// `count` events of one unit log from event `first` on, one a minute.
QByteArray Records(int first, int count) {
    QByteArray bytes;
    const QDateTime start(QDate(2026, 3, 1), QTime(8, 0));
    for (int i = first; i < first + count; ++i)
        bytes += SampleEventRecord(start.addSecs(60LL * i), i % 1000, SampleEventCode(i));
    return bytes;
}

// A visit of the service program at the link of units 12 (local) and 13 (remote): both
// configurations, then the local log's events [first, first + count) and the remote's.
bool VisitLink(const QString& path, int first, int count, qint64 when, QString* visitUuid) {
    Archive a;
    if (!a.Open(path, Archive::Mode::ReadWrite))
        return false;
    VisitRecorder v(a, VisitInfo{});
    bool ok =
        v.ConfigAnswer(UnitSide::Local, "/dev/ttyUSB0", At(when), SampleConfigAnswer(true, 8, 12, 1)) &&
        v.ConfigAnswer(UnitSide::Remote, "/dev/ttyUSB0", At(when + 1), SampleConfigAnswer(false, 8, 13, 2));
    for (int at = first; ok && at < first + count; at += 250)
        ok = v.RecordAnswer(UnitSide::Local, "/dev/ttyUSB0", At(when + 2 + at),
                            SampleRecordAnswer(true, Records(at, qMin(250, first + count - at))));
    ok = ok && v.RecordAnswer(UnitSide::Remote, "/dev/ttyUSB0", At(when + 5000),
                              SampleRecordAnswer(false, Records(first + 7, 20)));
    *visitUuid = v.VisitUuid();
    return ok;
}

// An import of the log of a unit the user called "Substation North" (no address known): its
// events [first, first + count).
bool ImportNamed(const QString& path, int first, int count) {
    Archive a;
    if (!a.Open(path, Archive::Mode::ReadWrite))
        return false;
    VisitInfo info;
    info.program = QStringLiteral("import");
    VisitRecorder v(a, info);
    const std::optional<qint64> unit =
        v.UnitNamed(QStringLiteral("Substation North"), UnitSide::Local, At(0));
    if (!unit)
        return false;
    const QByteArray records = Records(first, count);
    QList<QPair<qint64, int>> events;
    for (int i = 0; i < count; ++i)
        events << QPair<qint64, int>{
            UnitTimeKey(reinterpret_cast<const unsigned char*>(records.constData()) + 8 * i),
            SampleEventCode(first + i)};
    int added = 0;
    bool unchanged = false;
    return v.ImportedFile(*unit, UnitSide::Local, path + ".txt", At(first), records, events, &added,
                          &unchanged);
}

qint64 Scalar(Archive& a, const QString& sql) {
    QSqlQuery q(a.Database());
    return q.exec(sql) && q.next() ? q.value(0).toLongLong() : -1;
}

} // namespace

class TestServerArchive : public QObject {
    Q_OBJECT

    std::unique_ptr<TestEnv> m_env;
    const QString m_dir = qEnvironmentVariable("LMX207_PG_DIR");
    const QString m_script = qEnvironmentVariable("LMX207_PG_SH");
    int m_databases = 0;
    QString m_database; // the last one NewServer made

    bool Server(const QStringList& args) {
        return QProcess::execute(QStringLiteral("bash"), QStringList{m_script} + args) == 0;
    }
    bool Psql(const QString& db, const QString& sql) {
        return Server({QStringLiteral("psql"), m_dir, db, QStringLiteral("-c"), sql});
    }
    // `sql` on the last server as `role`.
    bool PsqlAs(const QString& role, const QString& sql) {
        return Server({QStringLiteral("psql"), m_dir, m_database, QStringLiteral("-U"), role,
                       QStringLiteral("-c"), sql});
    }
    // A fresh database owned by the owner's role, its archive set up by `server init` and its
    // roles granted by the set-up's script; the laptops' connection string.
    QString NewServer() {
        m_database = QStringLiteral("case%1").arg(++m_databases);
        if (!Psql(QStringLiteral("postgres"),
                  QStringLiteral("CREATE DATABASE %1 OWNER lmx207_owner").arg(m_database)))
            return {};
        const CliRun init =
            RunCli({"server", "init", "--server",
                    QStringLiteral("host=%1 dbname=%2 user=lmx207_owner").arg(m_dir, m_database)});
        if (init.status != 0) {
            qWarning() << init.err;
            return {};
        }
        QProcess grants;
        grants.setStandardInputFile(qEnvironmentVariable("LMX207_PG_GRANTS"));
        grants.start(QStringLiteral("bash"), {m_script, "psql", m_dir, m_database, "-U", "lmx207_owner"});
        if (!grants.waitForFinished(kWaitMs) || grants.exitCode() != 0) {
            qWarning() << grants.readAllStandardError();
            return {};
        }
        return QStringLiteral("host=%1 dbname=%2 user=lmx207_writer").arg(m_dir, m_database);
    }
    // The logbook's command line as a process of its own, with `env` added to its environment.
    CliRun RunLogbook(const QStringList& args, const QStringList& env = {}) {
        QProcess p;
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        for (const QString& pair : env)
            e.insert(pair.section('=', 0, 0), pair.section('=', 1));
        p.setProcessEnvironment(e);
        p.start(QStringLiteral(LMX207_LOGBOOK_BINARY), args);
        CliRun r;
        if (!p.waitForFinished(kWaitMs))
            return r;
        r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = p.readAllStandardOutput();
        r.err = p.readAllStandardError();
        return r;
    }
    QString Laptop(const QString& name) { return m_env->root() + '/' + name + "/lmx207/logbook.sqlite"; }

private slots:
    void initTestCase() {
        if (m_dir.isEmpty() || m_script.isEmpty())
            QSKIP("no server: run tests/pg/run-pg-tests.sh");
    }
    void init() { m_env = std::make_unique<TestEnv>(); }

    // Laptop A reads the link, then laptop B reads it again after the log grew: the events both
    // read are one event each on every side, each laptop holds the other's visit, and the units
    // meet by their addresses.
    void twoLaptopsShareOneLink() {
        const QString server = NewServer();
        QVERIFY(!server.isEmpty());
        QString visitA, visitB;
        QVERIFY(VisitLink(Laptop("a"), 0, 600, 0, &visitA));
        QVERIFY(VisitLink(Laptop("b"), 400, 500, 86400, &visitB));
        QVERIFY(ImportNamed(Laptop("a"), 0, 30));
        QVERIFY(ImportNamed(Laptop("b"), 20, 30));
        for (const char* laptop : {"a", "b", "a"}) {
            const CliRun r = RunCli({"sync", "--archive", Laptop(laptop), "--server", server});
            QVERIFY2(r.status == 0, r.err.constData());
        }
        Archive onServer;
        QVERIFY(onServer.Open(ServerLocation(server), Archive::Mode::ReadOnly));
        for (const QString& location : {Laptop("a"), Laptop("b"), ServerLocation(server)}) {
            Archive a;
            QVERIFY2(a.Open(location, Archive::Mode::ReadOnly), qPrintable(a.LastError()));
            QCOMPARE(Scalar(a, "SELECT COUNT(*) FROM visits"), 4);
            QCOMPARE(Scalar(a, "SELECT COUNT(*) FROM units"), 3);
            QCOMPARE(Scalar(a, "SELECT event_count FROM units WHERE name = 'Substation North'"), 50);
            QCOMPARE(
                Scalar(a,
                       "SELECT COUNT(*) FROM events e JOIN units u ON u.id = e.unit_id AND u.address = 12"),
                900);
            QCOMPARE(
                Scalar(a,
                       "SELECT COUNT(*) FROM events e JOIN units u ON u.id = e.unit_id AND u.address = 13"),
                20 + 20 - 0);
            QCOMPARE(Scalar(a, "SELECT SUM(event_count) FROM units"), 990);
            QCOMPARE(Scalar(a, "SELECT COUNT(*) FROM reads"), 4 + 3 + 2);
            QCOMPARE(Scalar(a, "SELECT COUNT(*) FROM config_snapshots"), 4);
            QCOMPARE(Scalar(a, QStringLiteral("SELECT COUNT(*) FROM visits WHERE uuid IN ('%1', '%2')")
                                   .arg(visitA, visitB)),
                     2);
        }
        // A sync with nothing new copies nothing.
        const CliRun again = RunCli({"sync", "--archive", Laptop("b"), "--server", server});
        QCOMPARE(again.status, 0);
        QVERIFY2(again.out.contains("pulled 0 visit(s), 0 new event(s); pushed 0 visit(s), 0 new event(s)"),
                 again.out.constData());
    }

    // A visit that grows after it was pushed goes up again with only what is new: the server
    // keeps each of its configurations and reads once.
    void visitGrownAfterASyncGoesUpOnce() {
        const QString server = NewServer();
        QVERIFY(!server.isEmpty());
        Archive a;
        QVERIFY(a.Open(Laptop("a"), Archive::Mode::ReadWrite));
        VisitRecorder v(a, VisitInfo{});
        QVERIFY(v.ConfigAnswer(UnitSide::Local, "/dev/ttyUSB0", At(0), SampleConfigAnswer(true, 8, 12, 1)));
        QCOMPARE(RunCli({"sync", "--archive", Laptop("a"), "--server", server}).status, 0);
        QVERIFY(v.RecordAnswer(UnitSide::Local, "/dev/ttyUSB0", At(10),
                               SampleRecordAnswer(true, Records(0, 20))));
        const CliRun again = RunCli({"sync", "--archive", Laptop("a"), "--server", server});
        QVERIFY2(again.status == 0 && again.out.contains("pushed 1 visit(s)"), again.out.constData());
        Archive onServer;
        QVERIFY(onServer.Open(ServerLocation(server), Archive::Mode::ReadOnly));
        QCOMPARE(Scalar(onServer, "SELECT COUNT(*) FROM config_snapshots"), 1);
        QCOMPARE(Scalar(onServer, "SELECT COUNT(*) FROM reads"), 1);
    }

    // A push of 100,000 events is cut while under way: the server dies (SIGKILL), and the sync
    // stops with exit status 2; or the user presses Ctrl-C (SIGINT). The next sync, with the server
    // back, completes it: the same events on both sides, none lost and none twice.
    void syncCutInTheMiddleOfAPush_data() {
        QTest::addColumn<bool>("killServer");
        QTest::newRow("server killed") << true;
        QTest::newRow("Ctrl-C") << false;
    }
    void syncCutInTheMiddleOfAPush() {
        QFETCH(bool, killServer);
        const QString server = NewServer();
        QVERIFY(!server.isEmpty());
        QString error;
        QVERIFY2(MakeSampleArchive(Laptop("a"), 50, 2000, &error), qPrintable(error));
        QProcess sync;
        sync.setProcessChannelMode(QProcess::MergedChannels);
        sync.start(QStringLiteral(LMX207_LOGBOOK_BINARY),
                   {"sync", "--archive", Laptop("a"), "--server", server});
        QVERIFY(sync.waitForStarted());
        // Killed once some visits went in and others are on their way.
        QElapsedTimer t;
        t.start();
        Archive watch;
        QVERIFY(watch.Open(ServerLocation(server), Archive::Mode::ReadOnly));
        while (Scalar(watch, "SELECT COUNT(*) FROM visits") < 10 && t.elapsed() < kWaitMs)
            QThread::msleep(20);
        watch.Close();
        if (killServer) {
            QVERIFY(Server({"kill", m_dir}));
            QVERIFY(sync.waitForFinished(kWaitMs));
            QCOMPARE(sync.exitCode(), 2);
            QVERIFY2(sync.readAll().contains("sync stopped"), "the cut sync says it stopped");
            QVERIFY(Server({"restart", m_dir}));
        } else {
            QVERIFY(::kill(pid_t(sync.processId()), SIGINT) == 0);
            QVERIFY(sync.waitForFinished(kWaitMs));
            QCOMPARE(sync.exitStatus(), QProcess::CrashExit);
            Archive cut;
            QVERIFY(cut.Open(ServerLocation(server), Archive::Mode::ReadOnly));
            QVERIFY(Scalar(cut, "SELECT COUNT(*) FROM events") < 100000);
        }
        const CliRun r = RunCli({"sync", "--archive", Laptop("a"), "--server", server});
        QVERIFY2(r.status == 0, r.err.constData());
        QVERIFY(!r.out.contains("pushed 0 visit(s)"));
        const CliRun here = RunCli({"export", "--archive", Laptop("a")});
        const CliRun there = RunCli({"export", "--archive", ServerLocation(server)});
        QCOMPARE(here.status, 0);
        QCOMPARE(there.status, 0);
        QCOMPARE(here.out.count('\n'), 100001);
        QCOMPARE(there.out.count('\n'), here.out.count('\n'));
        QCOMPARE(Sha(there.out), Sha(here.out));
    }

    // A role that may only read pulls, and is told clearly that it may not push (exit status 1);
    // libpq's own ways of naming the server (PG* variables, a service) reach it.
    void readOnlyRolePullsAndIsRefusedPush() {
        const QString server = NewServer();
        QVERIFY(!server.isEmpty());
        QString visit;
        QVERIFY(VisitLink(Laptop("a"), 0, 300, 0, &visit));
        QCOMPARE(RunCli({"sync", "--archive", Laptop("a"), "--server", server}).status, 0);
        // The pull names the server through libpq's PG* variables alone, the push through a service.
        const QString database = server.section("dbname=", 1).section(' ', 0, 0);
        qputenv("PGHOST", m_dir.toLocal8Bit());
        qputenv("PGDATABASE", database.toLocal8Bit());
        qputenv("PGUSER", "lmx207_reader");
        const CliRun pull = RunCli({"sync", "--archive", Laptop("office"), "--server", ""});
        qunsetenv("PGHOST");
        qunsetenv("PGDATABASE");
        qunsetenv("PGUSER");
        QVERIFY2(pull.status == 0, pull.err.constData());
        QVERIFY(pull.out.contains("pulled 1 visit(s), 320 new event(s)"));
        QVERIFY(VisitLink(Laptop("office"), 250, 100, 86400, &visit));
        QFile services(m_env->root() + "/pg_service.conf");
        QVERIFY(services.open(QIODevice::WriteOnly));
        services.write(
            QStringLiteral("[team]\nhost=%1\ndbname=%2\nuser=lmx207_reader\n").arg(m_dir, database).toUtf8());
        services.close();
        qputenv("PGSERVICEFILE", services.fileName().toLocal8Bit());
        const CliRun push = RunCli({"sync", "--archive", Laptop("office"), "--server", "service=team"});
        qunsetenv("PGSERVICEFILE");
        QCOMPARE(push.status, 1);
        QVERIFY2(push.err.startsWith("lmx207-logbook: the server refuses writes for this role (user "
                                     "\"lmx207_reader\"): 1 visit(s) stay unpushed"),
                 push.err.constData());
        Archive onServer;
        QVERIFY(onServer.Open(ServerLocation(server), Archive::Mode::ReadOnly));
        QCOMPARE(Scalar(onServer, "SELECT COUNT(*) FROM visits"), 1);
    }

    // The logbook's window over the server shows what it shows over the laptop's file, paged from
    // the server.
    void windowReadsTheServer() {
        const QString server = NewServer();
        QVERIFY(!server.isEmpty());
        QString error;
        QVERIFY2(MakeSampleArchive(Laptop("a"), 10, 1000, &error), qPrintable(error));
        QCOMPARE(RunCli({"sync", "--archive", Laptop("a"), "--server", server}).status, 0);
        CLogbookWindow overFile(Laptop("a"));
        CLogbookWindow overServer(ServerLocation(server + " password=hunter2"));
        QList<QStringList> firstRows;
        for (CLogbookWindow* w : {&overFile, &overServer}) {
            CPagedTableModel* model = w->Events()->Model();
            QVERIFY(QTest::qWaitFor([model] { return model->CountKnown() && model->RowAt(0); }, kWaitMs));
            QCOMPARE(model->rowCount(), 10000);
            QStringList cells;
            for (int c = 0; c < model->columnCount(); ++c)
                cells << model->data(model->index(0, c)).toString();
            firstRows << cells;
        }
        QCOMPARE(firstRows[1], firstRows[0]);
        for (const QLabel* label : overServer.findChildren<QLabel*>())
            QVERIFY(!label->text().contains("hunter2"));
    }

    // The logbook's queries over the tour's archive and a sample of many units give the same rows
    // from the laptop's file and from the server the file was pushed to.
    void queriesAgreeOnBothDrivers_data() {
        QTest::addColumn<int>("sample");
        QTest::newRow("tour") << 0;
        QTest::newRow("sample of 20 units") << 1;
    }
    void queriesAgreeOnBothDrivers() {
        QFETCH(int, sample);
        const QString server = NewServer();
        QVERIFY(!server.isEmpty());
        QString error;
        QVERIFY2(sample == 0 ? MakeTourArchive(Laptop("a"), &error)
                             : MakeSampleArchive(Laptop("a"), 20, 300, &error),
                 qPrintable(error));
        const CliRun sync = RunCli({"sync", "--archive", Laptop("a"), "--server", server});
        QVERIFY2(sync.status == 0, sync.err.constData());
        Archive file, pg;
        QVERIFY(file.Open(Laptop("a"), Archive::Mode::ReadOnly));
        QVERIFY2(pg.Open(ServerLocation(server), Archive::Mode::ReadOnly), qPrintable(pg.LastError()));

        auto units = [](Archive& a) {
            QStringList out;
            for (const UnitRow& u : a.Units())
                out << QStringLiteral("%1|%2|%3|%4|%5")
                           .arg(u.name)
                           .arg(u.address.value_or(-1))
                           .arg(u.side ? int(*u.side) : -1)
                           .arg(u.commandCount.value_or(-1))
                           .arg(u.eventCount);
            return out;
        };
        QCOMPARE(units(pg), units(file));
        auto visits = [](Archive& a) {
            QStringList out;
            for (const VisitRow& v : a.Visits(0, 1000))
                out << QStringLiteral("%1|%2|%3|%4|%5|%6|%7|%8|%9")
                           .arg(v.uuid, v.pcUser, v.port)
                           .arg(v.started.utcMs)
                           .arg(v.recordReads)
                           .arg(v.newEvents)
                           .arg(v.configReads)
                           .arg(v.clockReadings)
                           .arg(v.actions);
            return out;
        };
        QCOMPARE(visits(pg), visits(file));
        QCOMPARE(pg.VisitCount(), file.VisitCount());
        auto rowText = [](const QList<EventRow>& rows) {
            QStringList out;
            for (const EventRow& r : rows)
                out << QStringLiteral("%1|%2|%3|%4|%5|%6")
                           .arg(r.unitLabel)
                           .arg(int(r.side))
                           .arg(r.unitTime)
                           .arg(r.code)
                           .arg(r.firstSeen.utcMs)
                           .arg(r.visitUuid);
            return out;
        };
        // Each filter with each sort both ways: the first page, the page after it by key, a deep page
        // by offset, the count and the counters.
        QList<EventFilter> filters;
        filters << EventFilter{};
        EventFilter side;
        side.side = UnitSide::Remote;
        EventFilter command;
        command.command = 3;
        command.kinds = KindSend | KindReturn;
        EventFilter dates;
        dates.from = QDate(2026, 1, 1);
        dates.to = QDate(2026, 6, 30);
        EventFilter text;
        text.text = QStringLiteral("Fibre");
        filters << side << command << dates << text;
        for (const EventFilter& f : filters) {
            QCOMPARE(pg.EventCount(f), file.EventCount(f));
            const CommandCounters a = pg.EventCounters(f), b = file.EventCounters(f);
            QCOMPARE(a.sent, b.sent);
            QCOMPARE(a.received, b.received);
            QCOMPARE(a.returns, b.returns);
            QCOMPARE(QList<qint64>({a.alarms, a.interruptionsA, a.interruptionsB, a.invalid}),
                     QList<qint64>({b.alarms, b.interruptionsA, b.interruptionsB, b.invalid}));
            for (EventSort sort : {EventSort::Unit, EventSort::Side, EventSort::UnitTime, EventSort::Code,
                                   EventSort::FirstSeen, EventSort::Visit}) {
                for (Qt::SortOrder order : {Qt::AscendingOrder, Qt::DescendingOrder}) {
                    const QList<EventRow> first = file.EventPage(f, sort, order, 0, 50);
                    QCOMPARE(rowText(pg.EventPage(f, sort, order, 0, 50)), rowText(first));
                    QCOMPARE(rowText(pg.EventPage(f, sort, order, 777, 50)),
                             rowText(file.EventPage(f, sort, order, 777, 50)));
                    if (first.isEmpty())
                        continue;
                    // The keyset page starts after the same event on each side (its own row id).
                    const QList<EventRow> pgFirst = pg.EventPage(f, sort, order, 0, 50);
                    QCOMPARE(rowText(pg.EventPageAfter(f, sort, order, pgFirst.last(), 50)),
                             rowText(file.EventPageAfter(f, sort, order, first.last(), 50)));
                }
            }
        }
        // Per unit (matched by label): configuration history, clock readings, actions.
        QHash<QString, qint64> pgUnits;
        for (const UnitRow& u : pg.Units())
            pgUnits.insert(UnitLabel(u), u.id);
        for (const UnitRow& u : file.Units()) {
            const qint64 other = pgUnits.value(UnitLabel(u));
            const QList<ConfigSnapshot> c1 = file.ConfigHistory(u.id), c2 = pg.ConfigHistory(other);
            QCOMPARE(c2.size(), c1.size());
            for (qsizetype i = 0; i < c1.size(); ++i) {
                QCOMPARE(c2[i].bytes, c1[i].bytes);
                QCOMPARE(c2[i].codes, c1[i].codes);
                QCOMPARE(c2[i].time.utcMs, c1[i].time.utcMs);
            }
            const QList<ClockReading> k1 = file.ClockHistory(u.id), k2 = pg.ClockHistory(other);
            QCOMPARE(k2.size(), k1.size());
            for (qsizetype i = 0; i < k1.size(); ++i) {
                QCOMPARE(k2[i].bytes, k1[i].bytes);
                QCOMPARE(k2[i].differenceMs, k1[i].differenceMs);
            }
            EventFilter f1, f2;
            f1.unitId = u.id;
            f2.unitId = other;
            QCOMPARE(rowText(pg.EventPage(f2, EventSort::UnitTime, Qt::DescendingOrder, 0, 50)),
                     rowText(file.EventPage(f1, EventSort::UnitTime, Qt::DescendingOrder, 0, 50)));
            QCOMPARE(pg.EventCount(f2), file.EventCount(f1));
            const QList<ActionRow> a1 = file.Actions(u.id, 0, 100), a2 = pg.Actions(other, 0, 100);
            QCOMPARE(a2.size(), a1.size());
            for (qsizetype i = 0; i < a1.size(); ++i) {
                QCOMPARE(a2[i].kind, a1[i].kind);
                QCOMPARE(a2[i].sent, a1[i].sent);
                QCOMPARE(a2[i].shownBefore, a1[i].shownBefore);
                QCOMPARE(a2[i].applied, a1[i].applied);
            }
        }
        QCOMPARE(pg.Actions(std::nullopt, 0, 100).size(), file.Actions(std::nullopt, 0, 100).size());
    }

    // A row on the server that no laptop can have written (a hostile role, a damaged server) keeps
    // its visit off the laptop, named on standard error; the other visits are pulled, the laptop's
    // own new visit still goes up, and the exit status says a visit was refused.
    void badRowKeepsItsVisitOffTheLaptopAlone_data() {
        QTest::addColumn<QString>("tamper"); // SQL on the server; %1 is the bad visit's id
        QTest::addColumn<QString>("named");
        QTest::newRow("an event of a unit the server does not hold")
            << "UPDATE events SET unit_id = 99999 WHERE id = (SELECT MIN(id) FROM events WHERE visit_id = %1)"
            << "events #%2: it refers to unit #99999, which the server does not hold";
        QTest::newRow("NULL where the schema says NOT NULL")
            << "ALTER TABLE reads ALTER COLUMN port DROP NOT NULL; UPDATE reads SET port = NULL WHERE "
               "visit_id = %1"
            << "reads #%2: port is empty";
        QTest::newRow("an answer of 1 MiB")
            << "UPDATE reads SET answer = answer || decode(repeat('00', 1048576), 'hex') WHERE visit_id = %1"
            << "reads #%2: answer holds 1048816 bytes, more than the 262144 it can hold";
        QTest::newRow("a unit's address beyond 16 bits")
            << "UPDATE units SET address = 70000 WHERE id = (SELECT unit_id FROM reads WHERE visit_id = %1)"
            << "is refused: address = 70000 is outside 0 to 65535";
        QTest::newRow("an event of another visit's read")
            << "UPDATE events SET read_id = (SELECT MIN(id) FROM reads WHERE visit_id <> %1) WHERE id = "
               "(SELECT MIN(id) FROM events WHERE visit_id = %1)"
            << "events #%2: it refers to reads #1, not one of this visit's";
    }
    void badRowKeepsItsVisitOffTheLaptopAlone() {
        QFETCH(QString, tamper);
        QFETCH(QString, named);
        const QString server = NewServer();
        QVERIFY(!server.isEmpty());
        QString visitA, visitB;
        QVERIFY(VisitLink(Laptop("a"), 0, 300, 0, &visitA));
        QCOMPARE(RunCli({"sync", "--archive", Laptop("a"), "--server", server}).status, 0);
        QVERIFY(ImportNamed(Laptop("b"), 0, 30));
        QVERIFY(VisitLink(Laptop("b"), 200, 300, 86400, &visitB));
        QCOMPARE(RunCli({"sync", "--archive", Laptop("b"), "--server", server}).status, 0);
        Archive onServer;
        QVERIFY(onServer.Open(ServerLocation(server), Archive::Mode::ReadOnly));
        const qint64 bad = Scalar(onServer, "SELECT id FROM visits WHERE program = 'import'");
        const qint64 firstOfBad =
            Scalar(onServer, QStringLiteral("SELECT MIN(id) FROM %1 WHERE visit_id = %2")
                                 .arg(named.startsWith("events") ? "events" : "reads")
                                 .arg(bad));
        onServer.Close();
        QVERIFY(Psql(m_database, tamper.arg(bad)));
        QString visitA2;
        QVERIFY(VisitLink(Laptop("a"), 1000, 100, 2 * 86400, &visitA2));

        const CliRun sync = RunCli({"sync", "--archive", Laptop("a"), "--server", server});
        QCOMPARE(sync.status, 1);
        Archive b;
        QVERIFY(b.Open(Laptop("b"), Archive::Mode::ReadOnly));
        const QString importUuid = [&] {
            QSqlQuery q(b.Database());
            return q.exec("SELECT uuid FROM visits WHERE program = 'import'") && q.next()
                       ? q.value(0).toString()
                       : QString();
        }();
        QVERIFY2(sync.err.startsWith(
                     QStringLiteral("lmx207-logbook: visit %1 not pulled: ").arg(importUuid).toUtf8()) &&
                     sync.err.contains((named.contains("%2") ? named.arg(firstOfBad) : named).toUtf8()),
                 sync.err.constData());
        QCOMPARE(sync.err.count('\n'), 1);
        QVERIFY2(sync.out.contains("pulled 1 visit(s)") && sync.out.contains("pushed 1 visit(s)"),
                 sync.out.constData());
        Archive a;
        QVERIFY(a.Open(Laptop("a"), Archive::Mode::ReadOnly));
        QCOMPARE(Scalar(a, QStringLiteral("SELECT COUNT(*) FROM visits WHERE uuid = '%1'").arg(importUuid)),
                 0);
        QCOMPARE(Scalar(a, QStringLiteral("SELECT COUNT(*) FROM visits WHERE uuid = '%1'").arg(visitB)), 1);
        QVERIFY(onServer.Open(ServerLocation(server), Archive::Mode::ReadOnly));
        QCOMPARE(
            Scalar(onServer, QStringLiteral("SELECT COUNT(*) FROM visits WHERE uuid = '%1'").arg(visitA2)),
            1);
    }

    // Another laptop's role adds a fact (a password change) to this laptop's own visit on the
    // server: this laptop's next sync leaves its visit as it was, and names it.
    void ownVisitIsNeverChangedByAPull() {
        const QString server = NewServer();
        QVERIFY(!server.isEmpty());
        QString visit;
        QVERIFY(VisitLink(Laptop("a"), 0, 300, 0, &visit));
        QCOMPARE(RunCli({"sync", "--archive", Laptop("a"), "--server", server}).status, 0);
        QVERIFY(PsqlAs(
            "lmx207_writer",
            QStringLiteral("INSERT INTO actions (visit_id, side, pc_utc, utc_offset, port, kind, sent, "
                           "shown_before) SELECT id, 0, 1800000009000, 3600, '', 'password-change', '', '' "
                           "FROM visits WHERE uuid = '%1'")
                .arg(visit)));
        const CliRun sync = RunCli({"sync", "--archive", Laptop("a"), "--server", server});
        QCOMPARE(sync.status, 1);
        QCOMPARE(sync.err,
                 QStringLiteral("lmx207-logbook: visit %1 not pulled: it was made on this laptop, and the "
                                "server holds facts of it that this laptop did not push\n")
                     .arg(visit)
                     .toUtf8());
        Archive a;
        QVERIFY(a.Open(Laptop("a"), Archive::Mode::ReadOnly));
        QCOMPARE(Scalar(a, "SELECT COUNT(*) FROM actions"), 0);
    }

    // The laptops' role adds rows and reads them, and changes only what a sync fills in later:
    // it can neither delete, empty, alter nor drop a table, nor rewrite what a visit kept.
    void laptopRoleMayNotDeleteOrAlter_data() {
        QTest::addColumn<QString>("sql");
        QTest::newRow("DELETE") << "DELETE FROM events";
        QTest::newRow("TRUNCATE") << "TRUNCATE visits CASCADE";
        QTest::newRow("ALTER") << "ALTER TABLE reads ADD COLUMN note TEXT";
        QTest::newRow("DROP") << "DROP TABLE actions";
        QTest::newRow("CREATE") << "CREATE TABLE visits_copy (id BIGINT)";
        QTest::newRow("UPDATE of a kept fact") << "UPDATE reads SET answer = ''";
        QTest::newRow("UPDATE of a visit's user") << "UPDATE visits SET pc_user = 'someone'";
        QTest::newRow("UPDATE of an action's kind") << "UPDATE actions SET kind = 'record-clear'";
        QTest::newRow("UPDATE of the schema version") << "UPDATE schema_version SET version = 0";
        QTest::newRow("a second identity") << "INSERT INTO archive_identity VALUES ('x')";
    }
    void laptopRoleMayNotDeleteOrAlter() {
        QFETCH(QString, sql);
        const QString server = NewServer();
        QVERIFY(!server.isEmpty());
        QString visit;
        QVERIFY(VisitLink(Laptop("a"), 0, 300, 0, &visit));
        QCOMPARE(RunCli({"sync", "--archive", Laptop("a"), "--server", server}).status, 0);
        QVERIFY(!PsqlAs("lmx207_writer", sql));
        QVERIFY(
            PsqlAs("lmx207_writer", "UPDATE actions SET applied = applied, decided_by_id = decided_by_id"));
        Archive onServer;
        QVERIFY(onServer.Open(ServerLocation(server), Archive::Mode::ReadOnly));
        QCOMPARE(Scalar(onServer, "SELECT COUNT(*) FROM events"), 320);
        QCOMPARE(Scalar(onServer, "SELECT COUNT(*) FROM reads WHERE length(answer) > 0"), 3);
        QCOMPARE(Scalar(onServer, "SELECT COUNT(*) FROM visits WHERE pc_user <> 'someone'"), 1);
    }

    // A schema version no logbook wrote, on the server: `server init` refuses it with a message
    // (exit status 2) and leaves it as it was.
    void schemaVersionOutOfRangeIsRefused_data() {
        QTest::addColumn<qint64>("version");
        QTest::newRow("-3") << qint64(-3);
        QTest::newRow("10^9") << qint64(1'000'000'000);
    }
    void schemaVersionOutOfRangeIsRefused() {
        QFETCH(qint64, version);
        QVERIFY(!NewServer().isEmpty());
        QVERIFY(Psql(m_database, QStringLiteral("UPDATE schema_version SET version = %1").arg(version)));
        const CliRun init =
            RunLogbook({"server", "init", "--server",
                        QStringLiteral("host=%1 dbname=%2 user=lmx207_owner").arg(m_dir, m_database)});
        QCOMPARE(init.status, 2);
        QVERIFY2(init.err.startsWith("lmx207-logbook: the server's archive cannot be set up: ") &&
                     init.err.contains(QByteArray::number(version)),
                 init.err.constData());
        QVERIFY(
            Psql(m_database, QStringLiteral("DO $$ BEGIN IF (SELECT version FROM schema_version) <> %1 THEN "
                                            "RAISE EXCEPTION 'changed'; END IF; END $$")
                                 .arg(version)));
    }

    // A role that must give a password reaches the server by each of libpq's ways; a password
    // written in --server works and is warned about; without one the command says what is missing,
    // and no password shows in any message.
    void passwordByLibpqsWays_data() {
        QTest::addColumn<QString>("conninfo"); // {dir} the socket folder, {db} the database
        QTest::addColumn<QStringList>("env");  // {file} a password file
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("err");
        const QString plain = QStringLiteral("host={dir} dbname={db} user=lmx207_secret");
        const QString warning =
            QStringLiteral("lmx207-logbook: warning: a password in --server can be read by other "
                           "accounts on this computer while the command runs; keep it in ~/.pgpass "
                           "(mode 0600) or PGPASSWORD instead\n");
        QTest::newRow("PGPASSWORD") << plain << QStringList{"PGPASSWORD=s3cret w0rd"} << 0 << "";
        QTest::newRow("password file") << plain << QStringList{"PGPASSFILE={file}"} << 0 << "";
        QTest::newRow("service and password file")
            << "service=team" << QStringList{"PGPASSFILE={file}", "PGSERVICEFILE={file}.services"} << 0 << "";
        QTest::newRow("in --server") << plain + " password='s3cret w0rd'" << QStringList{} << 0 << warning;
        QTest::newRow("in a URI") << "postgresql://lmx207_secret:s3cret%20w0rd@/{db}?host={dir}"
                                  << QStringList{} << 0 << warning;
        QTest::newRow("none") << plain << QStringList{} << 2
                              << "lmx207-logbook: the server cannot be used: connection to server on socket";
        QTest::newRow("a wrong one")
            << plain << QStringList{"PGPASSWORD=s3cret w0rd!"} << 2
            << "lmx207-logbook: the server cannot be used: connection to server on socket";
        QTest::newRow("a broken escape in a URI's password")
            << "postgresql://lmx207_secret:s3cret%2w0rd@/{db}?host={dir}" << QStringList{} << 1
            << "lmx207-logbook: the server's connection string cannot be read: a broken percent-escape in "
               "the URI's "
               "password\n";
    }
    void passwordByLibpqsWays() {
        QFETCH(QString, conninfo);
        QFETCH(QStringList, env);
        QFETCH(int, status);
        QFETCH(QString, err);
        QVERIFY(!NewServer().isEmpty());
        const QString passwords = m_env->root() + "/pgpass";
        QFile file(passwords);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("*:*:%1:lmx207_secret:s3cret w0rd\n").arg(m_database).toUtf8());
        file.close();
        QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner));
        QFile services(passwords + ".services");
        QVERIFY(services.open(QIODevice::WriteOnly));
        services.write(QStringLiteral("[team]\nhost=%1\ndbname=%2\nuser=lmx207_secret\n")
                           .arg(m_dir, m_database)
                           .toUtf8());
        services.close();
        for (QString& e : env)
            e.replace("{file}", passwords);
        conninfo.replace("{dir}", m_dir).replace("{db}", m_database);
        const CliRun r = RunLogbook({"sync", "--archive", Laptop("a"), "--server", conninfo}, env);
        QCOMPARE(r.status, status);
        QVERIFY2(r.err.startsWith(err.toUtf8()), r.err.constData());
        QVERIFY2(!r.err.contains("s3cret") && !r.out.contains("s3cret"), r.err.constData());
        if (status == 0)
            QVERIFY2(r.out.endsWith("pulled 0 visit(s), 0 new event(s); pushed 0 visit(s), 0 new event(s)\n"),
                     r.out.constData());
    }

    // At a terminal, a server that asks for a password nothing gave gets it typed, unseen, as
    // psql asks for it.
    void passwordAskedAtATerminal() {
        QVERIFY(!NewServer().isEmpty());
        const QString command =
            QStringLiteral("%1 sync --archive %2 --server 'host=%3 dbname=%4 user=lmx207_secret'")
                .arg(QStringLiteral(LMX207_LOGBOOK_BINARY), Laptop("a"), m_dir, m_database);
        QProcess terminal;
        terminal.setProcessChannelMode(QProcess::MergedChannels);
        terminal.start(QStringLiteral("script"), {"-qefc", command, "/dev/null"});
        QVERIFY(terminal.waitForStarted());
        QByteArray seen;
        QElapsedTimer t;
        t.start();
        while (!seen.contains("Password for user lmx207_secret: ") && t.elapsed() < kWaitMs &&
               terminal.state() == QProcess::Running) {
            terminal.waitForReadyRead(1000);
            seen += terminal.readAll();
        }
        QVERIFY2(seen.contains("Password for user lmx207_secret: "), seen.constData());
        terminal.write("s3cret w0rd\n");
        QVERIFY(terminal.waitForFinished(kWaitMs));
        seen += terminal.readAll();
        QCOMPARE(terminal.exitCode(), 0);
        QVERIFY2(seen.contains("pulled 0 visit(s)") && !seen.contains("s3cret"), seen.constData());
    }
};

QTEST_MAIN(TestServerArchive)
#include "pg_serverarchive.moc"
