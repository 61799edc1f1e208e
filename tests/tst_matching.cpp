// Both ends of a link matched on hand-made logs: the offset split from traffic both ways, lost and
// unwanted commands named exactly, drifting clocks, one-way traffic, empty and full logs, the
// incidents on the common axis, the clock readings' cross-check, record lines, and `match`.
#include "archive/Archive.h"
#include "archive/ArchiveFormat.h"
#include "archive/Matching.h"
#include "archive/VisitRecorder.h"
#include "sim/SimUnit.h"
#include "support/LogbookRun.h"
#include "support/LogbookSample.h"
#include "support/Suite.h"

namespace {

const QDateTime kStart(QDate(2026, 3, 1), QTime(8, 0), Qt::UTC);

EventRow Event(qint64 unitMs, int code, qint64 unitId) {
    static qint64 nextId = 1;
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(unitMs, Qt::UTC);
    EventRow row;
    row.id = nextId++;
    row.unitId = unitId;
    row.side = unitId == 1 ? UnitSide::Local : UnitSide::Remote;
    row.code = code;
    row.unitTime = UnitTimeKeyOf(toBcd(t.date().year() % 100), t.date().month(), toBcd(t.date().day()),
                                 toBcd(t.time().hour()), toBcd(t.time().minute()), toBcd(t.time().second()),
                                 t.time().msec());
    return row;
}

// Hand-made traffic: `count` commands, alternately local → remote and remote → local (or one way
// only), command 1 to 8 in turn, each followed 150 ms later by its return; transfers of 8 to
// 15 ms; the remote clock ahead of the local one by `offsetMs` plus `driftPerDay` ms a day.
struct Traffic {
    QDateTime start = kStart;
    int count = 40;
    qint64 spacingMs = 97'000;
    double offsetMs = 2314;
    double driftPerDay = 0;
    bool oneWay = false;
    LinkEvents events;
    QList<EventRow> sends; // the command sends, in the order made

    double Offset(qint64 localMs) const {
        return offsetMs + driftPerDay * double(localMs - start.toMSecsSinceEpoch()) / 86'400'000.0;
    }
    qint64 Remote(qint64 localMs) const { return qint64(std::floor(double(localMs) + Offset(localMs))); }
    Traffic& Make() {
        for (int i = 0; i < count; ++i) {
            const qint64 t = start.toMSecsSinceEpoch() + i * spacingMs + (i * 37) % 1000;
            const int k = oneWay ? i % 8 + 1 : (i / 2) % 8 + 1;
            const bool l2r = oneWay || i % 2 == 0;
            for (int ret = 0; ret < 2; ++ret) {
                const qint64 at = t + ret * 150;
                const qint64 transfer = 8 + (i * 5 + ret * 3) % 8;
                const int send = 2 * k - 1 + ret;
                const int receive = 16 + send;
                if (l2r) {
                    events.local << Event(at, send, 1);
                    events.remote << Event(Remote(at + transfer), receive, 2);
                } else {
                    events.remote << Event(Remote(at), send, 2);
                    events.local << Event(at + transfer, receive, 1);
                }
                if (ret == 0)
                    sends << (l2r ? events.local : events.remote).last();
            }
        }
        Sort();
        return *this;
    }
    void Sort() {
        for (QList<EventRow>* l : {&events.local, &events.remote})
            std::sort(l->begin(), l->end(), [](const EventRow& a, const EventRow& b) {
                return a.unitTime != b.unitTime ? a.unitTime < b.unitTime : a.code < b.code;
            });
    }
};

// A record answer of a unit's log, newest first as a unit sends it.
QByteArray Answer(const QList<EventRow>& rows, bool local) {
    QByteArray records;
    for (qsizetype i = rows.size() - 1; i >= 0; --i) {
        const QDateTime t = UnitTimeDateTime(rows[i].unitTime);
        records += SampleEventRecord(t, t.time().msec(), rows[i].code);
    }
    return SampleRecordAnswer(local, records);
}

} // namespace

