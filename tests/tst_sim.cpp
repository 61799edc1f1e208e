// The simulated pair is the reference the end-to-end suites lean on: its answers are checked
// here byte for byte against the protocol's examples.

#include "sim/SimPtyServer.h"

#include <QSerialPort>
#include <QtTest>

#include <functional>

namespace {

QDateTime at(const char* text) {
    return QDateTime::fromString(QString(text).replace(' ', 'T') + 'Z', Qt::ISODate);
}
// Stops the unit's clock at the time given ("yyyy-MM-dd HH:mm:ss", UTC).
bool freeze(SimUnit& unit, const char* text) {
    unit.setClockFrozen(true);
    return unit.setClock(at(text));
}

// Runs a script "sent > answer; sent > answer; ..." (hex) through `feed(sent, answer length)`;
// returns the first step whose answer differs, empty when all agree.
QString run(const char* script, const std::function<QByteArray(const QByteArray&, qsizetype)>& feed) {
    for (const QByteArray& step : QByteArray(script).split(';')) {
        const QList<QByteArray> parts = step.split('>');
        const QByteArray want = QByteArray::fromHex(parts.value(1)),
                         got = feed(QByteArray::fromHex(parts[0]), want.size());
        if (got != want)
            return QString::fromLatin1(step + " got " + got.toHex(' '));
    }
    return {};
}
#define RUN(pair, script)                                                                                    \
    QCOMPARE(run(script, [&](const QByteArray& sent, qsizetype) { return pair.feed(sent); }), QString())
// The same with the faults given (designated initialisers of SimFaults) switched on first.
#define RUNF(pair, script, ...)                                                                              \
    pair.setFaults(SimFaults{__VA_ARGS__});                                                                  \
    RUN(pair, script)

// Runs a script over a serial line to the pseudo-terminal: each answer is read until it is
// complete or the line stays quiet for 3 s.
QString talk(const QString& path, const char* script) {
    QSerialPort port(path);
    if (!port.open(QIODevice::ReadWrite))
        return "cannot open " + path;
    return run(script, [&port](const QByteArray& sent, qsizetype n) {
        port.write(sent);
        QByteArray got;
        while (got.size() < n && (port.bytesAvailable() || port.waitForReadyRead(3000)))
            got += port.read(n - got.size());
        return got;
    });
}

} // namespace

class TestSim : public QObject {
    Q_OBJECT

private slots:
    void configurationBlock() {
        SimPair pair;
        RUN(pair, "89 > 7601012C81E4551B00; 86 > 79; FF >");
        pair.local().address = 0;
        pair.local().inputDelay.fill(0);
        pair.local().outputDelay.fill(3);
        // Block bytes are data even where they look like command bytes (0x89); an address above
        // 65000 refuses the whole block.
        RUN(pair, "92 > 6D; 01 89 81 E4 55 1B 00 >; 89 > 7601018981E4551B00;"
                  "92 FD E9 FF FF FF FF FF > 6D; 89 > 7601018981E4551B00");
        // A 4-command unit clears bit 0 of the flags and keeps and sends nothing for commands 5 to 8.
        pair.local().commands = 4;
        RUN(pair, "92 FD E8 FF FF FF FF FF > 6D; 89 > 7600FDE80FFF00FF00");
        QCOMPARE(pair.local().outputDelay[4], quint8(0));
    }

    void clockWrites() {
        SimPair pair;
        SimUnit& unit = pair.local();
        QVERIFY(freeze(unit, "2008-12-26 09:05:07"));
        // FF for a group keeps it; after FF FF the unit takes commands again at once.
        RUN(pair, "90 > 6F 08 12 26 09 05 07; 91 > 6E; 24 02 29 23 59 58 >; 90 > 6F 24 02 29 23 59 58;"
                  "91 FF 10 20 30 > 6E; 90 > 6F 24 02 29 10 20 30; 91 99 01 31 FF > 6E;"
                  "91 FF FF 86 > 6E 79; 90 > 6F 99 01 31 10 20 30");
        // Invalid BCD or impossible values refuse the whole write, both groups.
        RUN(pair, "91 1A 01 01 00 00 00 > 6E; 91 08 13 01 00 00 00 > 6E; 91 23 02 29 00 00 00 > 6E;"
                  "91 08 04 31 FF > 6E; 91 FF 24 00 00 > 6E; 91 FF 12 60 00 > 6E; 91 08 00 01 FF > 6E;"
                  "91 08 12 26 09 0A 00 > 6E; 90 > 6F 99 01 31 10 20 30");
        // A running clock advances from the value written.
        unit.setClockFrozen(false);
        RUN(pair, "91 08 12 26 23 59 59 > 6E");
        QVERIFY(unit.clock() >= at("2008-12-26 23:59:59") && unit.clock() < at("2008-12-27 00:01:00"));
    }

