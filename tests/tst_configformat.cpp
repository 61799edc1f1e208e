#include "config/ConfigFormat.h"

#include <QByteArray>
#include <QTest>

namespace {

const auto* U(const QByteArray& bytes) {
    return reinterpret_cast<const unsigned char*>(bytes.constData());
}

QByteArray Block(const ConfigSettings& s) {
    const auto block = EncodeConfigBlock(s);
    return QByteArray(reinterpret_cast<const char*>(block.data()), qsizetype(block.size())).toHex();
}

// Commands, address, then the codes of Input Delay, Output Delay and Output Extend, one digit per
// command 1 to 8 ('-' for none).
QString Settings(const ConfigSettings& s) {
    QString text = QStringLiteral("%1 %2").arg(s.nCommands).arg(s.nAddress);
    for (const int* row : {s.inputDelay, s.outputDelay, s.outputExtend}) {
        text += ' ';
        for (int k = 0; k < 8; ++k)
            text += row[k] < 0 ? QChar('-') : QChar('0' + row[k]);
    }
    return text;
}

} // namespace

class TestConfigFormat : public QObject {
    Q_OBJECT

private slots:
    // Only bit 0 of the flags counts; a 4-command unit has no codes for commands 5 to 8, and its
    // settings encode back with zeros there.
    void decodeAndEncodeBack_data() {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QByteArray>("block");
        QTest::newRow("example") << QByteArray("7601012C81E4551B00") << "8 300 10000001 01231111 32100000"
                                 << QByteArray("012c81e4551b00");
        QTest::newRow("flags FE") << QByteArray("76FEFDE8FFFFFFFFFF") << "4 65000 1111---- 3333---- 3333----"
                                  << QByteArray("fde80fff00ff00");
        QTest::newRow("flags FF") << QByteArray("76FF00000000C00003") << "8 0 00000000 00000003 00003000"
                                  << QByteArray("00000000c00003");
    }
    void decodeAndEncodeBack() {
        QFETCH(QByteArray, answer);
        QFETCH(QString, settings);
        QFETCH(QByteArray, block);
        ConfigSettings s;
        QVERIFY(DecodeConfigAnswer(U(QByteArray::fromHex(answer)), 9, &s));
        QCOMPARE(Settings(s), settings);
        QCOMPARE(Block(s), block);
    }

    // A cell without a selection (-1) goes as code 0 and never spills into a neighbour.
    void encodeNoSelectionAsZero() {
        ConfigSettings s;
        s.inputDelay[0] = -1;
        s.outputExtend[4] = -1;
        QCOMPARE(Block(s), QByteArray("00000000000000"));
    }

    void dateAndTime() {
        const QByteArray read = QByteArray::fromHex("081226090507");
        QCOMPARE(FormatReadDate(U(read)) + ' ' + FormatReadTime(U(read) + 3), QString("2008-12-26 9:05:07"));
        QCOMPARE(FormatClockDate(8, 12, 26) + ' ' + FormatClockTime(9, 5, 7), QString("2008-12-26 9:05:07"));
        QCOMPARE(EncodeDateGroup(false, 2008, 12, 26) + EncodeTimeGroup(false, 9, 5, 7), read);
        QCOMPARE(EncodeDateGroup(true, 2008, 12, 26) + EncodeTimeGroup(true, 9, 5, 7),
                 QByteArray("\xFF\xFF"));
        QCOMPARE(QList<int>({ToBcd(0), ToBcd(9), ToBcd(10), ToBcd(59), ToBcd(99)}),
                 QList<int>({0x00, 0x09, 0x10, 0x59, 0x99}));
        for (int v = 0; v <= 99; ++v)
            QCOMPARE(FromBcd(ToBcd(v)), v);
    }
};

QTEST_GUILESS_MAIN(TestConfigFormat)
#include "tst_configformat.moc"
