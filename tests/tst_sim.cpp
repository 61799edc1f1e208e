// The simulated pair is the reference the end-to-end suites lean on: its answers are checked
// here byte for byte against the protocol's examples.

#include "sim/SimPtyServer.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

QDateTime at(int y, int mo, int d, int h, int mi, int s) {
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s), Qt::UTC);
}

// Reads until n bytes are in or the wait is over; never blocks longer than timeoutMs.
QByteArray readBytes(int fd, int n, int timeoutMs = 3000) {
    QByteArray got;
    QDeadlineTimer deadline(timeoutMs);
    while (got.size() < n && !deadline.hasExpired()) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, int(qMax<qint64>(1, deadline.remainingTime()))) <= 0)
            continue;
        char buf[64];
        const ssize_t r = read(fd, buf, size_t(qMin<qsizetype>(sizeof buf, n - got.size())));
        if (r > 0)
            got.append(buf, r);
    }
    return got;
}

int openRaw(const QString& path) {
    const int fd = open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd >= 0) {
        termios tio{};
        tcgetattr(fd, &tio);
        cfmakeraw(&tio);
        tcsetattr(fd, TCSANOW, &tio);
    }
    return fd;
}

QByteArray exchange(int fd, quint8 command, int answerLength) {
    const char c = char(command);
    if (write(fd, &c, 1) != 1)
        return {};
    return readBytes(fd, answerLength);
}

} // namespace

class TestSim : public QObject {
    Q_OBJECT

private slots:
    void configurationAnswers();
    void configurationWrite();
    void dateTimeWrites();
    void remoteTwins();
    void recordAnswers();
    void faults();
    void timingFaultsSchedule();
    void pseudoTerminal();
    void program();
};

void TestSim::configurationAnswers() {
    SimPair pair;
    QCOMPARE(pair.feed(0x89), hex("7601012C81E4551B00"));
    QCOMPARE(pair.feed(0x86), hex("79"));

    // A 4-command unit clears bit 0 of the flags and sends nothing for commands 5 to 8.
    pair.local().commands = 4;
    QCOMPARE(pair.feed(0x89), hex("7600012C01E4001B00"));

    pair.local().commands = 8;
    pair.local().address = 65000;
    pair.local().inputDelay.fill(0);
    pair.local().outputDelay.fill(0);
    pair.local().outputExtend.fill(0);
    QCOMPARE(pair.feed(0x89), hex("7601FDE80000000000"));
    QCOMPARE(pair.feed(0xFF), QByteArray()); // not a command byte
}

void TestSim::configurationWrite() {
    SimPair pair;
    pair.local().address = 0;
    pair.local().inputDelay.fill(0);
    pair.local().outputDelay.fill(3);
    QCOMPARE(pair.feed(0x92), hex("6D"));
    // The block bytes are data even where they look like command bytes (0x89 here).
    QCOMPARE(pair.feed(hex("01 89 81 E4 55 1B 00")), QByteArray());
    QCOMPARE(pair.feed(0x89), hex("7601018981E4551B00"));
    QCOMPARE(pair.feed(0x92), hex("6D"));
    QCOMPARE(pair.feed(hex("01 2C 81 E4 55 1B 00")), QByteArray());
    QCOMPARE(pair.feed(0x89), hex("7601012C81E4551B00"));

    // An address above 65000 refuses the whole block.
    QCOMPARE(pair.feed(hex("92 FD E9 FF FF FF FF FF")), hex("6D"));
    QCOMPARE(pair.feed(0x89), hex("7601012C81E4551B00"));

    // A 4-command unit keeps nothing for commands 5 to 8.
    pair.local().commands = 4;
    QCOMPARE(pair.feed(hex("92 FD E8 FF FF FF FF FF")), hex("6D"));
    QCOMPARE(pair.feed(0x89), hex("7600FDE80FFF00FF00"));
    QCOMPARE(pair.local().outputDelay[4], quint8(0));
}

