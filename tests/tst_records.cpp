#include "records/ClearConfirmDlg.h"
#include "records/LocalRecordDlg.h"
#include "records/RecordFormat.h"
#include "records/RemoteRecordDlg.h"
#include "support/DialogTestSupport.h"
#include "support/ShellHelpers.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QFile>
#include <QProgressBar>
#include <QTest>

namespace {

// Three records in arrival order: Send Command 1, Fiber B Interrupt Return, code 0 (invalid).
const QByteArray kThree = QByteArray::fromHex("7803"
                                              "0825134507C10123"
                                              "0901000000002626"
                                              "1031125959999000");
const QByteArray kThreeFile = "3 record(s) :\r\n\r\n"
                              "3  2008-12-25  13:45:07.123  Send Command 1.\r\n"
                              "2  2009-00-1  0:00:00.026  Fiber B Interrupt Return.\r\n"
                              "1  2010-09-31  12:59:59.900  Invalid Record.\r\n";
const QString kReading = "Reading Records...... | list 0, progress 0, update off, clear off, timer ";
const QString kEmptied = " | list 0, progress 0, update off, clear off, timer -1";
const QString kThreeListed = " | list 3, progress 24, update on, clear on, timer ";
const QString kNoneListed = " | list 0, progress 0, update on, clear off, timer ";
const QString kLinkError = "Link error !  Please check the cable , serial port and power !";
const QString kBusy = "Receive alarm or the system is busy, can't get the remote records !";

// Each unit's bytes: read command, first byte of its record answer, clear command, acknowledgement.
struct Unit {
    bool remote;
    char read, answer, clear, ack;
    QString file, zhFile;
};
const Unit kUnits[] = {{false, '\x87', '\x78', '\x88', '\x77', "LocalRecord.txt", "本地记录.txt"},
                       {true, '\x78', '\x87', '\x77', '\x88', "RemoteRecord.txt", "对端记录.txt"}};

QByteArray Answer(char first, QByteArray answer = kThree) {
    answer[0] = first;
    return answer;
}

// A record dialog of either unit in the language given, not yet created.
std::unique_ptr<CDialog> NewDialog(bool remote, int chinese = 0) {
    g_bChinese = chinese;
    return remote ? std::unique_ptr<CDialog>(new CRemoteRecordDlg)
                  : std::unique_ptr<CDialog>(new CLocalRecordDlg);
}
void Click(CDialog& d, int id) {
    d.GetDlgItemAs<QAbstractButton>(id)->click();
}

// A record answer of n records, record k with the event code k % 40 and a time that counts.
QByteArray ManyRecords(char answerByte, int n) {
    QByteArray a = QByteArray(1, answerByte) + char(n);
    for (int k = 0; k < n; ++k)
        a += QByteArray::fromHex("2401020304") + char(0x60 | (k % 10)) + char(k % 40) + char(0x99);
    return a;
}

} // namespace

class TestRecords : public QObject {
    Q_OBJECT

    TestEnv m_env;
    MessageBoxRecorder m_boxes;
    // A file's bytes on drive C (or "<missing>"); the file is removed.
    QByteArray Take(const QString& file) {
        const QString path = m_env.driveC() + '/' + file;
        const QByteArray bytes = ReadFile(path);
        QFile::remove(path);
        return bytes;
    }

private slots:
    void initTestCase() {
        MemoryCommBackend::InstallFactory();
        AfxGetApp().m_strPort = QStringLiteral("COM1");
    }
    void init() {
        m_boxes.calls.clear();
        ResetMessageBeepCount();
        g_bChinese = 0;
        QDir(m_env.driveC()).removeRecursively();
        QDir().mkpath(m_env.driveC());
        qputenv("LMX207_DRIVE_C", m_env.driveC().toLocal8Bit());
    }

