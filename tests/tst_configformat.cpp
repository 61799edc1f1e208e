#include "config/ConfigFormat.h"

#include "support/Suite.h"

namespace {

QByteArray Block(const ConfigSettings& s) {
    const auto block = EncodeConfigBlock(s);
    return QByteArray(reinterpret_cast<const char*>(block.data()), qsizetype(block.size())).toHex();
}

} // namespace

class TestConfigFormat : public QObject {
    Q_OBJECT

private slots:
    // Only bit 0 of the flags tells 8 commands from 4; the codes decoded encode back to bytes 2
    // to 8 of the answer, with zeros where a 4-command unit has no commands.
    void decodeAndEncodeBack_data() {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("commands");
        QTest::addColumn<QByteArray>("block");
        QTest::newRow("example") << QByteArray("7601012C81E4551B00") << 8 << QByteArray("012c81e4551b00");
        QTest::newRow("flags FE") << QByteArray("76FEFDE8FFFFFFFFFF") << 4 << QByteArray("fde80fff00ff00");
        QTest::newRow("flags FF") << QByteArray("76FF00000000C00003") << 8 << QByteArray("00000000c00003");
    }
    void decodeAndEncodeBack() {
        QFETCH(QByteArray, answer);
        QFETCH(int, commands);
        QFETCH(QByteArray, block);
        ConfigSettings s;
        answer = QByteArray::fromHex(answer);
        QVERIFY(DecodeConfigAnswer(reinterpret_cast<const unsigned char*>(answer.constData()), 9, &s));
        QCOMPARE(s.nCommands, commands);
        QCOMPARE(Block(s), block);
    }

    // A cell without a valid selection (none, or a code past its list) is sent as code 0, and never
    // spills into its neighbours' bits.
    void codesOutOfRangeSentAsZero() {
        ConfigSettings s;
        s.nAddress = 300;
        const int input[8] = {1, -1, 2, 1, 1, 1, 1, 1};
        const int delay[8] = {3, -1, 4, 3, 3, 3, 3, 3};
        for (int k = 0; k < 8; ++k) {
            s.inputDelay[k] = input[k];
            s.outputDelay[k] = delay[k];
            s.outputExtend[k] = delay[7 - k];
        }
        QCOMPARE(Block(s), QByteArray("012cf9c3ffffc3"));
    }

    // Packed BCD both ways; the read bytes print in hexadecimal, so the digits show as decimal ones.
    void bcdDateAndTime() {
        const unsigned char read[] = {0x08, 0x12, 0x26, 0x09, 0x05, 0x07};
        QCOMPARE(FormatReadDate(read) + ' ' + FormatReadTime(read + 3), QString("2008-12-26 9:05:07"));
        const unsigned char noBcd[] = {0x1A, 0x0B, 0xC3, 0x2E, 0xFF, 0x5D}; // in lower case, as ever
        QCOMPARE(FormatReadDate(noBcd) + ' ' + FormatReadTime(noBcd + 3), QString("201a-b-c3 2e:ff:5d"));
        QCOMPARE(ToBcd(59), 0x59);
        QCOMPARE(QList<int>({ToBcd(-1), ToBcd(-42), ToBcd(123)}),
                 QList<int>({0x00, 0x00, 0x23})); // always BCD
        for (int v = 0; v <= 99; ++v)
            QCOMPARE(FromBcd(ToBcd(v)), v);
    }
};

QTEST_GUILESS_MAIN(TestConfigFormat)
#include "tst_configformat.moc"
