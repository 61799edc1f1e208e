#include "records/RecordFormat.h"
#include "support/Suite.h"

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

class TestRecordFormat : public QObject {
    Q_OBJECT

private slots:
    // Every event code's text as tests/data/event-texts-*.txt quote them: codes 1 to 38, and the
    // invalid-record text for code 0 and for codes past 38.
    void eventTexts() {
        for (bool chinese : {false, true}) {
            const auto texts = GoldenTexts(chinese ? "event-texts-chinese.txt" : "event-texts-english.txt");
            QCOMPARE(texts.size(), 41); // codes 0 to 39, and 255
            for (auto text = texts.cbegin(); text != texts.cend(); ++text)
                QCOMPARE(RecordEventText(text.key().toInt(), chinese), text.value());
        }
    }

    // The record file of an answer. No record: the text alone, without a line end. Records: the
    // header, an empty line, then one line per record numbered N down to 1 in arrival order, every
    // line ending in CR LF; Chinese in GBK. In a line the BCD fields print in hex, the month nibble
    // in two decimal digits, day and hour without a leading zero, and the milliseconds combine
    // their nibbles without a digit check.
    void fileContent_data() {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("chinese");
        QTest::addColumn<QByteArray>("file");
        // Send Command 1; code 39 (invalid) with a one-digit day and hour; code 0 with nibbles past 9.
        const auto three = QByteArray::fromHex("7803 0825134507C10123 0805090507312707 99FFFFFFFFFF00FF");
        QTest::newRow("none") << QByteArray::fromHex("7800") << false << QByteArray("No record .");
        QTest::newRow("none zh") << QByteArray::fromHex("7800") << true
                                 << QByteArray::fromHex("c3bbd3d0c8cebacebcc7c2bca1a3");
        QTest::newRow("three") << three << false
                               << QByteArray("3 record(s) :\r\n\r\n"
                                             "3  2008-12-25  13:45:07.123  Send Command 1.\r\n"
                                             "2  2008-03-5  9:05:07.107  Invalid Record.\r\n"
                                             "1  2099-15-ff  ff:ff:ff.1665  Invalid Record.\r\n");
        // glibc's encoder is the reference here; the tool's own goes through Qt when it can.
        QTest::newRow("three zh") << three << true
                                  << IconvToGbk("共有3条记录：\r\n\r\n"
                                                "3  2008-12-25  13:45:07.123  发命令1。\r\n"
                                                "2  2008-03-5  9:05:07.107  无效记录。\r\n"
                                                "1  2099-15-ff  ff:ff:ff.1665  无效记录。\r\n");
    }
    void fileContent() {
        QFETCH(QByteArray, answer);
        QFETCH(bool, chinese);
        QFETCH(QByteArray, file);
        const QStringList lines = DecodeRecordAnswer(
            reinterpret_cast<const unsigned char*>(answer.constData()), int(answer.size()), chinese);
        QCOMPARE(RecordFileContent(int(lines.size()), lines, chinese), file);
    }

    // A character GBK cannot hold becomes one '?', through Qt's encoder and through iconv alike.
    void gbkReplacesWhatItCannotHold() {
        const QString text = QStringLiteral("记录 \U0001F600 é");
        for (const QByteArray& bytes : {ToGbk(text), IconvToGbk(text)})
            QCOMPARE(bytes, QByteArray::fromHex("bcc7c2bc203f20a8a6"));
    }

