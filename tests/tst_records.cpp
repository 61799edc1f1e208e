#include "records/ClearConfirmDlg.h"
#include "records/LocalRecordDlg.h"
#include "records/RecordFormat.h"
#include "records/RemoteRecordDlg.h"
#include "support/DialogTestSupport.h"
#include "support/ShellHelpers.h"
#include "support/TestEnv.h"

#include <QApplication>
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
const QString kLinkError = "Link error !  Please check the cable , serial port and power !";

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

void AddUnits() {
    QTest::addColumn<int>("unit");
    QTest::newRow("local") << 0;
    QTest::newRow("remote") << 1;
}

} // namespace

class TestRecords : public QObject {
    Q_OBJECT

    TestEnv m_env;
    MessageBoxRecorder m_boxes;
    QString DriveC(const QString& file) const { return m_env.driveC() + '/' + file; }

private slots:
    void initTestCase() {
        MemoryCommBackend::InstallFactory();
        AfxGetApp().m_strPort = QStringLiteral("COM1");
    }
    void init() {
        m_boxes.calls.clear();
        ResetMessageBeepCount();
        QDir(m_env.driveC()).removeRecursively();
        QDir().mkpath(m_env.driveC());
        qputenv("LMX207_DRIVE_C", m_env.driveC().toLocal8Bit());
    }

    // Spot checks per template: list and status line at their places, the Clear button about its
    // place (buttons narrower than their caption bitmap grow about the centre) and clear of its
    // neighbours, the faces of the language, Exit cancelling.
    void layout_data() {
        QTest::addColumn<int>("chinese");
        QTest::addColumn<bool>("remote");
        QTest::addColumn<QString>("title");
        // List 1003, status 1005, button 4: x, y, cx, cy each; then the widths of the Exit,
        // Update and Clear faces and the height of the Clear face.
        QTest::addColumn<QList<int>>("spots");
        QTest::newRow("131") << 1 << false << QString("本地记录")
                             << QList<int>{26, 19, 182, 114, 25, 7, 206, 8, 94, 158, 50, 14, 32, 65, 65, 18};
        QTest::newRow("164") << 0 << false << QString("Local Record")
                             << QList<int>{7, 19, 219, 118, 7, 6, 219, 8, 91, 158, 52, 14, 26, 96, 86, 16};
        QTest::newRow("173") << 1 << true << QString("对端记录")
                             << QList<int>{20, 20, 181, 118, 20, 7, 199, 8, 88, 161, 50, 14, 32, 65, 65, 18};
        QTest::newRow("172") << 0 << true << QString("Remote Record")
                             << QList<int>{14, 21, 219, 118, 14, 7, 226, 8, 95, 158, 52, 14, 26, 96, 86, 16};
    }
    void layout() {
        QFETCH(int, chinese);
        QFETCH(bool, remote);
        QFETCH(QString, title);
        QFETCH(QList<int>, spots);
        auto dlg = NewDialog(remote, chinese);
        dlg->Create();
        QCOMPARE(dlg->windowTitle(), title);
        const auto rect = [&](int i) {
            return dlg->MapDialogRect(spots[i], spots[i + 1], spots[i + 2], spots[i + 3]);
        };
        QCOMPARE(dlg->GetDlgItem(1003)->geometry(), rect(0));
        QCOMPARE(dlg->GetDlgItem(1005)->geometry(), rect(4));
        const QRect clear = dlg->GetDlgItem(4)->geometry();
        QVERIFY(qAbs(clear.center().x() - rect(8).center().x()) <= 1);
        QCOMPARE(QPair(clear.top(), clear.height()), QPair(rect(8).top(), rect(8).height()));
        const auto button = [&](int id) { return dlg->GetDlgItemAs<CBmpButton>(id); };
        const QList<int> faces = {button(2)->m_nWidth, button(3)->m_nWidth, button(4)->m_nWidth,
                                  button(4)->m_nHeight};
        QCOMPARE(faces, spots.mid(12));
        QVERIFY(!clear.intersects(button(3)->geometry()) && !clear.intersects(button(2)->geometry()));
        button(2)->click();
        QCOMPARE(dlg->result(), int(IDCANCEL));
    }