    // Spot checks per template: list and status line at their places, the Clear button about its
    // place (buttons narrower than their caption bitmap grow about the centre) and clear of its
    // neighbours, the faces of the language, Exit cancelling.
    void layout_data() {
        // Chinese, remote; list 1003, status 1005, button 4: x, y, cx, cy each; then the widths of
        // the Exit, Update and Clear faces and the height of the Clear face.
        QTest::addColumn<QList<int>>("g");
        QTest::newRow("131") << QList<int>{1, 0,  26,  19, 182, 114, 25, 7,  206,
                                           8, 94, 158, 50, 14,  32,  65, 65, 18};
        QTest::newRow("164") << QList<int>{0, 0,  7,   19, 219, 118, 7,  6,  219,
                                           8, 91, 158, 52, 14,  26,  96, 86, 16};
        QTest::newRow("173") << QList<int>{1, 1,  20,  20, 181, 118, 20, 7,  199,
                                           8, 88, 161, 50, 14,  32,  65, 65, 18};
        QTest::newRow("172") << QList<int>{0, 1,  14,  21, 219, 118, 14, 7,  226,
                                           8, 95, 158, 52, 14,  26,  96, 86, 16};
    }
    void layout() {
        QFETCH(QList<int>, g);
        auto dlg = NewDialog(g[1], g[0]);
        dlg->Create();
        const auto rect = [&](int i) { return dlg->MapDialogRect(g[i], g[i + 1], g[i + 2], g[i + 3]); };
        const auto button = [&](int id) { return dlg->GetDlgItemAs<CBmpButton>(id); };
        const QRect clear = button(4)->geometry(), place = rect(10);
        QCOMPARE(QList<QRect>({dlg->GetDlgItem(1003)->geometry(), dlg->GetDlgItem(1005)->geometry()}),
                 QList<QRect>({rect(2), rect(6)}));
        QCOMPARE(QList<int>({clear.top(), clear.height(), button(2)->m_nWidth, button(3)->m_nWidth,
                             button(4)->m_nWidth, button(4)->m_nHeight}),
                 QList<int>({place.top(), place.height()}) + g.mid(14));
        QVERIFY(qAbs(clear.center().x() - place.center().x()) <= 1);
        QVERIFY(!clear.intersects(button(3)->geometry()) && !clear.intersects(button(2)->geometry()));
        button(2)->click();
        QCOMPARE(dlg->result(), int(IDCANCEL));
    }

    // On opening: waiting input thrown away, the read byte sent, timer 1 at 200 ms. An answer in
    // single bytes completes on its last byte and is listed and saved; a stray byte after it and
    // the tick change nothing; Update Record empties the list and reads again.
    void readAndClear_data() {
        QTest::addColumn<int>("unit");
        QTest::newRow("local") << 0;
        QTest::newRow("remote") << 1;
    }
    void readAndClear() {
        QFETCH(int, unit);
        const Unit& u = kUnits[unit];
        auto dlg = NewDialog(u.remote);
        Line()->preload(QByteArray(1, u.answer) + '\0');
        dlg->Create();
        QCOMPARE(QPair(Line()->m_port, Line()->m_sent), QPair(1, QByteArray(1, u.read)));
        QCOMPARE(RecordState(*dlg), kReading + "200");

        const QByteArray answer = Answer(u.answer);
        for (int i = 0; i < answer.size() - 1; ++i)
            Line()->deliver(answer.mid(i, 1));
        QCOMPARE(RecordState(*dlg), kReading + "200");
        QVERIFY(QDir(m_env.driveC()).isEmpty());
        Line()->deliver(answer.right(1));
        const QString listed = QString("3 record(s) in C:\\%1 .").arg(u.file) + kThreeListed;
        QCOMPARE(RecordState(*dlg), listed + "200");
        QCOMPARE(dlg->GetDlgItemAs<QProgressBar>(1006)->maximum(), 24);
        QCOMPARE(QDir(m_env.driveC()).entryList(QDir::Files), QStringList(u.file));
        QCOMPARE(Take(u.file), kThreeFile);
        Line()->deliver(QByteArray("\x01"));
        dlg->OnTimer(1);
        QCOMPARE(QPair(RecordState(*dlg), Take(u.file)), QPair(listed + "-1", QByteArray("<missing>")));

        // No answer to Update Record by the tick: the link error. An answer that comes after all
        // is still listed and saved.
        Click(*dlg, 3);
        QCOMPARE(QPair(Line()->m_sent, RecordState(*dlg)), QPair(QByteArray(2, u.read), kReading + "200"));
        dlg->OnTimer(1);
        QCOMPARE(QPair(RecordState(*dlg), MessageBeepCount()), QPair(kLinkError + kEmptied, 100));
        Line()->deliver(answer);
        QCOMPARE(QPair(RecordState(*dlg), Take(u.file)), QPair(listed + "-1", kThreeFile));

        // Clear Record: declining changes nothing and sends nothing; confirming sends the clear
        // byte and the acknowledgement starts a fresh read. Both ring the 100 beeps first.
        QString title;
        AnswerConfirmation(IDCANCEL, &title);
        Click(*dlg, 4);
        QCOMPARE(QPair(title, MessageBeepCount()), QPair(QString("Alarm"), 200));
        QCOMPARE(QPair(RecordState(*dlg), Line()->m_sent), QPair(listed + "-1", QByteArray(2, u.read)));
        AnswerConfirmation(IDOK);
        Click(*dlg, 4);
        QCOMPARE(QPair(MessageBeepCount(), Line()->m_sent), QPair(300, QByteArray(2, u.read) + u.clear));
        QCOMPARE(RecordState(*dlg), kNoneListed + "-1");
        Line()->deliver(QByteArray(1, u.ack));
        QCOMPARE(QPair(Line()->m_sent, RecordState(*dlg)),
                 QPair(QByteArray(2, u.read) + u.clear + u.read, kReading + "200"));
        Line()->deliver(QByteArray(1, u.answer) + '\0');
        QCOMPARE(RecordState(*dlg), "No record ." + kNoneListed + "200");
        QCOMPARE(Take(u.file), QByteArray("No record ."));

        // The other unit's answer byte answers the tick but is never listed; a first byte 0x00
        // counts as no answer.
        Click(*dlg, 3);
        Line()->deliver(Answer(u.read));
        dlg->OnTimer(1);
        QCOMPARE(QPair(RecordState(*dlg), MessageBeepCount()), QPair(kReading + "-1", 300));
        auto again = NewDialog(u.remote);
        again->Create();
        Line()->deliver(QByteArray("\x00\x00", 2));
        again->OnTimer(1);
        QCOMPARE(RecordState(*again), kLinkError + kEmptied);

        // The platform refuses the device: its text in a message box, no byte sent, no timer.
        AfxGetApp().m_strPort = QStringLiteral("COM2");
        auto refused = NewDialog(u.remote);
        Line()->m_refuseOpen = true;
        refused->Create();
        AfxGetApp().m_strPort = QStringLiteral("COM1");
        QCOMPARE(std::tuple(Line()->m_port, Line()->m_sent, m_boxes.calls.size()),
                 std::tuple(2, QByteArray(), 1));
        QCOMPARE(m_boxes.calls[0].text, Line()->m_refuseText);
        QVERIFY(RecordState(*refused).endsWith("update off, clear off, timer -1"));
    }

