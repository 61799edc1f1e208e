#include "app/KelpApp.h"
#include "link/MSComm.h"
#include "platform/Platform.h"
#include "records/ClearConfirmDlg.h"
#include "records/LocalRecordDlg.h"
#include "records/RecordFormat.h"
#include "records/RemoteRecordDlg.h"
#include "support/TestEnv.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QTest>
#include <QTimer>

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

// Each unit's bytes: read command, first byte of its record answer, clear command, acknowledgement.
struct Unit {
    bool remote;
    char read, answer, clear, ack;
    QString file;
};
const Unit kUnits[] = {{false, '\x87', '\x78', '\x88', '\x77', "LocalRecord.txt"},
                       {true, '\x78', '\x87', '\x77', '\x88', "RemoteRecord.txt"}};

QByteArray Answer(char first, QByteArray answer = kThree) {
    answer[0] = first;
    return answer;
}

QByteArray ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

std::unique_ptr<CDialog> NewDialog(bool remote) {
    return remote ? std::unique_ptr<CDialog>(new CRemoteRecordDlg)
                  : std::unique_ptr<CDialog>(new CLocalRecordDlg);
}
QListWidget* List(CDialog& d) {
    return d.GetDlgItemAs<QListWidget>(1003);
}
QLabel* Status(CDialog& d) {
    return d.GetDlgItemAs<QLabel>(1005);
}
void Click(CDialog& d, int id) {
    d.GetDlgItemAs<QAbstractButton>(id)->click();
}

QStringList Lines(CDialog& d) {
    QStringList lines;
    for (int i = 0; i < List(d)->count(); ++i)
        lines << List(d)->item(i)->text();
    return lines;
}

// Status text, list, progress, Update and Clear buttons and the link timer's period (-1: stopped).
QString State(CDialog& d) {
    return QString("%1 | list %2, progress %3, update %4, clear %5, timer %6")
        .arg(Status(d)->text())
        .arg(List(d)->count())
        .arg(d.GetDlgItemAs<QProgressBar>(1006)->value())
        .arg(d.GetDlgItem(3)->isEnabled() ? "on" : "off", d.GetDlgItem(4)->isEnabled() ? "on" : "off")
        .arg(d.TimerPeriod(1));
}

// A record answer of n records, record k with the event code k % 40 and a time that counts.
QByteArray ManyRecords(char answerByte, int n) {
    QByteArray a = QByteArray(1, answerByte) + char(n);
    for (int k = 0; k < n; ++k)
        a += QByteArray::fromHex("2401020304") + char(0x60 | (k % 10)) + char(k % 40) + char(0x99);
    return a;
}

// Presses Yes (IDOK) or No (IDCANCEL) on the clear confirmation as soon as it runs modally.
void AnswerConfirmation(int button, QString* title = nullptr) {
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, button, title] {
        auto* dlg = qobject_cast<CClearConfirmDlg*>(QApplication::activeModalWidget());
        if (!dlg)
            return;
        timer->stop();
        timer->deleteLater();
        if (title)
            *title = dlg->windowTitle();
        (button == IDOK ? dlg->m_btnYes : dlg->m_btnNo).click();
    });
    timer->start();
}

void SaveShot(QWidget* w, const QString& name) {
    const QString dir = qEnvironmentVariable("LMX207_SHOTS");
    if (!dir.isEmpty() && QDir().mkpath(dir))
        w->grab().save(dir + '/' + name + ".png");
}

void AddUnits() {
    QTest::addColumn<int>("unit");
    QTest::newRow("local") << 0;
    QTest::newRow("remote") << 1;
}

} // namespace

class TestRecords : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void layout_data();
    void layout();
    void readInPieces_data() { AddUnits(); }
    void readInPieces();
    void clearDeclinedAndConfirmed_data() { AddUnits(); }
    void clearDeclinedAndConfirmed();
    void linkErrorAndLateAnswer();
    void local255Records();
    void unwritableDriveC();
    void portRefused();
    void remoteBusy();
    void chineseTexts();
    void screenshots();

private:
    QString DriveC(const QString& file) const { return m_env->driveC() + '/' + file; }

    TestEnv* m_env = nullptr;
    QList<MessageBoxCall> m_boxes;
};

void TestRecords::initTestCase() {
    m_env = new TestEnv;
    MemoryCommBackend::InstallFactory();
    AfxGetApp().m_strPort = QStringLiteral("COM1");
    SetMessageBoxHook([this](const MessageBoxCall& c) {
        m_boxes << c;
        return IDOK;
    });
}