    // On opening: waiting input thrown away, the read byte sent, timer 1 at 200 ms. An answer in
    // single bytes completes on its last byte and is listed and saved; a stray byte after it and
    // the tick change nothing; Update Record empties the list and reads again.
    void readInPieces_data() { AddUnits(); }
    void readInPieces() {
        QFETCH(int, unit);
        const Unit& u = kUnits[unit];
        auto dlg = NewDialog(u.remote);
        Line()->preload(QByteArray(1, u.answer) + '\0');
        dlg->Create();
        QCOMPARE(Line()->m_port, 1);
        QCOMPARE(Line()->m_sent, QByteArray(1, u.read));
        QCOMPARE(RecordState(*dlg), kReading + "200");

        const QByteArray answer = Answer(u.answer);
        for (int i = 0; i < answer.size() - 1; ++i)
            Line()->deliver(answer.mid(i, 1));
        QCOMPARE(RecordState(*dlg), kReading + "200");
        QVERIFY(QDir(m_env.driveC()).isEmpty());
        Line()->deliver(answer.right(1));
        const QString listed =
            QString("3 record(s) in C:\\%1 . | list 3, progress 24, update on, clear on, timer ").arg(u.file);
        QCOMPARE(RecordState(*dlg), listed + "200");
        QCOMPARE(dlg->GetDlgItemAs<QProgressBar>(1006)->maximum(), 24);
        QCOMPARE(QDir(m_env.driveC()).entryList(QDir::Files), QStringList(u.file));
        QCOMPARE(ReadFile(DriveC(u.file)), kThreeFile);

        QFile::remove(DriveC(u.file));
        Line()->deliver(QByteArray("\x01"));
        dlg->OnTimer(1);
        QCOMPARE(RecordState(*dlg), listed + "-1");
        QVERIFY(!QFile::exists(DriveC(u.file)));

        Click(*dlg, 3);
        QCOMPARE(Line()->m_sent, QByteArray(2, u.read));
        QCOMPARE(RecordState(*dlg), kReading + "200");
        Line()->deliver(answer.left(10));
        Line()->deliver(answer.mid(10));
        QCOMPARE(ReadFile(DriveC(u.file)), kThreeFile);

        // No answer by the tick: the link error. An answer that comes after all is still listed
        // and saved.
        Click(*dlg, 3);
        dlg->OnTimer(1);
        QCOMPARE(RecordState(*dlg), kLinkError + kEmptied);
        QCOMPARE(MessageBeepCount(), 100);
        QFile::remove(DriveC(u.file));
        Line()->deliver(answer);
        QCOMPARE(RecordState(*dlg), listed + "-1");
        QCOMPARE(ReadFile(DriveC(u.file)), kThreeFile);

        // The other unit's answer byte answers the tick but is never listed.
        Click(*dlg, 3);
        Line()->deliver(Answer(u.read));
        dlg->OnTimer(1);
        QCOMPARE(RecordState(*dlg), kReading + "-1");
        QCOMPARE(MessageBeepCount(), 100);

        // A first byte 0x00 counts as no answer.
        auto again = NewDialog(u.remote);
        again->Create();
        Line()->deliver(QByteArray("\x00\x00", 2));
        again->OnTimer(1);
        QCOMPARE(RecordState(*again), kLinkError + kEmptied);
    }

