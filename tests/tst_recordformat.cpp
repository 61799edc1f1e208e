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

private slots:
    void initTestCase();
    void recordLines();
    void eventTexts();
    void decodeAnswer();
    void fileContent();
    void writeFile();

private:
    TestEnv* m_env = nullptr;
};

void TestRecordFormat::initTestCase() {
    m_env = new TestEnv;
}

void TestRecordFormat::recordLines() {
    QCOMPARE(FormatRecordLine(5, U(QByteArray::fromHex("0825134507C10123")), false),
             QString("5  2008-12-25  13:45:07.123  Send Command 1."));
    const QByteArray invalid = QByteArray::fromHex("0805090507312707");
    QCOMPARE(FormatRecordLine(1, U(invalid), false), QString("1  2008-03-5  9:05:07.107  Invalid Record."));
    QCOMPARE(FormatRecordLine(1, U(invalid), true),
             QString::fromUtf8("1  2008-03-5  9:05:07.107  无效记录。"));

    const QByteArray wild = QByteArray::fromHex("99FFFFFFFFFF00FF");
    QCOMPARE(RecordMilliseconds(U(wild)), 1665);
    QCOMPARE(FormatRecordLine(255, U(wild), false),
             QString("255  2099-15-ff  ff:ff:ff.1665  Invalid Record."));
}

void TestRecordFormat::eventTexts() {
    for (int code : {0, 39, 40, 127, 128, 255, -1, 256}) {
        QCOMPARE(RecordEventText(code, false), QString("Invalid Record."));
        QCOMPARE(RecordEventText(code, true), QString::fromUtf8("无效记录。"));
    }
    for (bool chinese : {false, true}) {
        QSet<QString> seen;
        for (int code = 1; code <= 38; ++code)
            seen.insert(RecordEventText(code, chinese));
        seen.insert(RecordEventText(0, chinese));
        QCOMPARE(seen.size(), 39);
    }
    QCOMPARE(RecordEventText(36, false), QString("Fiber A Interrupt Return."));
    QCOMPARE(RecordEventText(36, true), QString::fromUtf8("光路A中断返回。"));
}

void TestRecordFormat::decodeAnswer() {
    const QByteArray answer = kThreeRecords;
    QCOMPARE(RecordAnswerLength(3), 26);
    QCOMPARE(int(answer.size()), 26);
    const QStringList lines = DecodeRecordAnswer(U(answer), 26, false);
    QCOMPARE(lines, QStringList({"3  2008-12-25  13:45:07.123  Send Command 1.",
                                 "2  2009-00-1  0:00:00.026  Fiber B Interrupt Return.",
                                 "1  2010-09-31  12:59:59.900  Invalid Record."}));

    QVERIFY(DecodeRecordAnswer(U(answer), 25, false).isEmpty());
    QVERIFY(DecodeRecordAnswer(nullptr, 26, false).isEmpty());
    const QByteArray none = QByteArray::fromHex("7800");
    QVERIFY(DecodeRecordAnswer(U(none), 2, true).isEmpty());
    QVERIFY(DecodeRecordAnswer(U(none), 10, true).isEmpty());
}

void TestRecordFormat::fileContent() {
    QCOMPARE(RecordFileContent(0, {}, false), QByteArray("No record ."));
    QCOMPARE(RecordFileContent(0, {}, true), QByteArray::fromHex("c3bbd3d0c8cebacebcc7c2bca1a3"));
    QCOMPARE(NoRecordText(false), QString("No record ."));
    QCOMPARE(RecordHeaderText(12, false), QString("12 record(s) :"));
    QCOMPARE(RecordHeaderText(12, true), QString::fromUtf8("共有12条记录："));
    QCOMPARE(RecordFileName(true, false), QString("LocalRecord.txt"));
    QCOMPARE(RecordFileName(false, false), QString("RemoteRecord.txt"));
    QCOMPARE(RecordFileName(true, true), QString::fromUtf8("本地记录.txt"));
    QCOMPARE(RecordFileName(false, true), QString::fromUtf8("对端记录.txt"));

    const QByteArray answer = kThreeRecords;
    QCOMPARE(RecordFileContent(3, DecodeRecordAnswer(U(answer), 26, false), false),
             QByteArray("3 record(s) :\r\n\r\n"
                        "3  2008-12-25  13:45:07.123  Send Command 1.\r\n"
                        "2  2009-00-1  0:00:00.026  Fiber B Interrupt Return.\r\n"
                        "1  2010-09-31  12:59:59.900  Invalid Record.\r\n"));
    const QByteArray chinese =
        QByteArray::fromHex("b9b2d3d033ccf5bcc7c2bca3ba") + "\r\n\r\n" + "3  2008-12-25  13:45:07.123  " +
        QByteArray::fromHex("b7a2c3fcc1ee31a1a3") + "\r\n" + "2  2009-00-1  0:00:00.026  " +
        QByteArray::fromHex("b9e2c2b742d6d0b6cfb7b5bbd8a1a3") + "\r\n" + "1  2010-09-31  12:59:59.900  " +
        QByteArray::fromHex("ceded0a7bcc7c2bca1a3") + "\r\n";
    QCOMPARE(RecordFileContent(3, DecodeRecordAnswer(U(answer), 26, true), true), chinese);

    // Both encoders give the same bytes; characters GBK lacks never vanish silently.
    for (int code = 0; code <= 38; ++code)
        QCOMPARE(IconvToGbk(RecordEventText(code, true)), ToGbk(RecordEventText(code, true)));
    QCOMPARE(IconvToGbk(QString::fromUtf8("没有任何记录。")),
             QByteArray::fromHex("c3bbd3d0c8cebacebcc7c2bca1a3"));
    QCOMPARE(IconvToGbk(QString::fromUtf8("A\U0001F600B")), QByteArray("A?B"));
    QVERIFY(!ToGbk(QString::fromUtf8("A\U0001F600B")).isEmpty());
}

void TestRecordFormat::writeFile() {
    const QString path = DriveCPath(RecordFileName(true, true));
    QVERIFY(path.startsWith(m_env->driveC()));
    QString error;
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write(QByteArray(5000, 'x'));
    old.close();
    const QByteArray content = RecordFileContent(0, {}, true);
    QVERIFY(WriteRecordFile(path, content, &error));
    QFile written(path);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), content);
    written.close();
    QCOMPARE(QDir(m_env->driveC()).entryList(QDir::Files | QDir::Hidden),
             QStringList(RecordFileName(true, true)));

    // A folder that does not exist, and a "folder" that is a file: false, a reason, nothing left.
    const QString missing = m_env->driveC() + "/missing/LocalRecord.txt";
    QVERIFY(!WriteRecordFile(missing, "No record .", &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!QFile::exists(missing));
    error.clear();
    QVERIFY(!WriteRecordFile(path + "/LocalRecord.txt", "No record .", &error));
    QVERIFY(!error.isEmpty());
    QCOMPARE(QFile(path).size(), qint64(content.size()));

    // A folder without write permission (only meaningful without root's override).
    const QString locked = m_env->root() + "/locked";
    QVERIFY(QDir().mkpath(locked));
    QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    if (!QFileInfo(locked).isWritable()) {
        error.clear();
        QVERIFY(!WriteRecordFile(locked + "/RemoteRecord.txt", "No record .", &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(QDir(locked).entryList(QDir::Files | QDir::Hidden).isEmpty());
    }
    QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

QTEST_GUILESS_MAIN(TestRecordFormat)
#include "tst_recordformat.moc"