void TestSim::dateTimeWrites() {
    SimPair pair;
    SimUnit& unit = pair.local();
    unit.setClockFrozen(true);
    QVERIFY(unit.setClock(at(2008, 12, 26, 9, 5, 7)));
    QCOMPARE(pair.feed(0x90), hex("6F 08 12 26 09 05 07"));

    QCOMPARE(pair.feed(0x91), hex("6E"));
    QCOMPARE(pair.feed(hex("24 02 29 23 59 58")), QByteArray());
    QCOMPARE(pair.feed(0x90), hex("6F 24 02 29 23 59 58"));

    // FF for the date keeps it; the time is set.
    QCOMPARE(pair.feed(hex("91 FF 10 20 30")), hex("6E"));
    QCOMPARE(pair.feed(0x90), hex("6F 24 02 29 10 20 30"));

    // FF for the time keeps it; the date is set.
    QCOMPARE(pair.feed(hex("91 99 01 31 FF")), hex("6E"));
    QCOMPARE(pair.feed(0x90), hex("6F 99 01 31 10 20 30"));

    // FF FF changes nothing, and the unit takes commands again right after.
    QCOMPARE(pair.feed(hex("91 FF FF 86")), hex("6E 79"));
    QCOMPARE(pair.feed(0x90), hex("6F 99 01 31 10 20 30"));

    // Invalid BCD or impossible values refuse the whole write, both groups.
    const char* refused[] = {"1A 01 01 00 00 00", "08 13 01 00 00 00", "23 02 29 00 00 00",
                             "08 04 31 FF",       "FF 24 00 00",       "FF 12 60 00",
                             "08 00 01 FF",       "08 12 26 09 0A 00"};
    for (const char* data : refused) {
        QCOMPARE(pair.feed(0x91), hex("6E"));
        QCOMPARE(pair.feed(hex(data)), QByteArray());
        QVERIFY2(pair.feed(0x90) == hex("6F 99 01 31 10 20 30"), data);
    }

    // A running clock advances from the value written.
    unit.setClockFrozen(false);
    QCOMPARE(pair.feed(hex("91 08 12 26 23 59 59")), hex("6E"));
    QVERIFY(unit.clock() >= at(2008, 12, 26, 23, 59, 59));
    QVERIFY(unit.clock() < at(2008, 12, 27, 0, 1, 0));
}

void TestSim::remoteTwins() {
    SimPair pair;
    pair.remote().commands = 4;
    pair.remote().address = 65000;
    pair.remote().setClockFrozen(true);
    pair.remote().setClock(at(2030, 7, 4, 12, 0, 1));
    pair.local().setClockFrozen(true);
    pair.local().setClock(at(2008, 12, 26, 9, 5, 7));

    QCOMPARE(pair.feed(0x76), hex("8900FDE80A1B00E400"));
    QCOMPARE(pair.feed(0x6F), hex("90 30 07 04 12 00 01"));

    QCOMPARE(pair.feed(hex("6E 08 01 02 03 04 05")), hex("91"));
    QCOMPARE(pair.feed(0x6F), hex("90 08 01 02 03 04 05"));
    QCOMPARE(pair.feed(0x90), hex("6F 08 12 26 09 05 07"));

    QCOMPARE(pair.feed(hex("6D 01 2C 81 E4 55 1B 00")), hex("92"));
    QCOMPARE(pair.feed(0x76), hex("8900012C01E4001B00"));
    QCOMPARE(pair.feed(0x89), hex("7601012C81E4551B00"));

    const QByteArray remoteRecords = pair.feed(0x78);
    QCOMPARE(remoteRecords.size(), 2 + 8 * 42);
    QCOMPARE(remoteRecords.left(2), hex("872A"));
    QCOMPARE(remoteRecords.mid(2, 8), hex("24 17 09 05 07 61 01 07")); // 2024-06-17 9:05:07.107
    QVERIFY(remoteRecords.mid(2) != pair.feed(0x87).mid(2));

    QCOMPARE(pair.feed(0x77), hex("88"));
    QCOMPARE(pair.feed(0x78), hex("8700"));
    QCOMPARE(pair.feed(0x87).size(), 2 + 8 * 42); // the local log is untouched
}