    // Declining changes nothing and sends nothing; confirming sends the clear byte and the
    // acknowledgement starts a fresh read. Both ring the 100 beeps first.
    void clearDeclinedAndConfirmed_data() { AddUnits(); }
    void clearDeclinedAndConfirmed() {
        QFETCH(int, unit);
        const Unit& u = kUnits[unit];
        auto dlg = NewDialog(u.remote);
        dlg->Create();
        Line()->deliver(Answer(u.answer));
        dlg->OnTimer(1);
        const QString listed = RecordState(*dlg);

        QString title;
        AnswerConfirmation(IDCANCEL, &title);
        Click(*dlg, 4);
        QCOMPARE(title, QString("Alarm"));
        QCOMPARE(MessageBeepCount(), 100);
        QCOMPARE(Line()->m_sent, QByteArray(1, u.read));
        QCOMPARE(RecordState(*dlg), listed);

        AnswerConfirmation(IDOK);
        Click(*dlg, 4);
        QCOMPARE(MessageBeepCount(), 200);
        QCOMPARE(Line()->m_sent, QByteArray(1, u.read) + u.clear);
        QCOMPARE(RecordState(*dlg), QString(" | list 0, progress 0, update on, clear off, timer -1"));

        Line()->deliver(QByteArray(1, u.ack));
        QCOMPARE(Line()->m_sent, QByteArray(1, u.read) + u.clear + u.read);
        QCOMPARE(RecordState(*dlg), kReading + "200");
        Line()->deliver(QByteArray(1, u.answer) + '\0');
        QCOMPARE(RecordState(*dlg),
                 QString("No record . | list 0, progress 0, update on, clear off, timer 200"));
        QCOMPARE(ReadFile(DriveC(u.file)), QByteArray("No record ."));
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
        const QByteArray file = ReadFile(DriveC("LocalRecord.txt"));
        QVERIFY(file.startsWith("255 record(s) :\r\n\r\n" + first.toLatin1() + "\r\n"));
        QVERIFY(file.endsWith("\r\n" + last.toLatin1() + "\r\n"));
        QCOMPARE(file.count("\r\n"), 257);

        dlg.m_btnUpdate.click();
        Line()->deliver(full + QByteArray(100, '\x78'));
        QCOMPARE(dlg.m_nRxCount, 2142);
        QCOMPARE(RecordState(dlg), kReading + "200");
    }

    // The record file cannot be written (drive C under a plain file, or missing): the records are
    // listed all the same, the status names the file (the reason in its tool tip), no file appears.
    void unwritableDriveC() {
        const QString plainFile = m_env.root() + "/plain";
        QFile f(plainFile);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        const QString underFile = plainFile + "/c", missing = m_env.root() + "/no/such/folder";
        const QList<std::tuple<int, bool, QString, QByteArray, QString>> cases = {
            {0, false, underFile, kThree,
             "3 record(s) read , but %1/LocalRecord.txt could not be written ! | list 3, progress 24, update "
             "on, clear on"},
            {0, true, missing, QByteArray::fromHex("8700"),
             "No record . %1/RemoteRecord.txt could not be written ! | list 0, progress 0, update on, clear "
             "off"},
            {1, false, missing, kThree,
             "共有3条记录，但无法写入文件 %1/本地记录.txt ！ | list 3, progress 24, update on, clear on"},
            {1, false, missing, QByteArray::fromHex("7800"),
             "没有任何记录。无法写入文件 %1/本地记录.txt ！ | list 0, progress 0, update on, clear off"},
        };
        for (const auto& [chinese, remote, driveC, answer, state] : cases) {
            qputenv("LMX207_DRIVE_C", driveC.toLocal8Bit());
            auto dlg = NewDialog(remote, chinese);
            dlg->Create();
            Line()->deliver(answer);
            QCOMPARE(RecordState(*dlg), state.arg(driveC) + ", timer 200");
            QVERIFY(!dlg->GetDlgItem(1005)->toolTip().isEmpty());
            Click(*dlg, 3);
            QVERIFY(dlg->GetDlgItem(1005)->toolTip().isEmpty());
        }
        QVERIFY(!QFile::exists(m_env.root() + "/no"));
        QCOMPARE(QDir(m_env.root()).entryList(QDir::Files | QDir::NoDotAndDotDot), QStringList{"plain"});
    }