    // 255 records are 2042 bytes: listed and saved like any other count. Bytes past the buffer
    // are counted and never stored, and such an answer is never complete.
    void local255Records() {
        CLocalRecordDlg dlg;
        dlg.Create();
        const QByteArray full = ManyRecords(0x78, 255);
        Line()->deliver(full.left(2041));
        QVERIFY(Lines(dlg).isEmpty());
        Line()->deliver(full.right(1));
        const QString first = "255  2024-06-1  2:03:04.099  Invalid Record.",
                      last = "1  2024-06-1  2:03:04.499  Send Command 7 Return.";
        QCOMPARE(QPair(Lines(dlg).first(), Lines(dlg).last()), QPair(first, last));
        QCOMPARE(RecordState(dlg),
                 "255 record(s) in C:\\LocalRecord.txt . | list 255, progress 2040, update on, "
                 "clear on, timer 200");
        const QByteArray file = Take("LocalRecord.txt");
        QVERIFY(file.startsWith("255 record(s) :\r\n\r\n" + first.toLatin1() + "\r\n") &&
                file.endsWith("\r\n" + last.toLatin1() + "\r\n"));
        QCOMPARE(file.count("\r\n"), 257);

        dlg.m_btnUpdate.click();
        Line()->deliver(full + QByteArray(100, '\x78'));
        QCOMPARE(QPair(dlg.m_nRxCount, RecordState(dlg)), QPair(2142, kReading + "200"));
    }

    // 87 FF: the busy report 10 ms later, in one batch or two; every later batch repeats it. The
    // file of the last read stays as it was.
    void remoteBusy() {
        for (int batches : {1, 2}) {
            ResetMessageBeepCount();
            CRemoteRecordDlg dlg;
            dlg.Create();
            Line()->deliver(Answer('\x87'));
            dlg.OnTimer(1);
            dlg.m_btnUpdate.click();
            if (batches == 2) {
                Line()->deliver(QByteArray::fromHex("87"));
                QCOMPARE(dlg.TimerPeriod(1), 200);
            }
            Line()->deliver(QByteArray::fromHex("87FF").right(batches == 1 ? 2 : 1));
            QCOMPARE(RecordState(dlg), kReading + "10");
            dlg.OnTimer(1);
            QCOMPARE(QPair(RecordState(dlg), MessageBeepCount()), QPair(kBusy + kEmptied, 100));
            QCOMPARE(Take("RemoteRecord.txt"), kThreeFile);
            Line()->deliver(QByteArray("\x01"));
            QCOMPARE(dlg.TimerPeriod(1), 10);
            dlg.OnTimer(1);
            QCOMPARE(QPair(MessageBeepCount(), Line()->m_sent), QPair(200, QByteArray("\x78\x78")));
        }
    }