void TestSim::recordAnswers() {
    SimPair pair;
    const QByteArray full = pair.feed(0x87);
    QCOMPARE(full.size(), 2 + 8 * 42);
    // Newest first: 2024-06-18 14:32:05.417, code 1; month 6 and hundreds 4 share byte 5.
    QCOMPARE(full.mid(2, 8), hex("24 18 14 32 05 64 01 17"));
    QSet<int> codes;
    for (int k = 0; k < 42; ++k) {
        const QByteArray rec = full.mid(2 + 8 * k, 8);
        codes.insert(quint8(rec[6]));
        int v = 0;
        for (int i : {0, 1, 2, 3, 4, 7})
            QVERIFY(fromBcd(quint8(rec[i]), &v));
        QVERIFY((quint8(rec[5]) >> 4) >= 1 && (quint8(rec[5]) >> 4) <= 12);
    }
    for (int code = 0; code <= 39; ++code)
        QVERIFY(codes.contains(code));
    QVERIFY(codes.contains(255));

    for (int n : {0, 3, 254, 255}) {
        pair.local().seedLog(n);
        const QByteArray answer = pair.feed(0x87);
        QCOMPARE(answer.size(), 2 + 8 * n);
        QCOMPARE(quint8(answer[0]), quint8(0x78));
        QCOMPARE(quint8(answer[1]), quint8(n));
    }
    // 255 marks the busy answer from the far side, so the remote sends at most 254.
    pair.remote().seedLog(255);
    QCOMPARE(pair.feed(0x78).left(2), hex("87FE"));
    QCOMPARE(pair.feed(0x78).size(), 2 + 8 * 254);

    QCOMPARE(pair.feed(0x88), hex("77"));
    QCOMPARE(pair.feed(0x87), hex("7800"));
    QCOMPARE(pair.remote().log.size(), size_t(255));
}

void TestSim::faults() {
    SimPair pair;
    SimFaults f;
    f.remoteUnreachable = true;
    f.remoteBusy = true;
    pair.setFaults(f);
    QCOMPARE(pair.feed(0x76), hex("8901FF"));
    QCOMPARE(pair.feed(0x78), hex("87FF"));
    pair.remote().commands = 4;
    QCOMPARE(pair.feed(0x76), hex("8900FF"));
    QCOMPARE(pair.feed(0x89), hex("7601012C81E4551B00"));

    f = SimFaults();
    f.wrongFirstByte = true;
    pair.setFaults(f);
    QCOMPARE(pair.feed(0x86), hex("00"));
    QCOMPARE(pair.feed(0x89), hex("0001012C81E4551B00"));
    f.wrongByte = 0x79;
    pair.setFaults(f);
    QCOMPARE(pair.feed(0x87).left(2), hex("792A"));
    // A garbled invitation opens no data phase: the next byte is answered as a command.
    QCOMPARE(pair.feed(hex("92 89")), hex("79 79 01012C81E4551B00"));

    // Silent: no answer, and a write is not taken either.
    f = SimFaults();
    f.silent = true;
    pair.setFaults(f);
    QCOMPARE(pair.feed(hex("86 89 92 00 00 00 00 00 00 00")), QByteArray());
    pair.setFaults(SimFaults());
    QCOMPARE(pair.feed(0x89), hex("7601012C81E4551B00"));

    // Cable pulled: half of the first answer, then nothing at all.
    f = SimFaults();
    f.cablePulled = true;
    pair.setFaults(f);
    QCOMPARE(pair.feed(0x89), hex("7601012C"));
    QVERIFY(pair.cableCut());
    QCOMPARE(pair.feed(hex("86 89 87")), QByteArray());
    pair.setFaults(SimFaults());
    pair.reconnectCable();
    QCOMPARE(pair.feed(0x86), hex("79"));

    f = SimFaults();
    f.fullLocalLog = true;
    pair.setFaults(f);
    const QByteArray answer = pair.feed(0x87);
    QCOMPARE(answer.size(), 2042);
    QCOMPARE(answer.left(2), hex("78FF"));
}

