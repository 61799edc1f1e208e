// Traffic on the simulated link: each send at one unit has its receive at the other a transfer
// time later, on each unit's own clock; lost and invented commands; the program's switches.

#include "sim/SimTraffic.h"

#include <QProcess>
#include <QtTest>

namespace {

const QDateTime kNow(QDate(2026, 12, 7), QTime(9, 30, 0, 250), Qt::UTC);

// A record's time on its unit's clock, and its code.
struct Logged {
    QDateTime at;
    int code;
};
Logged Read(const SimRecord& r) {
    const auto bcd = [](quint8 b) { return (b >> 4) * 10 + (b & 0x0F); };
    const int ms = (r[5] & 0x0F) * 100 + bcd(r[7]);
    return {QDateTime(QDate(2000 + bcd(r[0]), r[5] >> 4, bcd(r[1])),
                      QTime(bcd(r[2]), bcd(r[3]), bcd(r[4]), ms), Qt::UTC),
            r[6]};
}
QList<Logged> Log(const SimUnit& unit) {
    QList<Logged> l;
    for (const SimRecord& r : unit.log)
        l << Read(r);
    return l;
}

SimPair EmptyPair() {
    SimPair pair;
    pair.local().log.clear();
    pair.remote().log.clear();
    return pair;
}

} // namespace

class TestSimTraffic : public QObject {
    Q_OBJECT

private slots:
    // Commands alternately each way, command 1 to 8 in turn: every send has its receive at the other
    // end after 8 to 12 ms plus the clocks' offset, every return 100 ms after its command; newest
    // first, before what the logs held; the clocks run from their offsets.
    void sendsHaveTheirReceives() {
        SimPair pair = EmptyPair();
        pair.remote().seedLog(3);
        SimTraffic t;
        t.commands = 20;
        t.localClockOffsetMs = -1000;
        t.remoteClockOffsetMs = 1314;
        const QList<SimTrafficCommand> done = AddSimTraffic(pair, t, kNow);
        QCOMPARE(done.size(), 20);
        QCOMPARE(pair.local().log.size(), size_t(40));
        QCOMPARE(pair.remote().log.size(), size_t(43));
        const QList<Logged> local = Log(pair.local());
        const QList<Logged> remote = Log(pair.remote());
        QVERIFY(std::is_sorted(local.begin(), local.end(), [](auto& a, auto& b) { return a.at > b.at; }));
        QVERIFY(local.first().at <= kNow.addMSecs(-1000));
        QCOMPARE(remote.last().code, 3); // the seeded records follow the traffic
        for (int i = 0; i < done.size(); ++i) {
            const SimTrafficCommand& c = done[i];
            QCOMPARE(c.command, i / 2 % 8 + 1);
            QCOMPARE(c.localToRemote, i % 2 == 0);
            const QList<Logged>& sender = c.localToRemote ? local : remote;
            const QList<Logged>& receiver = c.localToRemote ? remote : local;
            const qint64 offset = c.localToRemote ? 2314 : -2314;
            for (int ret = 0; ret < 2; ++ret) {
                const QDateTime sent = c.sentAt.addMSecs(100 * ret);
                QVERIFY(std::any_of(sender.begin(), sender.end(), [&](const Logged& l) {
                    return l.at == sent && l.code == 2 * c.command - 1 + ret;
                }));
                QCOMPARE(std::count_if(receiver.begin(), receiver.end(),
                                       [&](const Logged& l) {
                                           const qint64 d = sent.msecsTo(l.at) - offset;
                                           return l.code == 2 * c.command + 15 + ret && d >= 8 && d <= 12;
                                       }),
                         1);
            }
        }
        QVERIFY(std::abs(pair.local().clock().msecsTo(kNow) - 1000) < 1000);
        QVERIFY(std::abs(kNow.msecsTo(pair.remote().clock()) - 1314) < 1000);
    }