class TestMatching : public QObject {
    Q_OBJECT

private slots:
    // Commands both ways with the remote clock 2.314 s ahead and transfers of 8 to 15 ms: the
    // offset is found within 1.5 ms, every command and return is matched with its transfer time.
    void offsetSplitFromBothWays() {
        Traffic t;
        t.Make();
        const LinkMatch m = MatchLink(t.events);
        QCOMPARE(m.basis, OffsetBasis::BothWays);
        QVERIFY(m.split);
        QVERIFY2(std::abs(m.offsetMs - 2314) <= 1.5, qPrintable(QString::number(m.offsetMs)));
        QVERIFY(!m.offsets.isEmpty());
        for (const OffsetSample& s : m.offsets)
            QVERIFY2(std::abs(s.offsetMs - 2314) <= 1.5, qPrintable(QString::number(s.offsetMs)));
        QCOMPARE(m.matches.size(), 2 * t.count);
        QVERIFY(m.lost.isEmpty());
        QVERIFY(m.unwanted.isEmpty());
        for (const CommandMatch& c : m.matches) {
            QVERIFY2(c.transferMs >= 6.5 && c.transferMs <= 16.5, qPrintable(QString::number(c.transferMs)));
            QCOMPARE(c.received.code, c.sent.code + 16);
            QCOMPARE(c.sent.side,
                     c.direction == LinkDirection::LocalToRemote ? UnitSide::Local : UnitSide::Remote);
        }
        qint64 sent = 0;
        for (int k = 0; k < 8; ++k) {
            const CommandMatchCounts& c = m.perCommand[size_t(k)];
            QCOMPARE(c.matched, c.sent);
            QCOMPARE(c.received, c.sent);
            QVERIFY(*c.transferMedianMs >= 7 && *c.transferP95Ms <= *c.transferMaxMs &&
                    *c.transferMaxMs <= 16.5);
            QCOMPARE(m.perDirection[0][size_t(k)].sent + m.perDirection[1][size_t(k)].sent, c.sent);
            sent += c.sent;
        }
        QCOMPARE(sent, qint64(t.count));
    }

    // One receive removed names exactly its send as lost; one receive added (far from any send,
    // or right beside a real receive of the same command) is exactly the one unwanted command.
    void lostAndUnwanted_data() {
        QTest::addColumn<int>("removeSend");       // index into the sends whose receive goes, or -1
        QTest::addColumn<int>("addBeside");        // index of the send whose receive gets a twin, or -1
        QTest::addColumn<qint64>("addAtRemoteMs"); // a receive of command 3 at this remote time, or 0
        QTest::newRow("receive removed, local to remote") << 10 << -1 << qint64(0);
        QTest::newRow("receive removed, remote to local") << 11 << -1 << qint64(0);
        QTest::newRow("receive added between commands")
            << -1 << -1 << kStart.toMSecsSinceEpoch() + 2314 + 20 * 97'000 + 40'000;
        QTest::newRow("receive added 300 ms after a real one") << -1 << 4 << qint64(0);
    }
    void lostAndUnwanted() {
        QFETCH(int, removeSend);
        QFETCH(int, addBeside);
        QFETCH(qint64, addAtRemoteMs);
        Traffic t;
        t.Make();
        const LinkMatch whole = MatchLink(t.events);
        std::optional<EventRow> gone;
        std::optional<EventRow> extra;
        if (removeSend >= 0 || addBeside >= 0) {
            const EventRow send = t.sends[removeSend >= 0 ? removeSend : addBeside];
            const auto it = std::find_if(whole.matches.begin(), whole.matches.end(),
                                         [&](const CommandMatch& c) { return c.sent.id == send.id; });
            QVERIFY(it != whole.matches.end());
            QList<EventRow>& receiver = send.side == UnitSide::Local ? t.events.remote : t.events.local;
            if (removeSend >= 0) {
                gone = send;
                receiver.removeIf([&](const EventRow& r) { return r.id == it->received.id; });
            } else {
                const qint64 ms = *EventUnitMs(it->received) + 300;
                extra = Event(ms, it->received.code, it->received.unitId);
                receiver << *extra;
            }
        } else {
            extra = Event(addAtRemoteMs, 21, 2);
            t.events.remote << *extra;
        }
        t.Sort();
        const LinkMatch m = MatchLink(t.events);
        QVERIFY2(std::abs(m.offsetMs - 2314) <= 1.5, qPrintable(QString::number(m.offsetMs)));
        QCOMPARE(m.lost.size(), gone ? 1 : 0);
        QCOMPARE(m.unwanted.size(), extra ? 1 : 0);
        QCOMPARE(m.matches.size(), 2 * t.count - (gone ? 1 : 0));
        if (gone) {
            QCOMPARE(m.lost[0].event.id, gone->id);
            QCOMPARE(m.lost[0].pair, MatchPair::Command);
            QCOMPARE(m.perCommand[size_t(m.lost[0].command - 1)].lost, 1);
        } else {
            QCOMPARE(m.unwanted[0].event.id, extra->id);
            QCOMPARE(m.perCommand[size_t(m.unwanted[0].command - 1)].unwanted, 1);
            QCOMPARE(m.unwanted[0].end, extra->side);
        }
    }

