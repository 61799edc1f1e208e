// The simulated pair is the reference the end-to-end suites lean on: its answers are checked
// here byte for byte against the protocol's examples.

#include "sim/SimPtyServer.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

QDateTime at(int y, int mo, int d, int h, int mi, int s) {
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s), Qt::UTC);
}

// Runs a script "sent > answer; sent > answer; ..." (hex) through the pair; returns the first
// step whose answer differs, empty when all agree.
QString run(SimPair& pair, const char* script) {
    for (const QByteArray& step : QByteArray(script).split(';')) {
        const QList<QByteArray> parts = step.split('>');
        const QByteArray got = pair.feed(QByteArray::fromHex(parts[0]));
        if (got != QByteArray::fromHex(parts.value(1)))
            return QString::fromLatin1(step + " got " + got.toHex(' '));
    }
    return {};
}
#define RUN(pair, script) QCOMPARE(run(pair, script), QString())

// A raw line to the pseudo-terminal, whose reads wait at most 3 s for a first byte.
int openRaw(const QString& path) {
    const int fd = open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY);
    termios tio{};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 30;
    tcsetattr(fd, TCSANOW, &tio);
    return fd;
}

// Sends the bytes, then reads until n bytes are in or the line stays quiet.
QByteArray exchange(int fd, const char* sent, int n) {
    const QByteArray out = hex(sent);
    ssize_t r = write(fd, out.constData(), size_t(out.size()));
    QByteArray got;
    char buf[64];
    while (got.size() < n && r > 0 && (r = read(fd, buf, size_t(qMin<qsizetype>(64, n - got.size())))) > 0)
        got.append(buf, r);
    return got;
}

} // namespace