    // Lost and invented commands, one way only, drift, 4-command units, and a full log.
    void faultsAndSwitches_data() {
        QTest::addColumn<int>("commands");
        QTest::addColumn<int>("ways");
        QTest::addColumn<QList<int>>("lose");
        QTest::addColumn<QList<int>>("invent");
        QTest::addColumn<int>("localRecords");
        QTest::addColumn<int>("remoteRecords");
        QTest::newRow("command 3 lost") << 6 << 0 << QList<int>{3} << QList<int>{} << 12 << 10;
        QTest::newRow("a receive after command 2 invented")
            << 6 << 0 << QList<int>{} << QList<int>{2} << 14 << 12;
        QTest::newRow("local to remote only") << 5 << 1 << QList<int>{} << QList<int>{} << 10 << 10;
        QTest::newRow("remote to local only, 2 lost")
            << 5 << 2 << QList<int>{1, 5} << QList<int>{} << 6 << 10;
        QTest::newRow("a log keeps its newest 255") << 200 << 0 << QList<int>{} << QList<int>{} << 255 << 255;
    }
    void faultsAndSwitches() {
        QFETCH(int, commands);
        QFETCH(int, ways);
        QFETCH(QList<int>, lose);
        QFETCH(QList<int>, invent);
        QFETCH(int, localRecords);
        QFETCH(int, remoteRecords);
        SimPair pair = EmptyPair();
        pair.remote().commands = 4;
        SimTraffic t;
        t.commands = commands;
        t.ways = SimTraffic::Ways(ways);
        t.lose = lose;
        t.invent = invent;
        const QList<SimTrafficCommand> done = AddSimTraffic(pair, t, kNow);
        QCOMPARE(int(pair.local().log.size()), localRecords);
        QCOMPARE(int(pair.remote().log.size()), remoteRecords);
        for (qsizetype i = 0; i < done.size(); ++i) {
            const SimTrafficCommand& c = done[i];
            QVERIFY(c.command >= 1 && c.command <= 4);
            QCOMPARE(c.lost, lose.contains(c.number));
            QCOMPARE(c.receivedAt.isValid(), !c.lost);
            if (ways)
                QCOMPARE(c.localToRemote, ways == 1);
            if (c.number == 0) // invented: 2.5 s after the command before it
                QVERIFY(c.receivedAt > done[i - 1].sentAt.addMSecs(2400));
        }
        if (commands == 200) { // the newest are kept: the last command is in, the first is not
            const SimTrafficCommand& l = done.last();
            QVERIFY(Read(pair.local().log.front()).at >= (l.localToRemote ? l.sentAt : l.receivedAt));
            QVERIFY(Read(pair.local().log.back()).at > done[1].receivedAt);
        }
    }

    // A clock that ran a second a day fast stamps a day-old command a second less ahead.
    void driftBeforeNow() {
        SimPair pair = EmptyPair();
        SimTraffic t;
        t.commands = 25;
        t.spacingMs = 3'600'000;
        t.remoteDriftMsPerDay = 1000;
        t.transferMs = 10;
        t.jitterMs = 0;
        const QList<SimTrafficCommand> done = AddSimTraffic(pair, t, kNow);
        const SimTrafficCommand& first = done.first();
        const SimTrafficCommand& last = done.last(); // local to remote, as the first
        const qint64 before = first.sentAt.msecsTo(kNow);
        QVERIFY(before > 86'400'000);
        // Local to remote: the remote stamp is ahead of the local one by transfer plus offset.
        const double offsetFirst = double(first.sentAt.msecsTo(first.receivedAt) - 10);
        const double offsetLast = double(last.sentAt.msecsTo(last.receivedAt) - 10);
        QVERIFY2(std::abs(offsetFirst + 1000.0 * double(before) / 86'400'000) <= 1,
                 qPrintable(QString::number(offsetFirst)));
        QVERIFY(offsetLast > offsetFirst + 900);
    }

    // The program refuses switches out of range and says which.
    void programSwitches() {
        const QList<QPair<QStringList, QString>> cases{
            {{"--traffic", "3", "--lose-command", "4"},
             "--lose-command must be 1 to --traffic (3), not \"4\""},
            {{"--traffic", "3", "--invent-command", "x"}, "--invent-command must be 1 to --traffic (3)"},
            {{"--traffic-ways", "sideways"}, "--traffic-ways must be both, local or remote"},
            {{"--transfer-ms", "5", "--transfer-jitter-ms", "6"}, "--transfer-jitter-ms must be 0 to 5"},
            {{"--traffic", "1001"}, "--traffic must be 0 to 1000"},
        };
        for (const auto& [args, message] : cases) {
            QProcess sim;
            sim.start(LMX207_SIM_BINARY, args);
            QVERIFY(sim.waitForFinished(5000));
            QCOMPARE(sim.exitCode(), 2);
            QVERIFY2(QString::fromLocal8Bit(sim.readAllStandardError()).contains(message),
                     qPrintable(message));
        }
    }
};

QTEST_GUILESS_MAIN(TestSimTraffic)
#include "tst_sim_traffic.moc"
