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

// The 24 codes as input delays, output delays, output extends, command 1 to 8 each.
QList<int> Codes(const ConfigSettings& s) {
    QList<int> codes;
    for (const int* row : {s.inputDelay, s.outputDelay, s.outputExtend})
        codes.append(QList<int>(row, row + 8));
    return codes;
}

} // namespace

class TestConfigFormat : public QObject {
    Q_OBJECT

private slots:
    void decodeAnswer();
    void encodeBlock();
    void dateAndTime();
};

void TestConfigFormat::decodeAnswer() {
    ConfigSettings s;
    QVERIFY(DecodeConfigAnswer(U(QByteArray::fromHex("7601012C81E4551B00")), 9, &s));
    QCOMPARE(s.nCommands, 8);
    QCOMPARE(s.nAddress, 300);
    QCOMPARE(Codes(s), QList<int>({1, 0, 0, 0, 0, 0, 0, 1, 0, 1, 2, 3, 1, 1, 1, 1, 3, 2, 1, 0, 0, 0, 0, 0}));
    QCOMPARE(Bytes(EncodeConfigBlock(s)), QByteArray::fromHex("012C81E4551B00"));

    // Only bit 0 of the flags counts: 0xFE is a 4-command unit whose cells 5 to 8 hold nothing.
    QByteArray answer = QByteArray::fromHex("76FE012CFFFFFFFFFF");
    QVERIFY(DecodeConfigAnswer(U(answer), 9, &s));
    QCOMPARE(s.nCommands, 4);
    QCOMPARE(Codes(s), QList<int>({1,  1,  1,  1,  -1, -1, -1, -1, 3,  3,  3,  3,
                                   -1, -1, -1, -1, 3,  3,  3,  3,  -1, -1, -1, -1}));
    for (char flags : {'\x01', '\xFF'}) {
        answer[1] = flags;
        QVERIFY(DecodeConfigAnswer(U(answer), 9, &s));
        QCOMPARE(s.nCommands, 8);
        QCOMPARE(s.outputExtend[7], 3);
    }

    // Short or long answers are refused and leave the settings alone; only len bytes are read.
    ConfigSettings untouched;
    untouched.nAddress = 1234;
    const QByteArray longer = answer + QByteArray(1, '\0');
    QVERIFY(!DecodeConfigAnswer(U(answer), 3, &untouched));
    QVERIFY(!DecodeConfigAnswer(U(answer), 8, &untouched));
    QVERIFY(!DecodeConfigAnswer(U(longer), 10, &untouched));
    QVERIFY(!DecodeConfigAnswer(nullptr, 9, &untouched));
    QCOMPARE(untouched.nAddress, 1234);
}

void TestConfigFormat::encodeBlock() {
    ConfigSettings s;
    s.nAddress = 65000;
    QCOMPARE(Bytes(EncodeConfigBlock(s)), QByteArray::fromHex("FDE80000000000"));
    s.nAddress = 0;
    for (int k = 0; k < 8; ++k) {
        s.inputDelay[k] = 1;
        s.outputDelay[k] = 3;
        s.outputExtend[k] = 2;
    }
    QCOMPARE(Bytes(EncodeConfigBlock(s)), QByteArray::fromHex("0000FFFFFFAAAA"));
    // A 4-command unit: whatever cells 5 to 8 hold, they send nothing.
    s.nCommands = 4;
    QCOMPARE(Bytes(EncodeConfigBlock(s)), QByteArray::fromHex("00000FFF00AA00"));

    // No selection (-1) and codes out of range go out as code 0, never spilling into a neighbour.
    s.nCommands = 8;
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

    QCOMPARE(EncodeDateGroup(false, 2008, 12, 26) + EncodeTimeGroup(false, 9, 5, 7),
             QByteArray::fromHex("081226090507"));
    QCOMPARE(EncodeDateGroup(true, 2008, 12, 26) + EncodeTimeGroup(true, 9, 5, 7),
             QByteArray::fromHex("FFFF"));
    QCOMPARE(EncodeDateGroup(false, 2100, 1, 1), QByteArray::fromHex("000101"));

    QCOMPARE(QList<int>({ToBcd(0), ToBcd(9), ToBcd(10), ToBcd(59), ToBcd(99), ToBcd(123), ToBcd(-5)}),
             QList<int>({0x00, 0x09, 0x10, 0x59, 0x99, 0x23, 0x00}));
    for (int v = 0; v <= 99; ++v)
        QCOMPARE(FromBcd(ToBcd(v)), v);
    QCOMPARE(FromBcd(0xFF), 165);
}

QTEST_GUILESS_MAIN(TestConfigFormat)
#include "tst_configformat.moc"