    // The platform refuses the device: its text in a message box, no byte sent, no timer.
    void portRefused() {
        AfxGetApp().m_strPort = QStringLiteral("COM2");
        for (const Unit& u : kUnits) {
            m_boxes.calls.clear();
            auto dlg = NewDialog(u.remote);
            Line()->m_refuseOpen = true;
            dlg->Create();
            QCOMPARE(QPair(Line()->m_port, Line()->m_sent), QPair(2, QByteArray()));
            QCOMPARE(m_boxes.calls.size(), 1);
            QCOMPARE(m_boxes.calls[0].text, Line()->m_refuseText);
            QVERIFY(RecordState(*dlg).endsWith("update off, clear off, timer -1"));
        }
        AfxGetApp().m_strPort = QStringLiteral("COM1");
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
            QCOMPARE(RecordState(dlg),
                     "Receive alarm or the system is busy, can't get the remote records !" + kEmptied);
            QCOMPARE(MessageBeepCount(), 100);
            QCOMPARE(ReadFile(DriveC("RemoteRecord.txt")), kThreeFile);

            Line()->deliver(QByteArray("\x01"));
            QCOMPARE(dlg.TimerPeriod(1), 10);
            dlg.OnTimer(1);
            QCOMPARE(MessageBeepCount(), 200);
            QCOMPARE(Line()->m_sent, QByteArray("\x78\x78"));
        }
    }

    // The Chinese interface of both dialogs: reading, the lines and their file in GBK, no record,
    // and the link error (local) or busy (remote) report.
    void chineseTexts() {
        const QStringList zh = {"3  2008-12-25  13:45:07.123  发命令1。",
                                "2  2009-00-1  0:00:00.026  光路B中断返回。",
                                "1  2010-09-31  12:59:59.900  无效记录。"};
        for (const Unit& u : kUnits) {
            auto dlg = NewDialog(u.remote, 1);
            dlg->Create();
            QCOMPARE(dlg->GetDlgItemText(1005), QString("读取记录中......"));
            Line()->deliver(Answer(u.answer));
            QCOMPARE(Lines(*dlg), zh);
            QCOMPARE(dlg->GetDlgItemText(1005),
                     QString("共有3条记录，保存于  C:\\%1  文件中。").arg(u.zhFile));
            QCOMPARE(ReadFile(DriveC(u.zhFile)), RecordFileContent(3, zh, true));
            Click(*dlg, 3);
            Line()->deliver(QByteArray(1, u.answer) + '\0');
            QCOMPARE(dlg->GetDlgItemText(1005), QString("没有任何记录。"));
            Click(*dlg, 3);
            Line()->deliver(u.remote ? QByteArray::fromHex("87FF") : QByteArray());
            dlg->OnTimer(1);
            QCOMPARE(dlg->GetDlgItemText(1005), u.remote
                                                    ? QString("接收告警或系统忙，无法读取对侧记录！")
                                                    : QString("连接失败！请检查连线、串口选择及装置电源！"));
        }
    }

    // Pictures for a person to look at: LMX207_SHOTS=<folder>.
    void screenshots() {
        for (int chinese : {0, 1}) {
            const QString lang = chinese ? "zh" : "en";
            for (const Unit& u : kUnits) {
                const QString name = u.remote ? "remote_record_" : "local_record_";
                auto dlg = NewDialog(u.remote, chinese);
                dlg->Create();
                Line()->deliver(ManyRecords(u.answer, u.remote ? 3 : 40));
                SaveShot(dlg.get(), name + lang);
                Click(*dlg, 3);
                Line()->deliver(u.remote ? QByteArray::fromHex("87FF") : QByteArray());
                dlg->OnTimer(1);
                SaveShot(dlg.get(), name + (u.remote ? "busy_" : "linkerror_") + lang);
            }
            SaveShot(OpenDialog<CClearConfirmDlg>(chinese).get(), "clear_confirm_" + lang);
        }
    }
};

QTEST_MAIN(TestRecords)
#include "tst_records.moc"