void TestRecords::init() {
    g_bChinese = 0;
    m_boxes.clear();
    ResetMessageBeepCount();
    QDir(m_env->driveC()).removeRecursively();
    QDir().mkpath(m_env->driveC());
    qputenv("LMX207_DRIVE_C", m_env->driveC().toLocal8Bit());
}

void TestRecords::layout_data() {
    QTest::addColumn<int>("chinese");
    QTest::addColumn<bool>("remote");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QList<int>>("rects"); // controls 2, 3, 4, 1003, 1005, 1006: x, y, cx, cy each
    QTest::newRow("131") << 1 << false << QString::fromUtf8("本地记录")
                         << QList<int>{152, 158, 50,  14,  36, 158, 50,  14, 94, 158, 50,  14,
                                       26,  19,  182, 114, 25, 7,   206, 8,  26, 142, 181, 12};
    QTest::newRow("164") << 0 << false << QString("Local Record")
                         << QList<int>{150, 158, 52,  14,  32, 158, 52,  14, 91, 158, 52,  14,
                                       7,   19,  219, 118, 7,  6,   219, 8,  26, 142, 181, 12};
    QTest::newRow("173") << 1 << true << QString::fromUtf8("对端记录")
                         << QList<int>{146, 161, 50,  14,  30, 161, 50,  14, 88, 161, 50,  14,
                                       20,  20,  181, 118, 20, 7,   199, 8,  20, 143, 181, 12};
    QTest::newRow("172") << 0 << true << QString("Remote Record")
                         << QList<int>{153, 158, 52,  14,  37, 158, 52,  14, 95, 158, 52,  14,
                                       14,  21,  219, 118, 14, 7,   226, 8,  31, 143, 181, 12};
}

// Every control at its place, the bitmap faces of the language, the exit button cancelling.
void TestRecords::layout() {
    QFETCH(int, chinese);
    QFETCH(bool, remote);
    QFETCH(QString, title);
    QFETCH(QList<int>, rects);
    g_bChinese = chinese;
    auto dlg = NewDialog(remote);
    dlg->Create();
    QCOMPARE(dlg->windowTitle(), title);
    QList<CBmpButton*> buttons; // Exit, Update Record, Clear Record
    const int ids[] = {2, 3, 4, 1003, 1005, 1006};
    for (int i = 0; i < 6; ++i) {
        QVERIFY(dlg->GetDlgItem(ids[i]));
        const QRect want =
            dlg->MapDialogRect(rects[4 * i], rects[4 * i + 1], rects[4 * i + 2], rects[4 * i + 3]);
        const QRect got = dlg->GetDlgItem(ids[i])->geometry();
        if (i >= 3) {
            QCOMPARE(got, want);
            continue;
        }
        // A button too narrow for its caption bitmap grows about its centre, no more.
        buttons << dlg->GetDlgItemAs<CBmpButton>(ids[i]);
        QVERIFY(buttons[i]);
        QCOMPARE(got.width(), std::max(want.width(), buttons[i]->m_nWidth + 6));
        QVERIFY(qAbs(got.center().x() - want.center().x()) <= 1);
        QCOMPARE(QPair(got.top(), got.height()), QPair(want.top(), want.height()));
    }
    QVERIFY(!buttons[1]->geometry().intersects(buttons[2]->geometry()));
    QVERIFY(!buttons[2]->geometry().intersects(buttons[0]->geometry()));
    QCOMPARE(
        QList<int>({buttons[0]->m_nWidth, buttons[1]->m_nWidth, buttons[2]->m_nWidth, buttons[2]->m_nHeight}),
        chinese ? QList<int>({32, 65, 65, 18}) : QList<int>({26, 96, 86, 16}));
    buttons[0]->click();
    QCOMPARE(dlg->result(), int(IDCANCEL));
}