    // Clocks drifting a second a day over a week (one command every 20 minutes): every command
    // still matched, and the sliding estimate follows the drift.
    void driftingClocksStillMatch() {
        Traffic t;
        t.count = 7 * 72;
        t.spacingMs = 20 * 60'000;
        t.driftPerDay = 1000;
        t.Make();
        const LinkMatch m = MatchLink(t.events);
        QCOMPARE(m.matches.size(), 2 * t.count);
        QVERIFY(m.lost.isEmpty());
        QVERIFY(m.unwanted.isEmpty());
        QVERIFY(m.offsets.size() > 20);
        for (const OffsetSample& s : m.offsets)
            QVERIFY2(std::abs(s.offsetMs - t.Offset(qint64(s.unitMs))) <= 3,
                     qPrintable(QStringLiteral("%1 at %2").arg(s.offsetMs).arg(s.unitMs)));
        QVERIFY(m.offsets.last().offsetMs - m.offsets.first().offsetMs > 6500);
        for (const CommandMatch& c : m.matches)
            QVERIFY2(c.transferMs > 5 && c.transferMs < 19, qPrintable(QString::number(c.transferMs)));
    }

    // Empty, one-sided, one-way and full (255-record) logs.
    void edgeLogs_data() {
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("oneWay");
        QTest::addColumn<bool>("dropRemote");
        QTest::addColumn<int>("basis");
        QTest::addColumn<int>("matches");
        QTest::addColumn<int>("lost");
        QTest::newRow("empty") << 0 << false << false << int(OffsetBasis::None) << 0 << 0;
        QTest::newRow("one-sided: the remote log is empty")
            << 12 << false << true << int(OffsetBasis::None) << 0 << 12;
        QTest::newRow("one way: apparent delay")
            << 30 << true << false << int(OffsetBasis::OneWay) << 60 << 0;
        // 127 commands and their returns, and one more command: 255 records at each end.
        QTest::newRow("255 records each") << 128 << false << false << int(OffsetBasis::BothWays) << 255 << 0;
    }
    void edgeLogs() {
        QFETCH(int, count);
        QFETCH(bool, oneWay);
        QFETCH(bool, dropRemote);
        QFETCH(int, basis);
        QFETCH(int, matches);
        QFETCH(int, lost);
        Traffic t;
        t.count = count;
        t.oneWay = oneWay;
        t.Make();
        if (dropRemote) {
            t.events.local.removeIf([](const EventRow& r) { return r.code > 16; });
            t.events.remote.clear();
        }
        if (count == 128) { // the last command's return is in neither log
            t.events.local.removeLast();
            t.events.remote.removeLast();
            QCOMPARE(t.events.local.size(), 255);
            QCOMPARE(t.events.remote.size(), 255);
        }
        const LinkMatch m = MatchLink(t.events);
        QCOMPARE(int(m.basis), basis);
        QCOMPARE(m.matches.size(), matches);
        QCOMPARE(m.lost.size(), lost);
        QVERIFY(m.unwanted.isEmpty());
        if (m.basis == OffsetBasis::OneWay) {
            QVERIFY(!m.split);
            // Not split: the apparent delay, offset plus transfer.
            QVERIFY2(m.offsetMs > 2314 + 7 && m.offsetMs < 2314 + 16,
                     qPrintable(QString::number(m.offsetMs)));
            for (const CommandMatch& c : m.matches)
                QVERIFY(c.transferMs >= 2314 + 8 && c.transferMs <= 2314 + 15);
        }
    }