class TestSim : public QObject {
    Q_OBJECT

private slots:
    void configuration() {
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

    void dateTimeWrites() {
        SimPair pair;
        SimUnit& unit = pair.local();
        unit.setClockFrozen(true);
        QVERIFY(unit.setClock(at(2008, 12, 26, 9, 5, 7)));
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
        QVERIFY(unit.clock() >= at(2008, 12, 26, 23, 59, 59) && unit.clock() < at(2008, 12, 27, 0, 1, 0));
    }

    void remoteTwins() {
        SimPair pair;
        pair.remote().commands = 4;
        pair.remote().address = 65000;
        pair.remote().setClockFrozen(true);
        pair.remote().setClock(at(2030, 7, 4, 12, 0, 1));
        pair.local().setClockFrozen(true);
        pair.local().setClock(at(2008, 12, 26, 9, 5, 7));
        // Each remote request reads or writes the remote unit only.
        RUN(pair, "76 > 8900FDE80A1B00E400; 6F > 90 30 07 04 12 00 01; 6E 08 01 02 03 04 05 > 91;"
                  "6F > 90 08 01 02 03 04 05; 90 > 6F 08 12 26 09 05 07; 6D 01 2C 81 E4 55 1B 00 > 92;"
                  "76 > 8900012C01E4001B00; 89 > 7601012C81E4551B00");
        const QByteArray records = pair.feed(0x78);
        QCOMPARE(records.size(), 2 + 8 * 42);
        QCOMPARE(records.left(10), hex("872A 24 17 09 05 07 61 01 07")); // 2024-06-17 9:05:07.107
        QVERIFY(records.mid(2) != pair.feed(0x87).mid(2));
        RUN(pair, "77 > 88; 78 > 8700");
        QCOMPARE(pair.feed(0x87).size(), 2 + 8 * 42); // the local log is untouched
    }

    void recordAnswers() {
        SimPair pair;
        const QByteArray full = pair.feed(0x87);
        QCOMPARE(full.size(), 2 + 8 * 42);
        // Newest first: 2024-06-18 14:32:05.417, code 1; month 6 and hundreds 4 share byte 5.
        QCOMPARE(full.left(10), hex("782A 24 18 14 32 05 64 01 17"));
        // The log holds every event kind, known codes and the unknown ones.
        QSet<int> codes;
        for (int k = 8; k < full.size(); k += 8)
            codes.insert(quint8(full[k]));
        for (int code = 0; code <= 40; ++code)
            QVERIFY(codes.contains(code == 40 ? 255 : code));
        for (int n : {0, 3, 255}) {
            pair.local().seedLog(n);
            const QByteArray answer = pair.feed(0x87);
            QCOMPARE(answer.size(), 2 + 8 * n);
            QCOMPARE(answer.left(2), QByteArray("\x78") + char(n));
        }
        // 255 marks the busy answer from the far side, so the remote sends at most 254.
        pair.remote().seedLog(255);
        const QByteArray remote = pair.feed(0x78);
        QCOMPARE(remote.size(), 2 + 8 * 254);
        QCOMPARE(remote.left(2), hex("87FE"));
        RUN(pair, "88 > 77; 87 > 7800");
        QCOMPARE(pair.remote().log.size(), size_t(255));
    }

    void faults() {
        SimPair pair;
        pair.setFaults({.remoteUnreachable = true, .remoteBusy = true});
        RUN(pair, "76 > 8901FF; 78 > 87FF; 89 > 7601012C81E4551B00");
        pair.remote().commands = 4;
        RUN(pair, "76 > 8900FF");
        // A wrong answer byte; a garbled invitation opens no data phase.
        pair.setFaults({.wrongFirstByte = true});
        RUN(pair, "86 > 00; 89 > 0001012C81E4551B00");
        pair.setFaults({.wrongFirstByte = true, .wrongByte = 0x79});
        RUN(pair, "92 89 > 79 79 01012C81E4551B00");
        QCOMPARE(pair.feed(0x87).left(2), hex("792A"));
        // Silent: no answer, and a write is not taken either.
        pair.setFaults({.silent = true});
        RUN(pair, "86 89 92 00 00 00 00 00 00 00 >");
        pair.setFaults({});
        RUN(pair, "89 > 7601012C81E4551B00");
        // Cable pulled: half of the first answer, then nothing at all until reconnected.
        pair.setFaults({.cablePulled = true});
        RUN(pair, "89 > 7601012C; 86 89 87 >");
        QVERIFY(pair.cableCut());
        pair.setFaults({});
        pair.reconnectCable();
        RUN(pair, "86 > 79");

        pair.setFaults({.fullLocalLog = true});
        const QByteArray answer = pair.feed(0x87);
        QCOMPARE(answer.size(), 2042);
        QCOMPARE(answer.left(2), hex("78FF"));
        // Timing: one batch at once without faults; late by lateMs; split into small batches.
        QCOMPARE(pair.schedule(answer).first().delayMs, 0);
        QCOMPARE(pair.schedule(answer).size(), 1);
        pair.setFaults({.late = true});
        QCOMPARE(pair.schedule(hex("79")).first().delayMs, 300);
        pair.setFaults({.late = true, .lateMs = 50, .split = true});
        const auto batches = pair.schedule(answer);
        QVERIFY(batches.size() > 10);
        QCOMPARE(batches.first().delayMs, 50);
        QByteArray joined;
        for (const SimBatch& b : batches) {
            QVERIFY(!b.bytes.isEmpty() && b.delayMs > 0);
            joined += b.bytes;
        }
        QCOMPARE(joined, answer);
    }

    void pseudoTerminalAndProgram() {
        QTemporaryDir dir;
        const QString link = dir.filePath("lmx207");
        const QString wireLog = dir.filePath("wire.log");
        SimPtyServer server;
        server.setLinkPath(link);
        server.setWireLogPath(wireLog);
        QString error;
        QVERIFY2(server.start(&error), qPrintable(error));
        QCOMPARE(QFileInfo(link).symLinkTarget(), server.slavePath());
        int fd = openRaw(link);
        QVERIFY(fd >= 0);
        QCOMPARE(exchange(fd, "86", 1), hex("79"));
        QCOMPARE(exchange(fd, "89", 9), hex("7601012C81E4551B00"));
        close(fd);
        // Closing the port does not break the next opening; data after an invitation reaches the pair.
        fd = openRaw(server.slavePath());
        QVERIFY(fd >= 0);
        QCOMPARE(exchange(fd, "92", 1), hex("6D"));
        QCOMPARE(exchange(fd, "02 00 00 00 00 00 00 89", 9), hex("7601020000000000 00"));
        close(fd);
        server.stop();
        QVERIFY(!server.isRunning() && !QFileInfo(link).isSymLink());
        QFile log(wireLog);
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QString text = QString::fromLatin1(log.readAll());
        QVERIFY(text.contains(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} PC->unit 86\n",
                                                 QRegularExpression::MultilineOption)));
        QVERIFY(text.contains(" unit->PC 76 01 01 2C 81 E4 55 1B 00\n"));

        // The program: its options, the path on its first line, a clean end on SIGTERM.
        QProcess sim;
        sim.start(LMX207_SIM_BINARY,
                  {"--no-pacing", "--local-commands", "4", "--remote-busy", "--link", link});
        QVERIFY(sim.waitForStarted(5000) && sim.waitForReadyRead(5000));
        const QString path = QString::fromLocal8Bit(sim.readLine()).trimmed();
        QVERIFY(path.startsWith("/dev/pts/"));
        QCOMPARE(QFileInfo(link).symLinkTarget(), path);
        fd = openRaw(path);
        QVERIFY(fd >= 0);
        QCOMPARE(exchange(fd, "89", 9), hex("7600012C01E4001B00"));
        QCOMPARE(exchange(fd, "78", 2), hex("87FF"));
        close(fd);
        sim.terminate();
        QVERIFY(sim.waitForFinished(5000));
        QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
        QCOMPARE(sim.exitCode(), 0);
        QVERIFY(!QFileInfo(link).isSymLink());
    }
};

QTEST_GUILESS_MAIN(TestSim)
#include "tst_sim.moc"