// On opening: waiting input thrown away, the read byte sent, timer 1 at 200 ms. An answer in
// single bytes completes on its last byte and is listed and saved; a stray byte after it and the
// tick change nothing; Update Record empties the list and reads again; the other unit's answer
// byte first answers the tick but is never listed.
void TestRecords::readInPieces() {
    QFETCH(int, unit);
    const Unit& u = kUnits[unit];
    auto dlg = NewDialog(u.remote);
    MemoryCommBackend* line = MemoryCommBackend::Last();
    line->preload(QByteArray(1, u.answer) + '\0');
    dlg->Create();
    QCOMPARE(line->m_port, 1);
    QCOMPARE(line->m_sent, QByteArray(1, u.read));
    QCOMPARE(State(*dlg), kReading + "200");

    const QByteArray answer = Answer(u.answer);
    for (int i = 0; i < answer.size() - 1; ++i)
        line->deliver(answer.mid(i, 1));
    QCOMPARE(State(*dlg), kReading + "200");
    QVERIFY(QDir(m_env->driveC()).isEmpty());
    line->deliver(answer.right(1));
    const QString listed =
        QString("3 record(s) in C:\\%1 . | list 3, progress 24, update on, clear on, timer ").arg(u.file);
    QCOMPARE(State(*dlg), listed + "200");
    QCOMPARE(dlg->GetDlgItemAs<QProgressBar>(1006)->maximum(), 24);
    QCOMPARE(QDir(m_env->driveC()).entryList(QDir::Files), QStringList(u.file));
    QCOMPARE(ReadFile(DriveC(u.file)), kThreeFile);

    QFile::remove(DriveC(u.file));
    line->deliver(QByteArray("\x01"));
    dlg->OnTimer(1);
    QCOMPARE(State(*dlg), listed + "-1");
    QVERIFY(!QFile::exists(DriveC(u.file)));

    Click(*dlg, 3);
    QCOMPARE(line->m_sent, QByteArray(2, u.read));
    QCOMPARE(State(*dlg), kReading + "200");
    line->deliver(answer.left(10));
    line->deliver(answer.mid(10));
    QCOMPARE(ReadFile(DriveC(u.file)), kThreeFile);

    Click(*dlg, 3);
    line->deliver(Answer(u.read));
    dlg->OnTimer(1);
    QCOMPARE(State(*dlg), kReading + "-1");
    QCOMPARE(MessageBeepCount(), 0);
}

// Declining changes nothing and sends nothing; confirming sends the clear byte and the
// acknowledgement starts a fresh read. Both ring the 100 beeps first.
void TestRecords::clearDeclinedAndConfirmed() {
    QFETCH(int, unit);
    const Unit& u = kUnits[unit];
    auto dlg = NewDialog(u.remote);
    dlg->Create();
    MemoryCommBackend* line = MemoryCommBackend::Last();
    line->deliver(Answer(u.answer));
    dlg->OnTimer(1);
    const QString listed = State(*dlg);

    QString title;
    AnswerConfirmation(IDCANCEL, &title);
    Click(*dlg, 4);
    QCOMPARE(title, QString("Alarm"));
    QCOMPARE(MessageBeepCount(), 100);
    QCOMPARE(line->m_sent, QByteArray(1, u.read));
    QCOMPARE(State(*dlg), listed);

    AnswerConfirmation(IDOK);
    Click(*dlg, 4);
    QCOMPARE(MessageBeepCount(), 200);
    QCOMPARE(line->m_sent, QByteArray(1, u.read) + u.clear);
    QCOMPARE(State(*dlg), QString(" | list 0, progress 0, update on, clear off, timer -1"));

    line->deliver(QByteArray(1, u.ack));
    QCOMPARE(line->m_sent, QByteArray(1, u.read) + u.clear + u.read);
    QCOMPARE(State(*dlg), kReading + "200");
    line->deliver(QByteArray(1, u.answer) + '\0');
    QCOMPARE(State(*dlg), QString("No record . | list 0, progress 0, update on, clear off, timer 200"));
    QCOMPARE(ReadFile(DriveC(u.file)), QByteArray("No record ."));
}

// No answer, or a first byte 0x00, by the tick: the link error, records on show or not. An answer
// that comes after all is still listed and saved.
void TestRecords::linkErrorAndLateAnswer() {
    for (const QByteArray& noAnswer : {QByteArray(), QByteArray("\x00\x00", 2)}) {
        ResetMessageBeepCount();
        CLocalRecordDlg dlg;
        dlg.Create();
        MemoryCommBackend* line = MemoryCommBackend::Last();
        line->deliver(kThree);
        dlg.OnTimer(1);
        dlg.m_btnUpdate.click();
        line->deliver(noAnswer);
        dlg.OnTimer(1);
        QCOMPARE(State(dlg),
                 QString("Link error !  Please check the cable , serial port and power ! | list 0, "
                         "progress 0, update off, clear off, timer -1"));
        QCOMPARE(MessageBeepCount(), 100);
        if (!noAnswer.isEmpty())
            continue;
        QFile::remove(DriveC("LocalRecord.txt"));
        line->deliver(kThree.left(1));
        line->deliver(kThree.mid(1));
        QCOMPARE(
            State(dlg),
            QString(
                "3 record(s) in C:\\LocalRecord.txt . | list 3, progress 24, update on, clear on, timer -1"));
        QCOMPARE(ReadFile(DriveC("LocalRecord.txt")), kThreeFile);
        QCOMPARE(MessageBeepCount(), 100);
    }
}

