#include "config/ConfigFormat.h"

#include <QByteArray>
#include <QTest>

namespace {

QByteArray Bytes(const std::array<unsigned char, kConfigBlockLength>& block) {
    return QByteArray(reinterpret_cast<const char*>(block.data()), qsizetype(block.size()));
}

const unsigned char* U(const QByteArray& b) {
    return reinterpret_cast<const unsigned char*>(b.constData());
}

} // namespace

class TestConfigFormat : public QObject {
    Q_OBJECT

private slots:
    void workedExampleRoundTrip();
    void answerFlagsAndLength();
    void blockEdgeCases();
    void dateAndTime();
};

void TestConfigFormat::workedExampleRoundTrip() {
    const QByteArray answer = QByteArray::fromHex("7601012C81E4551B00");
    ConfigSettings s;
    QVERIFY(DecodeConfigAnswer(U(answer), int(answer.size()), &s));
    QCOMPARE(s.nCommands, 8);
    QCOMPARE(s.nAddress, 300);
    const int input[8] = {1, 0, 0, 0, 0, 0, 0, 1};
    const int delay[8] = {0, 1, 2, 3, 1, 1, 1, 1};
    const int extend[8] = {3, 2, 1, 0, 0, 0, 0, 0};
    for (int k = 0; k < 8; ++k) {
        QCOMPARE(s.inputDelay[k], input[k]);
        QCOMPARE(s.outputDelay[k], delay[k]);
        QCOMPARE(s.outputExtend[k], extend[k]);
    }
    QCOMPARE(Bytes(EncodeConfigBlock(s)), QByteArray::fromHex("012C81E4551B00"));
}

void TestConfigFormat::answerFlagsAndLength() {
    QByteArray answer = QByteArray::fromHex("76FE012CFFFFFFFFFF");
    ConfigSettings s;
    QVERIFY(DecodeConfigAnswer(U(answer), 9, &s));
    QCOMPARE(s.nCommands, 4);
    for (int k = 0; k < 4; ++k) {
        QCOMPARE(s.inputDelay[k], 1);
        QCOMPARE(s.outputDelay[k], 3);
        QCOMPARE(s.outputExtend[k], 3);
    }
    for (int k = 4; k < 8; ++k) {
        QCOMPARE(s.inputDelay[k], -1);
        QCOMPARE(s.outputDelay[k], -1);
        QCOMPARE(s.outputExtend[k], -1);
    }
    answer[1] = char(0x01);
    QVERIFY(DecodeConfigAnswer(U(answer), 9, &s));
    QCOMPARE(s.nCommands, 8);
    QCOMPARE(s.outputExtend[7], 3);
    answer[1] = char(0xFF);
    QVERIFY(DecodeConfigAnswer(U(answer), 9, &s));
    QCOMPARE(s.nCommands, 8);

    // Short or long answers are refused and leave the settings alone; only len bytes are read.
    ConfigSettings untouched;
    untouched.nAddress = 1234;
    QVERIFY(!DecodeConfigAnswer(U(answer), 3, &untouched));
    QVERIFY(!DecodeConfigAnswer(U(answer), 8, &untouched));
    QByteArray longer = answer + QByteArray(1, '\0');
    QVERIFY(!DecodeConfigAnswer(U(longer), 10, &untouched));
    QVERIFY(!DecodeConfigAnswer(nullptr, 9, &untouched));
    QCOMPARE(untouched.nAddress, 1234);
}

void TestConfigFormat::blockEdgeCases() {
    ConfigSettings s;
    s.nAddress = 65000;
    QCOMPARE(Bytes(EncodeConfigBlock(s)), QByteArray::fromHex("FDE80000000000"));
    s.nAddress = 0;
    QCOMPARE(Bytes(EncodeConfigBlock(s)), QByteArray::fromHex("00000000000000"));

    // A 4-command unit: whatever cells 5 to 8 hold, they send nothing.
    s.nCommands = 4;
    for (int k = 0; k < 8; ++k) {
        s.inputDelay[k] = 1;
        s.outputDelay[k] = 3;
        s.outputExtend[k] = 2;
    }
    QCOMPARE(Bytes(EncodeConfigBlock(s)), QByteArray::fromHex("00000FFF00AA00"));
    s.nCommands = 8;
    QCOMPARE(Bytes(EncodeConfigBlock(s)), QByteArray::fromHex("0000FFFFFFAAAA"));

    // No selection (-1) and codes out of range go out as code 0, never spilling into a neighbour.
    s.inputDelay[0] = -1;
    s.inputDelay[1] = 2;
    s.outputDelay[0] = 4;
    s.outputDelay[5] = -1;
    s.outputExtend[3] = 7;
    s.outputExtend[4] = -1;
    QCOMPARE(Bytes(EncodeConfigBlock(s)), QByteArray::fromHex("0000FCFCF32AA8"));
}

void TestConfigFormat::dateAndTime() {
    const QByteArray read = QByteArray::fromHex("081226090507");
    QCOMPARE(FormatReadDate(U(read)), QString("2008-12-26"));
    QCOMPARE(FormatReadTime(U(read) + 3), QString("9:05:07"));
    QCOMPARE(FormatClockDate(8, 12, 26), QString("2008-12-26"));
    QCOMPARE(FormatClockTime(9, 5, 7), QString("9:05:07"));

    QCOMPARE(EncodeDateGroup(false, 2008, 12, 26), QByteArray::fromHex("081226"));
    QCOMPARE(EncodeTimeGroup(false, 9, 5, 7), QByteArray::fromHex("090507"));
    QCOMPARE(EncodeDateGroup(true, 2008, 12, 26), QByteArray::fromHex("FF"));
    QCOMPARE(EncodeTimeGroup(true, 9, 5, 7), QByteArray::fromHex("FF"));
    QCOMPARE(EncodeDateGroup(false, 2100, 1, 1), QByteArray::fromHex("000101"));

    for (int v = 0; v <= 99; ++v) {
        const unsigned char b = ToBcd(v);
        QCOMPARE(int(b), (v / 10) * 16 + v % 10);
        QCOMPARE(FromBcd(b), v);
    }
    QCOMPARE(FromBcd(0xFF), 165);
}

QTEST_GUILESS_MAIN(TestConfigFormat)
#include "tst_configformat.moc"