    // A folder that takes no new file (no write permission) with a writable record file in it:
    // the file is truncated and written in place, and no temporary file is left. Without the file
    // nothing is written. Root writes anywhere: it writes as user nobody
    // then, in a folder and a file that nobody owns.
    void folderRefusesNewFiles_data() {
        QTest::addColumn<bool>("existing");
        QTest::newRow("file in it: written in place") << true;
        QTest::newRow("no file: not written") << false;
    }
    void folderRefusesNewFiles() {
        QFETCH(bool, existing);
        QTemporaryDir dir;
        const QString path = dir.path() + "/LocalRecord.txt";
        QVERIFY(!existing || WriteRecordFile(path, "an older, longer record file", nullptr));
        const uid_t me = geteuid(), writer = me == 0 ? 65534 : me;
        for (const QString& owned : {dir.path(), path}) // the writer's own folder and file
            QVERIFY(!QFile::exists(owned) ||
                    chown(QFile::encodeName(owned).constData(), writer, gid_t(-1)) == 0);
        QVERIFY(chmod(QFile::encodeName(dir.path()).constData(), 0555) == 0);
        QVERIFY(seteuid(writer) == 0);
        const bool written = WriteRecordFile(path, "No record .", nullptr);
        QVERIFY(seteuid(me) == 0);
        QVERIFY(chmod(QFile::encodeName(dir.path()).constData(), 0700) == 0);
        QCOMPARE(written, existing);
        QCOMPARE(ReadFile(path), existing ? "No record ." : "<missing>");
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList(existing ? 1 : 0, "LocalRecord.txt"));
    }
    // A link where the record file goes is followed only when this account owns it and no other
    // account can write to its folder; else nothing is written anywhere, and the reason is the
    // error text. A link another account planted in a shared folder (sticky, world-writable) must
    // not let the tool replace the file it points to, nor create it when it is missing.
    void linkInTheWay_data() {
        QTest::addColumn<bool>("othersLink");
        QTest::addColumn<int>("folderMode");
        QTest::addColumn<bool>("dangling");
        QTest::addColumn<QString>("refusal"); // empty: the file the link names is written
        const QString owned = "LocalRecord.txt is a link another account owns: not followed";
        const QString shared =
            "LocalRecord.txt is a link in a folder other accounts can write to: not followed";
        QTest::newRow("mine, my folder") << false << 0700 << false << QString();
        QTest::newRow("mine, my folder, dangling") << false << 0700 << true << QString();
        QTest::newRow("another's, my folder") << true << 0700 << false << owned;
        QTest::newRow("another's, shared folder") << true << 01777 << false << owned;
        QTest::newRow("another's, shared folder, dangling") << true << 01777 << true << owned;
        QTest::newRow("mine, shared folder") << false << 01777 << false << shared;
        QTest::newRow("mine, folder my group writes") << false << 0770 << true << shared;
    }
    void linkInTheWay() {
        QFETCH(bool, othersLink);
        QFETCH(int, folderMode);
        QFETCH(bool, dangling);
        QFETCH(QString, refusal);
        if (othersLink && geteuid() != 0)
            QSKIP("giving a link to another account takes root");
        QTemporaryDir home;
        const QString drive = home.path() + "/drive", victim = home.path() + "/profile";
        QVERIFY(QDir().mkpath(drive));
        QVERIFY(dangling || WriteRecordFile(victim, "export PATH", nullptr));
        const QString path = drive + "/LocalRecord.txt";
        QVERIFY(QFile::link(victim, path));
        QVERIFY(!othersLink || lchown(QFile::encodeName(path).constData(), 65534, 65534) == 0);
        QVERIFY(chmod(QFile::encodeName(drive).constData(), mode_t(folderMode)) == 0);
        QString error;
        const bool written = WriteRecordFile(path, "No record .", &error);
        QCOMPARE(written, refusal.isEmpty());
        QCOMPARE(error, refusal.isEmpty() ? QString() : drive + '/' + refusal);
        QCOMPARE(ReadFile(victim), refusal.isEmpty() ? "No record ."
                                   : dangling        ? "<missing>"
                                                     : "export PATH");
        QVERIFY(QFileInfo(path).isSymLink());
        QCOMPARE(QDir(drive).entryList(QDir::Files | QDir::Hidden | QDir::System),
                 QStringList("LocalRecord.txt"));
        QCOMPARE(QDir(home.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList(dangling && !refusal.isEmpty() ? 0 : 1, "profile"));
    }

    // A failure other than a folder refusing new files leaves the old record file as it was, with
    // the system's error text and no temporary file: a name too long for a temporary file beside
    // it (as a full disk or an exhausted quota would refuse it) is not written in place, and a
    // write cut short (here by the file size limit) never replaces the old file.
    void failedWriteKeepsTheOldFile_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("sizeLimit");
        QTest::addColumn<QString>("error");
        QTest::newRow("no temporary file") << QString(250, 'r') << -1 << "File name too long";
        QTest::newRow("file size limit") << "LocalRecord.txt" << 40 << "File too large";
    }
    void failedWriteKeepsTheOldFile() {
        QFETCH(QString, name);
        QFETCH(int, sizeLimit);
        QFETCH(QString, error);
        QTemporaryDir dir;
        const QString path = dir.path() + '/' + name;
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("1 record(s) :\r\n\r\nolder") == 22);
        old.close();
        rlimit before{};
        QVERIFY(getrlimit(RLIMIT_FSIZE, &before) == 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = before;
        if (sizeLimit >= 0)
            limit.rlim_cur = rlim_t(sizeLimit);
        QVERIFY(setrlimit(RLIMIT_FSIZE, &limit) == 0);
        QString text;
        const bool written = WriteRecordFile(path, QByteArray(64, 'n'), &text);
        setrlimit(RLIMIT_FSIZE, &before);
        std::signal(SIGXFSZ, oldHandler);
        QVERIFY(!written);
        QCOMPARE(text, error);
        QCOMPARE(ReadFile(path), "1 record(s) :\r\n\r\nolder");
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList(name));
    }
};

QTEST_GUILESS_MAIN(TestRecordFormat)
#include "tst_recordformat.moc"