// 255 records are 2042 bytes: listed and saved like any other count. Bytes past the buffer are
// counted and never stored, and such an answer is never complete.
void TestRecords::local255Records() {
    CLocalRecordDlg dlg;
    dlg.Create();
    MemoryCommBackend* line = MemoryCommBackend::Last();
    const QByteArray full = ManyRecords(0x78, 255);
    line->deliver(full.left(2041));
    QCOMPARE(dlg.m_lstRecords->count(), 0);
    line->deliver(full.right(1));
    QCOMPARE(dlg.m_lstRecords->item(0)->text(), QString("255  2024-06-1  2:03:04.099  Invalid Record."));
    QCOMPARE(dlg.m_lstRecords->item(254)->text(),
             QString("1  2024-06-1  2:03:04.499  Send Command 7 Return."));
    QCOMPARE(State(dlg),
             QString("255 record(s) in C:\\LocalRecord.txt . | list 255, progress 2040, update on, "
                     "clear on, timer 200"));
    const QByteArray file = ReadFile(DriveC("LocalRecord.txt"));
    QVERIFY(file.startsWith("255 record(s) :\r\n\r\n255  2024-06-1  2:03:04.099  Invalid Record.\r\n"));
    QVERIFY(file.endsWith("\r\n1  2024-06-1  2:03:04.499  Send Command 7 Return.\r\n"));
    QCOMPARE(file.count("\r\n"), 257);

    dlg.m_btnUpdate.click();
    line->deliver(full + QByteArray(100, '\x78'));
    QCOMPARE(dlg.m_nRxCount, 2142);
    QCOMPARE(State(dlg), kReading + "200");
}

// The record file cannot be written (drive C under a plain file, or missing): the records are
// listed all the same, the status names the file (the reason in its tool tip), no file appears.
void TestRecords::unwritableDriveC() {
    const QString plainFile = m_env->root() + "/plain";
    QFile f(plainFile);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    const QString underFile = plainFile + "/c", missing = m_env->root() + "/no/such/folder";
    struct Case {
        int chinese;
        bool remote;
        QString driveC;
        QByteArray answer;
        QString state;
    };
    const Case cases[] = {
        {0, false, underFile, kThree,
         "3 record(s) read , but %1/LocalRecord.txt could not be written ! | list 3, progress 24, update on, "
         "clear on"},
        {0, true, missing, QByteArray::fromHex("8700"),
         "No record . %1/RemoteRecord.txt could not be written ! | list 0, progress 0, update on, clear off"},
        {1, false, missing, kThree,
         QString::fromUtf8(
             "共有3条记录，但无法写入文件 %1/本地记录.txt ！ | list 3, progress 24, update on, clear on")},
        {1, false, missing, QByteArray::fromHex("7800"),
         QString::fromUtf8(
             "没有任何记录。无法写入文件 %1/本地记录.txt ！ | list 0, progress 0, update on, clear off")},
    };
    for (const Case& c : cases) {
        g_bChinese = c.chinese;
        qputenv("LMX207_DRIVE_C", c.driveC.toLocal8Bit());
        auto dlg = NewDialog(c.remote);
        dlg->Create();
        MemoryCommBackend::Last()->deliver(c.answer);
        QCOMPARE(State(*dlg), c.state.arg(c.driveC) + ", timer 200");
        QVERIFY(!Status(*dlg)->toolTip().isEmpty());
        Click(*dlg, 3);
        QVERIFY(Status(*dlg)->toolTip().isEmpty());
    }
    QVERIFY(!QFile::exists(m_env->root() + "/no"));
    QCOMPARE(QDir(m_env->root()).entryList(QDir::Files | QDir::NoDotAndDotDot), QStringList{"plain"});
}

// The platform refuses the device: its text in a message box, no byte sent, no timer.
void TestRecords::portRefused() {
    AfxGetApp().m_strPort = QStringLiteral("COM2");
    for (bool remote : {false, true}) {
        m_boxes.clear();
        auto dlg = NewDialog(remote);
        MemoryCommBackend* line = MemoryCommBackend::Last();
        line->m_refuseOpen = true;
        dlg->Create();
        QCOMPARE(line->m_port, 2);
        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(m_boxes[0].text, line->m_refuseText);
        QVERIFY(line->m_sent.isEmpty());
        QVERIFY(State(*dlg).endsWith("update off, clear off, timer -1"));
    }
    AfxGetApp().m_strPort = QStringLiteral("COM1");
}