    // Both dialogs in both languages: reading, the lines and their file (GBK in Chinese), no
    // record, the link error (local) or busy (remote) report. When the record file cannot be
    // written (drive C missing, or under a plain file) the records are listed all the same, the
    // status names the file (the reason in its tool tip, until the next read) and no file appears.
    // Pictures of a longer listing and of the failure go to LMX207_SHOTS=<folder>.
    void textsAndShots() {
        const QStringList lines[] = {QString(kThreeFile).split("\r\n").mid(2, 3),
                                     {"3  2008-12-25  13:45:07.123  发命令1。",
                                      "2  2009-00-1  0:00:00.026  光路B中断返回。",
                                      "1  2010-09-31  12:59:59.900  无效记录。"}};
        // Titles of the local and remote dialogs, then the status line's texts.
        const QStringList status[] = {
            {"Local Record", "Remote Record", "Reading Records......", "3 record(s) in C:\\%1 .",
             "No record .", kLinkError, kBusy, "3 record(s) read , but %1/%2 could not be written !",
             "No record . %1/%2 could not be written !"},
            {"本地记录", "对端记录", "读取记录中......", "共有3条记录，保存于  C:\\%1  文件中。",
             "没有任何记录。", "连接失败！请检查连线、串口选择及装置电源！",
             "接收告警或系统忙，无法读取对侧记录！", "共有3条记录，但无法写入文件 %1/%2 ！",
             "没有任何记录。无法写入文件 %1/%2 ！"}};
        const QString plain = m_env.root() + "/plain";
        QVERIFY(QFile(plain).open(QIODevice::WriteOnly));
        for (int chinese : {0, 1}) {
            const QString lang = chinese ? "zh" : "en";
            for (const Unit& u : kUnits) {
                const QString file = chinese ? u.zhFile : u.file,
                              shot = u.remote ? "remote_record_" : "local_record_",
                              nowhere = u.remote ? plain + "/c" : m_env.root() + "/no/such/folder";
                auto dlg = NewDialog(u.remote, chinese);
                dlg->Create();
                QStringList seen = {dlg->windowTitle(), dlg->GetDlgItemText(1005)};
                Line()->deliver(Answer(u.answer));
                QCOMPARE(Lines(*dlg), lines[chinese]);
                seen << dlg->GetDlgItemText(1005);
                QCOMPARE(Take(file), RecordFileContent(3, lines[chinese], chinese));
                Click(*dlg, 3);
                Line()->deliver(ManyRecords(u.answer, 40));
                SaveShot(dlg.get(), shot + lang);
                Click(*dlg, 3);
                Line()->deliver(QByteArray(1, u.answer) + '\0');
                seen << dlg->GetDlgItemText(1005);

                qputenv("LMX207_DRIVE_C", nowhere.toLocal8Bit());
                Click(*dlg, 3);
                Line()->deliver(Answer(u.answer));
                seen << RecordState(*dlg);
                const bool reason = !dlg->GetDlgItem(1005)->toolTip().isEmpty();
                Click(*dlg, 3);
                QVERIFY(reason && dlg->GetDlgItem(1005)->toolTip().isEmpty());
                Line()->deliver(QByteArray(1, u.answer) + '\0');
                seen << RecordState(*dlg);
                qputenv("LMX207_DRIVE_C", m_env.driveC().toLocal8Bit());

                Click(*dlg, 3);
                Line()->deliver(u.remote ? QByteArray::fromHex("87FF") : QByteArray());
                dlg->OnTimer(1);
                seen << dlg->GetDlgItemText(1005);
                SaveShot(dlg.get(), shot + (u.remote ? "busy_" : "linkerror_") + lang);
                const QStringList& want = status[chinese];
                QCOMPARE(seen, QStringList({want[int(u.remote)], want[2], want[3].arg(file), want[4],
                                            want[7].arg(nowhere, file) + kThreeListed + "200",
                                            want[8].arg(nowhere, file) + kNoneListed + "200",
                                            want[u.remote ? 6 : 5]}));
            }
            SaveShot(OpenDialog<CClearConfirmDlg>(chinese).get(), "clear_confirm_" + lang);
        }
        QVERIFY(!QFile::exists(m_env.root() + "/no"));
        QCOMPARE(QDir(m_env.root()).entryList(QDir::Files), QStringList{"plain"});
    }
};

QTEST_MAIN(TestRecords)
#include "tst_records.moc"