    // Alarms and fibre interruptions of both ends land on the local clock: a remote fibre A
    // interruption 1 s long shows as a band 2.314 s earlier than its remote time; an interruption
    // without its return is an open band; events with impossible times are counted, not placed.
    void incidentsOnTheCommonAxis() {
        Traffic t;
        t.Make();
        const qint64 at = kStart.toMSecsSinceEpoch() + 600'000;
        t.events.remote << Event(t.Remote(at), 35, 2) << Event(t.Remote(at + 1000), 36, 2);
        t.events.local << Event(at + 5000, 37, 1) << Event(at + 7000, 33, 1) << Event(at + 7400, 34, 1);
        EventRow bad = Event(at, 1, 1);
        bad.unitTime = UnitTimeKeyOf(0x26, 2, 0x30, 0x12, 0, 0, 0); // 30 February
        t.events.local << bad;
        t.Sort();
        const LinkMatch m = MatchLink(t.events);
        QCOMPARE(m.unplaced, 1);
        QCOMPARE(m.incidents.size(), 5);
        QCOMPARE(m.bands.size(), 3);
        for (const IncidentBand& b : m.bands) {
            if (b.kind == IncidentKind::FibreA) {
                QCOMPARE(b.end, UnitSide::Remote);
                QVERIFY(std::abs(b.startAxisMs - double(at)) <= 1.5);
                QVERIFY(b.endAxisMs && std::abs(*b.endAxisMs - double(at + 1000)) <= 1.5);
            } else if (b.kind == IncidentKind::FibreB) {
                QCOMPARE(b.startAxisMs, double(at + 5000));
                QVERIFY(!b.endAxisMs);
            } else {
                QCOMPARE(b.startAxisMs, double(at + 7000));
                QCOMPARE(*b.endAxisMs, double(at + 7400));
            }
        }
        QCOMPARE(*AxisMs(m, t.events.remote.first(), UnitSide::Remote),
                 double(*EventUnitMs(t.events.remote.first())) - OffsetAt(m, 0));
    }

    // The configuration dialogs' clock readings of one visit check the estimate: readings 2 s
    // apart agree with 2.314 s; readings 10 s apart do not. Without traffic the readings place
    // the remote end.
    void clockReadingsCrossCheck() {
        for (qint64 remoteDiff : {2000, 12000}) {
            Traffic t;
            t.Make();
            ClockReading local;
            local.visitId = 7;
            local.time = {kStart.toMSecsSinceEpoch() + 3'600'000, 0};
            local.differenceMs = 0;
            ClockReading remote = local;
            remote.differenceMs = remoteDiff;
            t.events.localClock << local;
            t.events.remoteClock << remote;
            // A later visit whose remote answer held no valid date (its difference reads 0) is passed over.
            ClockReading later = local;
            later.visitId = 8;
            later.bytes = QByteArray::fromHex("90261301000000"); // month 13
            t.events.localClock << later;
            t.events.remoteClock << later;
            LinkMatch m = MatchLink(t.events);
            QVERIFY(m.crossCheck.available);
            QCOMPARE(m.crossCheck.readingOffsetMs, double(remoteDiff));
            QCOMPARE(m.crossCheck.agrees, remoteDiff == 2000);
            QVERIFY(std::abs(m.crossCheck.differenceMs - (2314 - remoteDiff)) <= 1.5);
            t.events.local.clear();
            t.events.remote.removeIf([](const EventRow& r) { return r.code <= 32; });
            m = MatchLink(t.events);
            QCOMPARE(m.basis, OffsetBasis::None);
            QCOMPARE(m.offsetMs, double(remoteDiff));
        }
    }

    // Clocks 400 days apart are beyond the search, unless a visit's clock readings say where to look.
    void clocksFarApartFoundByReadings() {
        Traffic t;
        t.offsetMs = 400 * 86'400'000.0 + 2314;
        t.Make();
        LinkMatch m = MatchLink(t.events);
        QCOMPARE(m.matches.size(), 0);
        ClockReading local;
        local.visitId = 3;
        local.time = {kStart.toMSecsSinceEpoch(), 0};
        ClockReading remote = local;
        remote.differenceMs = qint64(t.offsetMs) - 700; // whole seconds, read a poll apart
        t.events.localClock << local;
        t.events.remoteClock << remote;
        m = MatchLink(t.events);
        QCOMPARE(m.matches.size(), 2 * t.count);
        QVERIFY(std::abs(m.offsetMs - t.offsetMs) <= 1.5);
        QVERIFY(m.crossCheck.agrees);
    }

