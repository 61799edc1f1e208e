#include "platform/DriveC.h"
#include "records/RecordFormat.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTest>

namespace {

const unsigned char* U(const QByteArray& b) {
    return reinterpret_cast<const unsigned char*>(b.constData());
}

// Three records in arrival order: Send Command 1, Fiber B Interrupt Return, code 0 (invalid).
const QByteArray kThreeRecords = QByteArray::fromHex("7803"
                                                     "0825134507C10123"
                                                     "0901000000002626"
                                                     "1031125959999000");

} // namespace

class TestRecordFormat : public QObject {
    Q_OBJECT
    TestEnv m_env;

private slots:
    void linesAndTexts();
    void fileContent();
    void writeFile();
};

void TestRecordFormat::linesAndTexts() {
    QCOMPARE(FormatRecordLine(5, U(QByteArray::fromHex("0825134507C10123")), false),
             QString("5  2008-12-25  13:45:07.123  Send Command 1."));
    const QByteArray invalid = QByteArray::fromHex("0805090507312707");
    QCOMPARE(FormatRecordLine(1, U(invalid), false), QString("1  2008-03-5  9:05:07.107  Invalid Record."));
    QCOMPARE(FormatRecordLine(1, U(invalid), true),
             QString::fromUtf8("1  2008-03-5  9:05:07.107  无效记录。"));
    // Millisecond nibbles 0xF and 0xFF: 15 * 100 + 15 * 10 + 15, no digit check.
    QCOMPARE(FormatRecordLine(255, U(QByteArray::fromHex("99FFFFFFFFFF00FF")), false),
             QString("255  2099-15-ff  ff:ff:ff.1665  Invalid Record."));

    for (bool chinese : {false, true}) {
        for (int code : {0, 39, 255, -1, 256})
            QCOMPARE(RecordEventText(code, chinese), RecordEventText(0, chinese));
        QSet<QString> seen; // 38 event texts of their own besides the invalid one
        for (int code = 0; code <= 38; ++code)
            seen.insert(RecordEventText(code, chinese));
        QCOMPARE(seen.size(), 39);
    }
    QCOMPARE(RecordEventText(36, false), QString("Fiber A Interrupt Return."));
    QCOMPARE(RecordEventText(36, true), QString::fromUtf8("光路A中断返回。"));

    // Anything but exactly 2 + 8N bytes decodes to nothing.
    QVERIFY(DecodeRecordAnswer(U(kThreeRecords), 25, false).isEmpty());
    QVERIFY(DecodeRecordAnswer(nullptr, 26, false).isEmpty());
    const QByteArray none = QByteArray::fromHex("7800");
    QVERIFY(DecodeRecordAnswer(U(none), 2, true).isEmpty());
    QVERIFY(DecodeRecordAnswer(U(none), 10, true).isEmpty());
}

void TestRecordFormat::fileContent() {
    const QByteArray noRecordGbk = QByteArray::fromHex("c3bbd3d0c8cebacebcc7c2bca1a3");
    QCOMPARE(RecordFileContent(0, {}, false), QByteArray("No record ."));
    QCOMPARE(RecordFileContent(0, {}, true), noRecordGbk);
    QCOMPARE(QStringList({RecordFileName(true, false), RecordFileName(false, false),
                          RecordFileName(true, true), RecordFileName(false, true)}),
             QStringList({"LocalRecord.txt", "RemoteRecord.txt", QString::fromUtf8("本地记录.txt"),
                          QString::fromUtf8("对端记录.txt")}));

    // Lines numbered N down to 1 in arrival order, header, empty line, CR LF everywhere.
    QCOMPARE(RecordFileContent(3, DecodeRecordAnswer(U(kThreeRecords), 26, false), false),
             QByteArray("3 record(s) :\r\n\r\n"
                        "3  2008-12-25  13:45:07.123  Send Command 1.\r\n"
                        "2  2009-00-1  0:00:00.026  Fiber B Interrupt Return.\r\n"
                        "1  2010-09-31  12:59:59.900  Invalid Record.\r\n"));
    const QByteArray chinese =
        QByteArray::fromHex("b9b2d3d033ccf5bcc7c2bca3ba") + "\r\n\r\n" + "3  2008-12-25  13:45:07.123  " +
        QByteArray::fromHex("b7a2c3fcc1ee31a1a3") + "\r\n" + "2  2009-00-1  0:00:00.026  " +
        QByteArray::fromHex("b9e2c2b742d6d0b6cfb7b5bbd8a1a3") + "\r\n" + "1  2010-09-31  12:59:59.900  " +
        QByteArray::fromHex("ceded0a7bcc7c2bca1a3") + "\r\n";
    QCOMPARE(RecordFileContent(3, DecodeRecordAnswer(U(kThreeRecords), 26, true), true), chinese);

    // The iconv fallback gives the same bytes; characters GBK lacks never vanish silently.
    for (int code = 0; code <= 38; ++code)
        QCOMPARE(IconvToGbk(RecordEventText(code, true)), ToGbk(RecordEventText(code, true)));
    QCOMPARE(IconvToGbk(QString::fromUtf8("没有任何记录。")), noRecordGbk);
    QCOMPARE(IconvToGbk(QString::fromUtf8("A\U0001F600B")), QByteArray("A?B"));
    QVERIFY(!ToGbk(QString::fromUtf8("A\U0001F600B")).isEmpty());
}

void TestRecordFormat::writeFile() {
    const QString path = DriveCPath(RecordFileName(true, true));
    QVERIFY(path.startsWith(m_env.driveC()));
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly) && old.write(QByteArray(5000, 'x')) == 5000);
    old.close();
    const QByteArray content = RecordFileContent(0, {}, true);
    QString error;
    QVERIFY(WriteRecordFile(path, content, &error)); // truncates, leaves no temporary behind
    QFile written(path);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), content);
    QCOMPARE(QDir(m_env.driveC()).entryList(QDir::Files | QDir::Hidden),
             QStringList(RecordFileName(true, true)));

    // A missing folder, a "folder" that is a file, a read-only folder (unless root): false, a
    // reason, nothing left behind.
    const QString locked = m_env.root() + "/locked";
    QVERIFY(QDir().mkpath(locked));
    QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    QStringList targets = {m_env.driveC() + "/missing/LocalRecord.txt", path + "/LocalRecord.txt"};
    if (!QFileInfo(locked).isWritable())
        targets << locked + "/RemoteRecord.txt";
    for (const QString& target : targets) {
        error.clear();
        QVERIFY(!WriteRecordFile(target, "No record .", &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(!QFile::exists(target));
    }
    QVERIFY(QDir(locked).entryList(QDir::Files | QDir::Hidden).isEmpty());
    QCOMPARE(QFile(path).size(), qint64(content.size()));
    QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

QTEST_GUILESS_MAIN(TestRecordFormat)
#include "tst_recordformat.moc"