// 87 FF: the busy report 10 ms later, in one batch or two; every later batch repeats it. The file
// of the last read stays as it was.
void TestRecords::remoteBusy() {
    for (int batches : {1, 2}) {
        ResetMessageBeepCount();
        CRemoteRecordDlg dlg;
        dlg.Create();
        MemoryCommBackend* line = MemoryCommBackend::Last();
        line->deliver(Answer('\x87'));
        dlg.OnTimer(1);
        dlg.m_btnUpdate.click();
        if (batches == 2) {
            line->deliver(QByteArray::fromHex("87"));
            QCOMPARE(dlg.TimerPeriod(1), 200);
        }
        line->deliver(QByteArray::fromHex("87FF").right(batches == 1 ? 2 : 1));
        QCOMPARE(State(dlg), kReading + "10");
        dlg.OnTimer(1);
        QCOMPARE(State(dlg),
                 QString("Receive alarm or the system is busy, can't get the remote records ! | list 0, "
                         "progress 0, update off, clear off, timer -1"));
        QCOMPARE(MessageBeepCount(), 100);
        QCOMPARE(ReadFile(DriveC("RemoteRecord.txt")), kThreeFile);

        line->deliver(QByteArray("\x01"));
        QCOMPARE(dlg.TimerPeriod(1), 10);
        dlg.OnTimer(1);
        QCOMPARE(MessageBeepCount(), 200);
        QCOMPARE(line->m_sent, QByteArray("\x78\x78"));
    }
}

void TestRecords::chineseTexts() {
    g_bChinese = 1;
    {
        CLocalRecordDlg dlg;
        dlg.Create();
        QCOMPARE(dlg.m_stcStatus->text(), QString::fromUtf8("读取记录中......"));
        MemoryCommBackend::Last()->deliver(kThree);
        const QStringList zh = {QString::fromUtf8("3  2008-12-25  13:45:07.123  发命令1。"),
                                QString::fromUtf8("2  2009-00-1  0:00:00.026  光路B中断返回。"),
                                QString::fromUtf8("1  2010-09-31  12:59:59.900  无效记录。")};
        QCOMPARE(Lines(dlg), zh);
        QCOMPARE(dlg.m_stcStatus->text(),
                 QString::fromUtf8("共有3条记录，保存于  C:\\本地记录.txt  文件中。"));
        QCOMPARE(ReadFile(DriveC(QString::fromUtf8("本地记录.txt"))), RecordFileContent(3, zh, true));
        dlg.m_btnUpdate.click();
        MemoryCommBackend::Last()->deliver(QByteArray::fromHex("7800"));
        QCOMPARE(dlg.m_stcStatus->text(), QString::fromUtf8("没有任何记录。"));
    }
    CRemoteRecordDlg dlg;
    dlg.Create();
    dlg.OnTimer(1);
    QCOMPARE(dlg.m_stcStatus->text(), QString::fromUtf8("连接失败！请检查连线、串口选择及装置电源！"));
    MemoryCommBackend::Last()->deliver(QByteArray::fromHex("87FF"));
    dlg.OnTimer(1);
    QCOMPARE(dlg.m_stcStatus->text(), QString::fromUtf8("接收告警或系统忙，无法读取对侧记录！"));
}

// Pictures for a person to look at: LMX207_SHOTS=<folder>.
void TestRecords::screenshots() {
    for (int chinese : {0, 1}) {
        g_bChinese = chinese;
        const QString lang = chinese ? "zh" : "en";
        for (bool remote : {false, true}) {
            const QString name = remote ? "remote_record_" : "local_record_";
            auto dlg = NewDialog(remote);
            dlg->Create();
            MemoryCommBackend::Last()->deliver(ManyRecords(remote ? '\x87' : '\x78', remote ? 3 : 40));
            SaveShot(dlg.get(), name + lang);
            Click(*dlg, 3);
            if (remote)
                MemoryCommBackend::Last()->deliver(QByteArray::fromHex("87FF"));
            dlg->OnTimer(1);
            SaveShot(dlg.get(), name + (remote ? "busy_" : "linkerror_") + lang);
        }
        CClearConfirmDlg dlg;
        dlg.Create();
        SaveShot(&dlg, "clear_confirm_" + lang);
    }
}

QTEST_MAIN(TestRecords)
#include "tst_records.moc"