    // A hand correction replaces the estimate: a wrong one loses every command.
    void handCorrection() {
        Traffic t;
        t.Make();
        MatchOptions o;
        o.handOffsetMs = 2314;
        LinkMatch m = MatchLink(t.events, o);
        QCOMPARE(m.basis, OffsetBasis::HandCorrection);
        QCOMPARE(m.matches.size(), 2 * t.count);
        o.handOffsetMs = 2314 + 5000;
        m = MatchLink(t.events, o);
        QCOMPARE(m.matches.size(), 0);
        QCOMPARE(m.lost.size(), 2 * t.count);
        QCOMPARE(m.unwanted.size(), 2 * t.count);
    }

    // An event prints as its record file's line, milliseconds above 999 included.
    void recordLines() {
        EventRow row;
        row.unitTime = UnitTimeKeyOf(0x08, 12, 0x25, 0x13, 0x45, 0x07, 123);
        row.code = 1;
        QCOMPARE(EventRecordLine(row, 5, false),
                 QStringLiteral("5  2008-12-25  13:45:07.123  Send Command 1."));
        row.unitTime = UnitTimeKeyOf(0x08, 3, 0x05, 0x09, 0x05, 0x07, 1665);
        row.code = 39;
        QCOMPARE(EventRecordLine(row, 1, false),
                 QStringLiteral("1  2008-03-5  9:05:07.1665  Invalid Record."));
        row.code = 20;
        QCOMPARE(EventRecordLine(row, 2, true), QStringLiteral("2  2008-03-5  9:05:07.1665  收命令2返回。"));
    }

    // An event's place on the axis is the milliseconds of its date and time in any month: January
    // and February run on into March without a jump, leap day included.
    void unitTimeOnTheAxis() {
        for (const QDateTime& t : {QDateTime(QDate(2024, 1, 1), QTime(0, 0), Qt::UTC),
                                   QDateTime(QDate(2024, 2, 29), QTime(23, 59, 59, 999), Qt::UTC),
                                   QDateTime(QDate(2024, 3, 1), QTime(0, 0), Qt::UTC),
                                   QDateTime(QDate(2026, 12, 31), QTime(23, 59, 59, 999), Qt::UTC)})
            QCOMPARE(EventUnitMs(Event(t.toMSecsSinceEpoch(), 1, 1)), std::optional(t.toMSecsSinceEpoch()));
    }

    // `match` over an archive: a visit that read both logs names the lost command and the
    // offset; two units by name give the same; bad input and a missing archive are refused.
    void matchCommand() {
        TestEnv env;
        Traffic t;
        t.count = 20;
        t.Make();
        const EventRow gone = t.sends[6]; // command 4, local → remote
        t.events.remote.removeIf([&](const EventRow& r) {
            return r.code == gone.code + 16 && std::abs(*EventUnitMs(r) - *EventUnitMs(gone) - 2314) < 100;
        });
        QString uuid;
        {
            Archive archive;
            QVERIFY(archive.Open(QString(), Archive::Mode::ReadWrite));
            VisitRecorder visit(archive, {});
            QVERIFY(
                visit.RecordAnswer(UnitSide::Local, "/dev/pts/9", PcTimeNow(), Answer(t.events.local, true)));
            uuid = visit.VisitUuid();
            QVERIFY(visit.RecordAnswer(UnitSide::Remote, "/dev/pts/9", PcTimeNow(),
                                       Answer(t.events.remote, false)));
            VisitRecorder other(archive, {});
            QVERIFY(other.RecordAnswer(UnitSide::Local, "/dev/pts/9", PcTimeNow(),
                                       Answer(t.events.local.mid(0, 3), true)));
        }
        const CliRun csv = RunCli({"match", "--visit", "1"});
        QVERIFY2(csv.status == 0, csv.err);
        const QList<QByteArray> lines = csv.out.split('\n');
        QCOMPARE(lines[0],
                 QByteArray(
                     "kind,command,direction,pair,local time,remote time,axis time,transfer ms,offset ms\r"));
        QVERIFY2(lines[1].startsWith("estimate,,,both-ways,,,,"), lines[1]);
        QVERIFY(std::abs(lines[1].split(',').last().trimmed().toDouble() - 2314) <= 1.5);
        const QByteArray lostLine =
            "lost,4,local-remote,command," + UnitTimeText(gone.unitTime).toLatin1() + ",,";
        QVERIFY2(csv.out.contains(lostLine), csv.out);
        QCOMPARE(csv.out.count("\nlost,"), 1);
        QCOMPARE(csv.out.count("\nunwanted,"), 0);
        QCOMPARE(csv.out.count("\nmatch,"), 2 * t.count - 1);

        QCOMPARE(RunCli({"match", "--visit", uuid.toUpper()}).out, csv.out); // the id `visits` prints
        // -o FILE: the same text in the file, nothing on standard output.
        const QString matchFile = env.root() + "/match.csv";
        const CliRun toFile = RunCli({"match", "--visit", "#1", "-o", matchFile});
        QVERIFY2(toFile.status == 0 && toFile.out.isEmpty(), toFile.err);
        QFile written(matchFile);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(), csv.out);
        const CliRun json = RunCli({"match", "--local", "#1", "--remote=#2", "--format", "json"});
        QVERIFY2(json.status == 0, json.err);
        const QJsonObject o = QJsonDocument::fromJson(json.out).object();
        QCOMPARE(o["lost"].toArray().size(), 1);
        QCOMPARE(o["lost"][0]["command"].toInt(), 4);
        QCOMPARE(o["split"].toBool(), true);
        QCOMPARE(o["counts"][3]["lost"].toInt(), 1);
        QVERIFY(std::abs(o["offsetMs"].toDouble() - 2314) <= 1.5);