    void remoteRequestsReachTheRemoteUnit() {
        SimPair pair;
        pair.remote().commands = 4;
        pair.remote().address = 65000;
        QVERIFY(freeze(pair.remote(), "2030-07-04 12:00:01") && freeze(pair.local(), "2008-12-26 09:05:07"));
        // Each remote request reads or writes the remote unit only.
        RUN(pair, "76 > 8900FDE80A1B00E400; 6F > 90 30 07 04 12 00 01; 6E 08 01 02 03 04 05 > 91;"
                  "6F > 90 08 01 02 03 04 05; 90 > 6F 08 12 26 09 05 07; 6D 01 2C 81 E4 55 1B 00 > 92;"
                  "76 > 8900012C01E4001B00; 89 > 7601012C81E4551B00");
        const QByteArray records = pair.feed(0x78);
        QCOMPARE(QPair(records.size(), records.left(10)),
                 QPair(qsizetype(2 + 8 * 42),
                       QByteArray::fromHex("872A 24 17 09 05 07 61 01 07"))); // 2024-06-17 9:05:07.107
        QVERIFY(records.mid(2) != pair.feed(0x87).mid(2));
        RUN(pair, "77 > 88; 78 > 8700");

        // The local log is untouched. Newest first: 2024-06-18 14:32:05.417, code 1; month 6 and
        // hundreds 4 share byte 5.
        const QByteArray full = pair.feed(0x87);
        QCOMPARE(QPair(full.size(), full.left(10)),
                 QPair(qsizetype(2 + 8 * 42), QByteArray::fromHex("782A 24 18 14 32 05 64 01 17")));
        // 255 marks the busy answer from the far side, so the remote sends at most 254.
        pair.remote().seedLog(255);
        const QByteArray remote = pair.feed(0x78);
        QCOMPARE(QPair(remote.size(), remote.left(2)),
                 QPair(qsizetype(2 + 8 * 254), QByteArray::fromHex("87FE")));
        RUN(pair, "88 > 77; 87 > 7800");
        QCOMPARE(pair.remote().log.size(), size_t(255));
    }

    void faultSwitches() {
        SimPair pair;
        RUNF(pair, "76 > 8901FF; 78 > 87FF; 89 > 7601012C81E4551B00", .remoteUnreachable = true,
             .remoteBusy = true);
        pair.remote().commands = 4;
        RUN(pair, "76 > 8900FF");
        // A wrong answer byte; a garbled invitation opens no data phase.
        RUNF(pair, "86 > 00; 89 > 0001012C81E4551B00", .wrongFirstByte = true);
        RUNF(pair, "92 89 > 79 79 01012C81E4551B00", .wrongFirstByte = true, .wrongByte = 0x79);
        QCOMPARE(pair.feed(0x87).left(2), QByteArray::fromHex("792A"));
        // Silent: no answer, and a write is not taken either.
        RUNF(pair, "86 89 92 00 00 00 00 00 00 00 >", .silent = true);
        RUNF(pair, "89 > 7601012C81E4551B00");
        // Cable pulled: half of the first answer, then nothing at all until reconnected.
        RUNF(pair, "89 > 7601012C; 86 89 87 >", .cablePulled = true);
        QVERIFY(pair.cableCut());
        pair.setFaults({});
        pair.reconnectCable();
        RUN(pair, "86 > 79");

        pair.setFaults({.fullLocalLog = true});
        const QByteArray answer = pair.feed(0x87);
        QCOMPARE(QPair(answer.size(), answer.left(2)), QPair(qsizetype(2042), QByteArray::fromHex("78FF")));
        // Timing: one batch at once without faults; late by lateMs; split into small batches.
        QCOMPARE(QPair(pair.schedule(answer).size(), pair.schedule(answer).first().delayMs),
                 QPair(qsizetype(1), 0));
        pair.setFaults({.late = true});
        QCOMPARE(pair.schedule(QByteArray::fromHex("79")).first().delayMs, 300);
        pair.setFaults({.late = true, .lateMs = 50, .split = true});
        const auto batches = pair.schedule(answer);
        QVERIFY(batches.size() > 10 && batches.first().delayMs == 50);
        QByteArray joined;
        for (const SimBatch& b : batches) {
            QVERIFY(!b.bytes.isEmpty() && b.delayMs > 0);
            joined += b.bytes;
        }
        QCOMPARE(joined, answer);
    }

    void pseudoTerminalAndProgram() {
        QTemporaryDir dir;
        const QString link = dir.filePath("lmx207"), wireLog = dir.filePath("wire.log");
        SimPtyServer server;
        server.setLinkPath(link);
        server.setWireLogPath(wireLog);
        QString error;
        QVERIFY2(server.start(&error), qPrintable(error));
        QCOMPARE(QFileInfo(link).symLinkTarget(), server.slavePath());
        QCOMPARE(talk(link, "86 > 79; 89 > 7601012C81E4551B00"), QString());
        // Closing the port does not break the next opening; data after an invitation reaches the pair.
        QCOMPARE(talk(server.slavePath(), "92 > 6D; 02 00 00 00 00 00 00 89 > 7601020000000000 00"),
                 QString());
        server.stop();
        QVERIFY(!server.isRunning() && !QFileInfo(link).isSymLink());
        QFile log(wireLog);
        const QString text = log.open(QIODevice::ReadOnly) ? QString::fromLatin1(log.readAll()) : QString();
        QVERIFY(text.contains(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} PC->unit 86\n",
                                                 QRegularExpression::MultilineOption)));
        QVERIFY(text.contains(" unit->PC 76 01 01 2C 81 E4 55 1B 00\n"));

        // The program: its options, the path on its first line, a clean end on SIGTERM.
        QProcess sim;
        sim.start(LMX207_SIM_BINARY,
                  {"--no-pacing", "--local-commands", "4", "--remote-busy", "--link", link});
        QVERIFY(sim.waitForStarted(5000) && sim.waitForReadyRead(5000));
        const QString path = QString::fromLocal8Bit(sim.readLine()).trimmed();
        QVERIFY(path.startsWith("/dev/pts/") && QFileInfo(link).symLinkTarget() == path);
        QCOMPARE(talk(path, "89 > 7600012C01E4001B00; 78 > 87FF"), QString());
        sim.terminate();
        QVERIFY(sim.waitForFinished(5000));
        QCOMPARE(QPair(sim.exitStatus(), sim.exitCode()), QPair(QProcess::NormalExit, 0));
        QVERIFY(!QFileInfo(link).isSymLink());
    }
};

QTEST_GUILESS_MAIN(TestSim)
#include "tst_sim.moc"