void TestSim::timingFaultsSchedule() {
    SimPair pair;
    const QByteArray answer = pair.feed(0x87);
    QCOMPARE(pair.schedule(answer).size(), 1);
    QCOMPARE(pair.schedule(answer).first().delayMs, 0);
    QVERIFY(pair.schedule(QByteArray()).isEmpty());

    SimFaults f;
    f.late = true;
    pair.setFaults(f);
    const auto late = pair.schedule(hex("79"));
    QCOMPARE(late.size(), 1);
    QCOMPARE(late.first().delayMs, 300);

    f.split = true;
    f.lateMs = 50;
    pair.setFaults(f);
    const auto batches = pair.schedule(answer);
    QVERIFY(batches.size() > 10);
    QCOMPARE(batches.first().delayMs, 50);
    QByteArray joined;
    for (const SimBatch& b : batches) {
        QVERIFY(!b.bytes.isEmpty());
        QVERIFY(b.delayMs > 0);
        joined += b.bytes;
    }
    QCOMPARE(joined, answer);
}

void TestSim::pseudoTerminal() {
    QTemporaryDir dir;
    const QString link = dir.filePath("lmx207");
    const QString wireLog = dir.filePath("wire.log");
    SimPtyServer server;
    server.setLinkPath(link);
    server.setWireLogPath(wireLog);
    QString error;
    QVERIFY2(server.start(&error), qPrintable(error));
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(QFileInfo(link).symLinkTarget(), server.slavePath());

    for (int round = 0; round < 2; ++round) { // closing the port must not break the next opening
        const int fd = openRaw(link);
        QVERIFY(fd >= 0);
        QCOMPARE(exchange(fd, 0x86, 1), hex("79"));
        QCOMPARE(exchange(fd, 0x89, 9), hex("7601012C81E4551B00"));
        close(fd);
    }
    // Data after an invitation reaches the pair through the line as well.
    const int fd = openRaw(server.slavePath());
    QVERIFY(fd >= 0);
    QCOMPARE(exchange(fd, 0x92, 1), hex("6D"));
    QCOMPARE(write(fd, hex("02 00 00 00 00 00 00").constData(), 7), ssize_t(7));
    QCOMPARE(exchange(fd, 0x89, 9), hex("7601020000000000 00"));
    close(fd);
    server.withPair([](SimPair& pair) { QCOMPARE(pair.local().address, 512); });

    server.stop();
    QVERIFY(!server.isRunning());
    QVERIFY(!QFileInfo::exists(link) && !QFileInfo(link).isSymLink());
    QFile log(wireLog);
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QString text = QString::fromLatin1(log.readAll());
    QVERIFY(text.contains(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} PC->unit 86\n",
                                             QRegularExpression::MultilineOption)));
    QVERIFY(text.contains(" unit->PC 76 01 01 2C 81 E4 55 1B 00\n"));
}

void TestSim::program() {
    QTemporaryDir dir;
    const QString link = dir.filePath("com1");
    QProcess sim;
    sim.start(LMX207_SIM_BINARY, {"--no-pacing", "--local-commands", "4", "--remote-busy", "--link", link});
    QVERIFY(sim.waitForStarted(5000));
    QVERIFY(sim.waitForReadyRead(5000));
    const QString path = QString::fromLocal8Bit(sim.readLine()).trimmed();
    QVERIFY(path.startsWith("/dev/pts/"));
    QCOMPARE(QFileInfo(link).symLinkTarget(), path);

    const int fd = openRaw(path);
    QVERIFY(fd >= 0);
    QCOMPARE(exchange(fd, 0x89, 9), hex("7600012C01E4001B00"));
    QCOMPARE(exchange(fd, 0x78, 2), hex("87FF"));
    close(fd);

    sim.terminate();
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
    QVERIFY(!QFileInfo(link).isSymLink());
}

QTEST_GUILESS_MAIN(TestSim)
#include "tst_sim.moc"