        struct Case {
            QStringList args;
            int status;
            QString err;
        };
        const QList<Case> refused{
            {{"match"}, 1, "match takes --visit N, or --local NAME and --remote NAME"},
            {{"match", "--visit", "1", "--local", "#1"}, 1, "match takes --visit N"},
            {{"match", "--local", "#1"}, 1, "match takes --visit N"},
            {{"match", "--visit", "x"}, 1, "visit x is not in the archive"},
            {{"match", "--visit", ""}, 1, "--visit takes a visit's number or id"},
            {{"match", "--visit", "9"}, 1, "visit 9 is not in the archive"},
            {{"match", "--visit", "2"}, 1, "visit 2 met no remote unit"},
            {{"match", "--local", "#1", "--remote", "#1"}, 1, "are the same unit"},
            {{"match", "--local", "nobody", "--remote", "#1"}, 1, "no unit \"nobody\" in the archive"},
            {{"match", "--visit", "1", "--format", "xml"}, 1, "--format takes csv or json"},
            {{"match", "--visit"}, 1, "--visit needs a value"},
            {{"match", "--visit", "1", "extra"}, 1, "match takes no operands"},
            {{"match", "--visit", "1", "--archive", env.root() + "/none/logbook.sqlite"},
             2,
             "cannot be used"},
        };
        for (const Case& c : refused) {
            const CliRun r = RunCli(c.args);
            QVERIFY2(r.status == c.status && r.err.contains(c.err.toUtf8()) && r.out.isEmpty(),
                     qPrintable(c.args.join(' ') + ": " + QString::number(r.status) + " " + r.err));
        }

        // One way only: said on standard error, the CSV says "one-way".
        Traffic oneWay;
        oneWay.start = kStart.addDays(30);
        oneWay.oneWay = true;
        oneWay.count = 10;
        oneWay.Make();
        {
            Archive archive;
            QVERIFY(archive.Open(QString(), Archive::Mode::ReadWrite));
            VisitRecorder visit(archive, {});
            QVERIFY(visit.RecordAnswer(UnitSide::Local, "/dev/pts/9", PcTimeNow(),
                                       Answer(oneWay.events.local, true)));
            QVERIFY(visit.RecordAnswer(UnitSide::Remote, "/dev/pts/9", PcTimeNow(),
                                       Answer(oneWay.events.remote, false)));
        }
        const CliRun one = RunCli({"match", "--visit", "3"});
        QVERIFY2(one.status == 0, one.err);
        QVERIFY2(one.out.contains("\nestimate,,,one-way,"), one.out);
        QVERIFY(one.err.contains("cannot be split"));
    }
};

QTEST_MAIN(TestMatching)
#include "tst_matching.moc"
