// Both ends of a link matched against generated logs whose truth is known: clocks seconds to
// decades apart, set in the middle of the history with and without the archived write, drifting
// up to 20 s a day, logs of different periods, lost commands and twins, bursts, jitter, one-way
// traffic and asymmetric paths. Every pair, every lost and unwanted command exactly; offsets within
// 2 ms and transfers within 3 ms of the truth. Then the incidents, record lines and `match`.
#include "archive/Archive.h"
#include "archive/ArchiveFormat.h"
#include "archive/MatchOutput.h"
#include "archive/MatchPairing.h"
#include "archive/Matching.h"
#include "archive/VisitRecorder.h"
#include "sim/SimTraffic.h"
#include "sim/SimUnit.h"
#include "support/LinkTruth.h"
#include "support/LogbookRun.h"
#include "support/LogbookSample.h"
#include "support/Suite.h"

Q_DECLARE_METATYPE(LinkTruthSpec)

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
    void matchesTheTruth_data() {
        QTest::addColumn<LinkTruthSpec>("spec");
        QTest::addColumn<int>("segments");
        for (const LinkTruthCase& c : LinkTruthCases())
            QTest::newRow(qPrintable(c.name)) << c.spec << c.segments;
    }

    // Every pair as it happened, with its transfer (offsets within 2 ms, transfers within 3 ms);
    // lost, unwanted and not covered exactly the truth. bench_matching --cases prints the figures.
    void matchesTheTruth() {
        QFETCH(LinkTruthSpec, spec);
        QFETCH(int, segments);
        const LinkTruth truth = MakeLinkTruth(spec);
        const LinkMatch m = MatchLink(truth.events);
        QString found;
        for (const ClockSegment& seg : m.segments)
            found += QString("\n  %1..%2: %3 ms, %4 ms/day, %5+%6 pairs")
                         .arg(UnitClockText(seg.fromMs), UnitClockText(seg.toMs))
                         .arg(seg.offsetMs, 0, 'f', 1)
                         .arg(seg.MsPerDay(), 0, 'f', 1)
                         .arg(seg.pairs[0])
                         .arg(seg.pairs[1]);
        QVERIFY2(m.segments.size() == segments, qPrintable(found));
        const bool oneWay = spec.ways != LinkTruthSpec::Both;
        QCOMPARE(m.basis, oneWay ? OffsetBasis::OneWay : OffsetBasis::BothWays);
        for (qsizetype i = 1; i < m.segments.size(); ++i)
            QCOMPARE(m.segments[i].start, spec.archivedSets ? SegmentStart::ClockWrite : SegmentStart::Step);

        const LinkTruthScore score = ScoreLinkMatch(spec, truth, m);
        QVERIFY2(score.mispaired == 0, qPrintable(score.firstMispaired + found));
        QCOMPARE(score.transfersWrong, 0);
        QVERIFY2(score.worstTransferMs <= 3,
                 qPrintable(QString("transfer %1 ms off").arg(score.worstTransferMs)));
        QVERIFY2(score.worstOffsetMs <= 2, qPrintable(QString("offset %1 ms off").arg(score.worstOffsetMs)));

        const auto ids = [](const QList<UnmatchedEvent>& list) {
            QSet<qint64> s;
            for (const UnmatchedEvent& u : list)
                s.insert(u.event.id);
            return s;
        };
        QCOMPARE(ids(m.lost), truth.lost);
        QCOMPARE(ids(m.unwanted), truth.unwanted);
        QCOMPARE(ids(m.notCovered), truth.notCovered);
    }

    // The output says what it knows: the clocks named without a zone, the asymmetry it cannot see,
    // one-way times as apparent delays (never a transfer, never negative), commands and returns
    // counted apart.
    void outputSaysWhatItKnows() {
        LinkTruthSpec s;
        s.days = 1;
        s.ways = LinkTruthSpec::RemoteToLocal;
        s.offsetMs = 5000;
        const LinkTruth truth = MakeLinkTruth(s);
        const LinkMatch m = MatchLink(truth.events);
        const QJsonObject o = QJsonDocument::fromJson(MatchJson(m, LinkEnds())).object();
        QCOMPARE(o["basis"].toString(), QStringLiteral("one-way"));
        QVERIFY(!o.contains("transferMs"));
        QVERIFY(o["asymmetry"].toString().contains("cannot be seen"));
        for (const QJsonValue v : o["matches"].toArray()) {
            QVERIFY(!v.toObject().contains("transferMs"));
            QVERIFY(v["apparentDelayMs"].toDouble() < 0); // the remote clock is 5 s ahead
        }
        const QByteArray csv = MatchCsv(m, LinkEnds());
        QVERIFY(!csv.contains('Z'));
        QVERIFY2(csv.contains("count,1,remote-local,command,") &&
                     csv.contains("count,1,remote-local,return,"),
                 csv);
        QVERIFY(csv.contains("note,,,,,,,,,,,,a path slower one way"));
    }

    // Pairs keep the order of events: the first send with the first receive, a twin 3 ms after the
    // real receive left over (and a second one), a lost command of a burst leaves its neighbours
    // paired right, and of two sends one receive could answer the one with the shorter transfer
    // takes it.
    void pairingKeepsOrder() {
        QCOMPARE(PairInOrder({0, 20, 40}, {10, 13, 50}, 8, 24),
                 (std::vector<std::pair<int, int>>{{0, 0}, {2, 2}}));
        QCOMPARE(PairInOrder({0, 20, 40}, {10, 30, 33, 50}, 8, 24),
                 (std::vector<std::pair<int, int>>{{0, 0}, {1, 1}, {2, 3}}));
        QCOMPARE(PairInOrder({0, 5}, {14}, 8, 24), (std::vector<std::pair<int, int>>{{1, 0}}));
        QCOMPARE(PairInOrder({0}, {10, 13, 16}, 8, 24), (std::vector<std::pair<int, int>>{{0, 0}}));
    }

    // The simulator's traffic with the remote clock set +1 h halfway and drifting a second a day:
    // two segments, the step found in the traffic, the lost command and the invented receive named.
    // Each simulated unit's own older records (in 2024, the same codes at the same gaps in both
    // logs, so each direction shows a pattern of its own at an offset the other contradicts) pair
    // with nothing and make no segment.
    void simulatorClockSetAndDrift_data() {
        QTest::addColumn<bool>("history");
        QTest::newRow("traffic alone") << false;
        QTest::newRow("beside older records of each unit's own") << true;
    }
    void simulatorClockSetAndDrift() {
        QFETCH(bool, history);
        SimPair pair;
        if (!history) {
            pair.local().log.clear();
            pair.remote().log.clear();
        }
        SimTraffic t;
        t.commands = 60;
        t.spacingMs = 1'800'000;
        t.remoteClockOffsetMs = 2314;
        t.remoteDriftMsPerDay = 1000;
        t.remoteClockSetAfter = 30;
        t.remoteClockSetMs = 3'600'000;
        t.lose = {10};
        t.invent = {20};
        AddSimTraffic(pair, t, QDateTime(QDate(2026, 12, 7), QTime(9, 0), Qt::UTC));
        LinkEvents events;
        for (int end = 0; end < 2; ++end) {
            const std::vector<SimRecord>& log = (end == 0 ? pair.local() : pair.remote()).log;
            for (auto r = log.rbegin(); r != log.rend(); ++r) {
                EventRow row;
                row.id = (end + 1) * 1000 + (r - log.rbegin());
                row.unitTime = UnitTimeKey(r->data());
                row.code = (*r)[6];
                (end == 0 ? events.local : events.remote) << row;
            }
        }
        const LinkMatch m = MatchLink(events);
        QCOMPARE(m.segments.size(), 2);
        QCOMPARE(m.segments[1].start, SegmentStart::Step);
        QVERIFY(std::abs(m.segments[1].OffsetAt(m.segments[1].fromMs) -
                         m.segments[0].OffsetAt(m.segments[0].toMs) - 3'600'000) <= 100);
        QVERIFY(std::abs(m.segments[0].MsPerDay() - 1000) <= 50);
        QCOMPARE(m.matches.size(), 118);
        if (history)
            return; // the older records are lost or unwanted as the other log holds nothing like them
        QCOMPARE(m.lost.size(), 2);
        QCOMPARE(m.lost[0].command, (10 - 1) / 2 % 8 + 1); // the simulator numbers commands in turn, two each
        QCOMPARE(m.unwanted.size(), 2);
        QCOMPARE(m.notCovered.size(), 0);
    }

    // A hand correction replaces the model; no traffic with a visit's readings leaves the readings.
    void handCorrectionAndReadings() {
        LinkTruthSpec s;
        s.days = 1;
        LinkTruth t = MakeLinkTruth(s);
        MatchOptions o;
        o.handOffsetMs = 2314;
        LinkMatch m = MatchLink(t.events, o);
        QCOMPARE(m.basis, OffsetBasis::HandCorrection);
        QCOMPARE(m.lost.size(), 0);
        ClockReading local;
        local.visitId = 7;
        ClockReading remote = local;
        remote.differenceMs = 2000;
        t.events.localClock << local;
        t.events.remoteClock << remote;
        m = MatchLink(t.events);
        QVERIFY(m.crossCheck.available && m.crossCheck.agrees);
        t.events.local.clear();
        t.events.remote.clear();
        m = MatchLink(t.events);
        QCOMPARE(m.basis, OffsetBasis::Readings);
        QCOMPARE(m.offsetMs, 2000.0);
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

    // An event prints as its record file's line, milliseconds above 999 included.
    void recordLines() {
        EventRow row;
        row.unitTime = UnitTimeKeyOf(0x08, 12, 0x25, 0x13, 0x45, 0x07, 123);
        row.code = 1;
        QCOMPARE(EventRecordLine(row, 5, Lang::English),
                 QStringLiteral("5  2008-12-25  13:45:07.123  Send Command 1."));
        row.unitTime = UnitTimeKeyOf(0x08, 3, 0x05, 0x09, 0x05, 0x07, 1665);
        row.code = 39;
        QCOMPARE(EventRecordLine(row, 1, Lang::English),
                 QStringLiteral("1  2008-03-5  9:05:07.1665  Invalid Record."));
        row.code = 20;
        QCOMPARE(EventRecordLine(row, 2, Lang::Chinese),
                 QStringLiteral("2  2008-03-5  9:05:07.1665  收命令2返回。"));
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
                 QByteArray("kind,command,direction,pair,local clock,remote clock,axis time,transfer "
                            "ms,apparent delay ms,offset ms,rate ms/day,pairs,basis,sent,received,lost,"
                            "unwanted,not covered,median ms,p95 ms,max ms\r"));
        QVERIFY2(lines[4].startsWith("note,,,,,,,,,,,,basis: both-ways"), lines[4]);
        QVERIFY2(lines[5].startsWith("segment,,,first-traffic,"), lines[5]);
        QVERIFY(std::abs(lines[5].split(',')[9].toDouble() - 2314) <= 1.5);
        QVERIFY2(csv.out.contains("count,4,local-remote,command,,,,,,,,0,,1,0,1,0,0,"), csv.out);
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
        QVERIFY2(one.out.contains("\nnote,,,,,,,,,,,,basis: one-way"), one.out);
        QVERIFY(one.err.contains("cannot be split"));
    }
};

QTEST_MAIN(TestMatching)
#include "tst_matching.moc"
