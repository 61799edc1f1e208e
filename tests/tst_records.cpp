#include "app/KelpApp.h"
#include "link/MSComm.h"
#include "platform/DriveC.h"
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
const QStringList kThreeLines = {"3  2008-12-25  13:45:07.123  Send Command 1.",
                                 "2  2009-00-1  0:00:00.026  Fiber B Interrupt Return.",
                                 "1  2010-09-31  12:59:59.900  Invalid Record."};
const QStringList kThreeLinesZh = {QString::fromUtf8("3  2008-12-25  13:45:07.123  发命令1。"),
                                   QString::fromUtf8("2  2009-00-1  0:00:00.026  光路B中断返回。"),
                                   QString::fromUtf8("1  2010-09-31  12:59:59.900  无效记录。")};

QByteArray WithAnswerByte(QByteArray answer, char answerByte) {
    answer[0] = answerByte;
    return answer;
}

QByteArray ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

QByteArray FileOf(const QStringList& lines, const QByteArray& header) {
    QByteArray b = header + "\r\n\r\n";
    for (const QString& l : lines)
        b += l.toLatin1() + "\r\n";
    return b;
}

QStringList ListLines(QListWidget* list) {
    QStringList lines;
    for (int i = 0; i < list->count(); ++i)
        lines << list->item(i)->text();
    return lines;
}

// A record answer of n records, record k with the event code k % 40 and a time that counts.
QByteArray ManyRecords(char answerByte, int n) {
    QByteArray a;
    a += answerByte;
    a += char(n);
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
    if (dir.isEmpty())
        return;
    QDir().mkpath(dir);
    w->grab().save(dir + '/' + name + ".png");
}

} // namespace

class TestRecords : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void layout_data();
    void layout();
    void localReadSplitOverBatches();
    void localEmptyAndChinese();
    void localLinkErrorAndLateAnswer();
    void localFirstByteNotAnAnswer();
    void localClearDeclinedAndConfirmed();
    void local255Records();
    void unwritableDriveC();
    void portRefused();
    void remoteReadAndClear();
    void remoteBusy();
    void remoteLinkErrorChinese();
    void screenshots();

private:
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

void TestRecords::cleanup() {
    g_bChinese = 0;
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
    std::unique_ptr<CDialog> dlg;
    CBmpButton *exit = nullptr, *update = nullptr, *clear = nullptr;
    if (remote) {
        auto* d = new CRemoteRecordDlg;
        exit = &d->m_btnExit, update = &d->m_btnUpdate, clear = &d->m_btnClear;
        dlg.reset(d);
    } else {
        auto* d = new CLocalRecordDlg;
        exit = &d->m_btnExit, update = &d->m_btnUpdate, clear = &d->m_btnClear;
        dlg.reset(d);
    }
    dlg->Create();
    QCOMPARE(dlg->windowTitle(), title);
    const int ids[] = {2, 3, 4, 1003, 1005, 1006};
    for (int i = 0; i < 6; ++i) {
        QVERIFY(dlg->GetDlgItem(ids[i]));
        const QRect want =
            dlg->MapDialogRect(rects[4 * i], rects[4 * i + 1], rects[4 * i + 2], rects[4 * i + 3]);
        const QRect got = dlg->GetDlgItem(ids[i])->geometry();
        if (auto* b = qobject_cast<CBmpButton*>(dlg->GetDlgItem(ids[i]))) {
            // A button too narrow for its caption bitmap grows about its centre, no more.
            QCOMPARE(got.width(), std::max(want.width(), b->m_nWidth + 6));
            QVERIFY(qAbs(got.center().x() - want.center().x()) <= 1);
            QCOMPARE(got.top(), want.top());
            QCOMPARE(got.height(), want.height());
        } else {
            QCOMPARE(got, want);
        }
    }
    // The buttons never overlap one another.
    QVERIFY(!update->geometry().intersects(clear->geometry()));
    QVERIFY(!clear->geometry().intersects(exit->geometry()));
    QCOMPARE(dlg->GetDlgItem(2), static_cast<QWidget*>(exit));
    QCOMPARE(dlg->GetDlgItem(3), static_cast<QWidget*>(update));
    QCOMPARE(dlg->GetDlgItem(4), static_cast<QWidget*>(clear));
    QCOMPARE(exit->m_nWidth, chinese ? 32 : 26);
    QCOMPARE(update->m_nWidth, chinese ? 65 : 96);
    QCOMPARE(clear->m_nWidth, chinese ? 65 : 86);
    QCOMPARE(clear->m_nHeight, chinese ? 18 : 16);
    exit->click();
    QCOMPARE(dlg->result(), int(IDCANCEL));
}

// On opening: waiting input thrown away, 0x87 sent, timer 1 at 200 ms. An answer in single bytes
// completes on its last byte, and later bytes change nothing.
void TestRecords::localReadSplitOverBatches() {
    CLocalRecordDlg dlg;
    MemoryCommBackend* line = MemoryCommBackend::Last();
    line->preload(QByteArray::fromHex("7800"));
    dlg.Create();
    QCOMPARE(line->m_port, 1);
    QCOMPARE(line->m_sent, QByteArray("\x87"));
    QCOMPARE(dlg.m_stcStatus->text(), QString("Reading Records......"));
    QVERIFY(!dlg.m_btnUpdate.isEnabled());
    QVERIFY(!dlg.m_btnClear.isEnabled());
    QCOMPARE(dlg.TimerPeriod(1), 200);

    const QString path = m_env->driveC() + "/LocalRecord.txt";
    for (int i = 0; i < kThree.size() - 1; ++i) {
        line->deliver(kThree.mid(i, 1));
        QCOMPARE(dlg.m_nRxCount, i + 1);
    }
    QCOMPARE(dlg.m_lstRecords->count(), 0);
    QCOMPARE(dlg.m_stcStatus->text(), QString("Reading Records......"));
    QVERIFY(!QFile::exists(path));
    line->deliver(kThree.right(1));
    QCOMPARE(ListLines(dlg.m_lstRecords), kThreeLines);
    QCOMPARE(dlg.m_stcStatus->text(), QString("3 record(s) in C:\\LocalRecord.txt ."));
    QVERIFY(dlg.m_btnUpdate.isEnabled());
    QVERIFY(dlg.m_btnClear.isEnabled());
    QCOMPARE(dlg.m_progress->maximum(), 24);
    QCOMPARE(dlg.m_progress->value(), 24);
    QCOMPARE(ReadFile(path), FileOf(kThreeLines, "3 record(s) :"));

    // A stray byte after the answer: counted, nothing redone. The tick finds the answer.
    QFile::remove(path);
    line->deliver(QByteArray("\x01"));
    QCOMPARE(dlg.m_nRxCount, kThree.size() + 1);
    QCOMPARE(dlg.m_lstRecords->count(), 3);
    QVERIFY(!QFile::exists(path));
    dlg.OnTimer(1);
    QVERIFY(!dlg.IsTimerRunning(1));
    QCOMPARE(MessageBeepCount(), 0);
    QCOMPARE(dlg.m_stcStatus->text(), QString("3 record(s) in C:\\LocalRecord.txt ."));

    // Update Record empties the list at once and reads again; the file is rewritten.
    dlg.m_btnUpdate.click();
    QCOMPARE(line->m_sent, QByteArray("\x87\x87"));
    QCOMPARE(dlg.m_lstRecords->count(), 0);
    QCOMPARE(dlg.m_progress->value(), 0);
    QVERIFY(!dlg.m_btnUpdate.isEnabled());
    line->deliver(kThree.left(10));
    line->deliver(kThree.mid(10));
    QCOMPARE(dlg.m_lstRecords->count(), 3);
    QCOMPARE(ReadFile(path), FileOf(kThreeLines, "3 record(s) :"));
}

void TestRecords::localEmptyAndChinese() {
    {
        CLocalRecordDlg dlg;
        dlg.Create();
        MemoryCommBackend::Last()->deliver(QByteArray::fromHex("7800"));
        QCOMPARE(dlg.m_lstRecords->count(), 0);
        QCOMPARE(dlg.m_stcStatus->text(), QString("No record ."));
        QVERIFY(dlg.m_btnUpdate.isEnabled());
        QVERIFY(!dlg.m_btnClear.isEnabled());
        QCOMPARE(dlg.m_progress->value(), 0);
        QCOMPARE(ReadFile(m_env->driveC() + "/LocalRecord.txt"), QByteArray("No record ."));
    }
    g_bChinese = 1;
    CLocalRecordDlg dlg;
    dlg.Create();
    MemoryCommBackend* line = MemoryCommBackend::Last();
    QCOMPARE(dlg.m_stcStatus->text(), QString::fromUtf8("读取记录中......"));
    line->deliver(kThree);
    QCOMPARE(ListLines(dlg.m_lstRecords), kThreeLinesZh);
    QCOMPARE(dlg.m_stcStatus->text(), QString::fromUtf8("共有3条记录，保存于  C:\\本地记录.txt  文件中。"));
    QByteArray expected = ToGbk(QString::fromUtf8("共有3条记录：")) + "\r\n\r\n";
    for (const QString& l : kThreeLinesZh)
        expected += ToGbk(l) + "\r\n";
    QCOMPARE(ReadFile(m_env->driveC() + QString::fromUtf8("/本地记录.txt")), expected);

    dlg.m_btnUpdate.click();
    line->deliver(QByteArray::fromHex("7800"));
    QCOMPARE(dlg.m_stcStatus->text(), QString::fromUtf8("没有任何记录。"));
    QCOMPARE(ReadFile(m_env->driveC() + QString::fromUtf8("/本地记录.txt")),
             QByteArray::fromHex("c3bbd3d0c8cebacebcc7c2bca1a3"));
}

void TestRecords::localLinkErrorAndLateAnswer() {
    CLocalRecordDlg dlg;
    dlg.Create();
    MemoryCommBackend* line = MemoryCommBackend::Last();
    line->deliver(kThree);
    dlg.OnTimer(1);
    dlg.m_btnUpdate.click(); // records on show, a new read that gets nothing
    dlg.OnTimer(1);
    QCOMPARE(dlg.m_stcStatus->text(),
             QString("Link error !  Please check the cable , serial port and power !"));
    QCOMPARE(dlg.m_lstRecords->count(), 0);
    QCOMPARE(dlg.m_progress->value(), 0);
    QVERIFY(!dlg.m_btnUpdate.isEnabled());
    QVERIFY(!dlg.m_btnClear.isEnabled());
    QVERIFY(!dlg.IsTimerRunning(1));
    QCOMPARE(MessageBeepCount(), 100);

    // The answer comes after all: listed, saved, buttons back.
    const QString path = m_env->driveC() + "/LocalRecord.txt";
    QFile::remove(path);
    line->deliver(kThree.left(1));
    line->deliver(kThree.mid(1));
    QCOMPARE(ListLines(dlg.m_lstRecords), kThreeLines);
    QCOMPARE(dlg.m_stcStatus->text(), QString("3 record(s) in C:\\LocalRecord.txt ."));
    QVERIFY(dlg.m_btnUpdate.isEnabled());
    QVERIFY(dlg.m_btnClear.isEnabled());
    QCOMPARE(ReadFile(path), FileOf(kThreeLines, "3 record(s) :"));
    QCOMPARE(MessageBeepCount(), 100);
}

void TestRecords::localFirstByteNotAnAnswer() {
    CLocalRecordDlg dlg;
    dlg.Create();
    MemoryCommBackend* line = MemoryCommBackend::Last();
    line->deliver(QByteArray("\x00\x00", 2));
    dlg.OnTimer(1);
    QCOMPARE(dlg.m_stcStatus->text(),
             QString("Link error !  Please check the cable , serial port and power !"));
    QCOMPARE(MessageBeepCount(), 100);

    // Any other unknown first byte is an answer to the tick, and the dialog keeps reading.
    dlg.m_btnUpdate.setEnabled(true);
    dlg.m_btnUpdate.click();
    line->deliver(WithAnswerByte(kThree, 0x55));
    dlg.OnTimer(1);
    QCOMPARE(dlg.m_stcStatus->text(), QString("Reading Records......"));
    QCOMPARE(dlg.m_lstRecords->count(), 0);
    QCOMPARE(MessageBeepCount(), 100);
}

void TestRecords::localClearDeclinedAndConfirmed() {
    CLocalRecordDlg dlg;
    dlg.Create();
    MemoryCommBackend* line = MemoryCommBackend::Last();
    line->deliver(kThree);
    dlg.OnTimer(1);
    const QString listed = dlg.m_stcStatus->text();

    QString title;
    AnswerConfirmation(IDCANCEL, &title);
    dlg.m_btnClear.click();
    QCOMPARE(title, QString("Alarm"));
    QCOMPARE(MessageBeepCount(), 100);
    QCOMPARE(line->m_sent, QByteArray("\x87"));
    QCOMPARE(dlg.m_lstRecords->count(), 3);
    QCOMPARE(dlg.m_stcStatus->text(), listed);
    QVERIFY(dlg.m_btnUpdate.isEnabled());
    QVERIFY(dlg.m_btnClear.isEnabled());
    QCOMPARE(dlg.m_progress->value(), 24);

    AnswerConfirmation(IDOK);
    dlg.m_btnClear.click();
    QCOMPARE(MessageBeepCount(), 200);
    QCOMPARE(line->m_sent, QByteArray("\x87\x88"));
    QCOMPARE(dlg.m_lstRecords->count(), 0);
    QCOMPARE(dlg.m_stcStatus->text(), QString());
    QVERIFY(!dlg.m_btnClear.isEnabled());
    QVERIFY(dlg.m_btnUpdate.isEnabled());
    QCOMPARE(dlg.m_progress->value(), 0);
    QVERIFY(!dlg.IsTimerRunning(1));

    line->deliver(QByteArray("\x77"));
    QCOMPARE(line->m_sent, QByteArray("\x87\x88\x87"));
    QCOMPARE(dlg.m_stcStatus->text(), QString("Reading Records......"));
    QCOMPARE(dlg.TimerPeriod(1), 200);
    line->deliver(QByteArray::fromHex("7800"));
    QCOMPARE(dlg.m_stcStatus->text(), QString("No record ."));
    QCOMPARE(ReadFile(m_env->driveC() + "/LocalRecord.txt"), QByteArray("No record ."));
}

// 255 records are 2042 bytes: listed and saved like any other count. Bytes past the buffer are
// counted and never stored, and such an answer is never complete.
void TestRecords::local255Records() {
    CLocalRecordDlg dlg;
    dlg.Create();
    MemoryCommBackend* line = MemoryCommBackend::Last();
    const QByteArray full = ManyRecords(0x78, 255);
    QCOMPARE(full.size(), 2042);
    line->deliver(full.left(2041));
    QCOMPARE(dlg.m_lstRecords->count(), 0);
    line->deliver(full.right(1));
    QCOMPARE(dlg.m_lstRecords->count(), 255);
    QCOMPARE(dlg.m_lstRecords->item(0)->text(), QString("255  2024-06-1  2:03:04.099  Invalid Record."));
    QCOMPARE(dlg.m_lstRecords->item(254)->text(),
             QString("1  2024-06-1  2:03:04.499  Send Command 7 Return."));
    QCOMPARE(dlg.m_stcStatus->text(), QString("255 record(s) in C:\\LocalRecord.txt ."));
    QCOMPARE(dlg.m_progress->value(), 2040);
    const QByteArray file = ReadFile(m_env->driveC() + "/LocalRecord.txt");
    QVERIFY(file.startsWith("255 record(s) :\r\n\r\n255  2024-06-1  2:03:04.099  Invalid Record.\r\n"));
    QVERIFY(file.endsWith("\r\n1  2024-06-1  2:03:04.499  Send Command 7 Return.\r\n"));
    QCOMPARE(file.count("\r\n"), 257);

    dlg.m_btnUpdate.click();
    line->deliver(full + QByteArray(100, '\x78'));
    QCOMPARE(dlg.m_nRxCount, 2142);
    QCOMPARE(dlg.m_lstRecords->count(), 0);
    QCOMPARE(dlg.m_stcStatus->text(), QString("Reading Records......"));
}

// The record file cannot be written: the records are listed all the same, nothing claims they
// were saved, and no file appears.
void TestRecords::unwritableDriveC() {
    const QString plainFile = m_env->root() + "/plain";
    QFile f(plainFile);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    const QString underFile = plainFile + "/c";
    qputenv("LMX207_DRIVE_C", underFile.toLocal8Bit());
    {
        CLocalRecordDlg dlg;
        dlg.Create();
        MemoryCommBackend::Last()->deliver(kThree);
        QCOMPARE(ListLines(dlg.m_lstRecords), kThreeLines);
        QCOMPARE(dlg.m_stcStatus->text(),
                 QString("3 record(s) read , but %1/LocalRecord.txt could not be written !").arg(underFile));
        QVERIFY(dlg.m_btnUpdate.isEnabled());
        QVERIFY(dlg.m_btnClear.isEnabled());
        QVERIFY(!dlg.m_stcStatus->toolTip().isEmpty());
        dlg.m_btnUpdate.click();
        QVERIFY(dlg.m_stcStatus->toolTip().isEmpty());
    }
    const QString missing = m_env->root() + "/no/such/folder";
    qputenv("LMX207_DRIVE_C", missing.toLocal8Bit());
    {
        CRemoteRecordDlg dlg;
        dlg.Create();
        MemoryCommBackend::Last()->deliver(QByteArray::fromHex("8700"));
        QCOMPARE(dlg.m_stcStatus->text(),
                 QString("No record . %1/RemoteRecord.txt could not be written !").arg(missing));
        QVERIFY(dlg.m_btnUpdate.isEnabled());
    }
    g_bChinese = 1;
    {
        CLocalRecordDlg dlg;
        dlg.Create();
        MemoryCommBackend::Last()->deliver(kThree);
        QCOMPARE(dlg.m_lstRecords->count(), 3);
        QCOMPARE(dlg.m_stcStatus->text(),
                 QString::fromUtf8("共有3条记录，但无法写入文件 %1/本地记录.txt ！").arg(missing));
        dlg.m_btnUpdate.click();
        MemoryCommBackend::Last()->deliver(QByteArray::fromHex("7800"));
        QCOMPARE(dlg.m_stcStatus->text(),
                 QString::fromUtf8("没有任何记录。无法写入文件 %1/本地记录.txt ！").arg(missing));
    }
    QVERIFY(!QFile::exists(m_env->root() + "/no"));
    QCOMPARE(QDir(m_env->root()).entryList(QDir::Files | QDir::NoDotAndDotDot), QStringList{"plain"});
}

// The platform refuses the device: its text in a message box, no byte sent, no timer.
void TestRecords::portRefused() {
    AfxGetApp().m_strPort = QStringLiteral("COM2");
    for (bool remote : {false, true}) {
        m_boxes.clear();
        std::unique_ptr<CDialog> dlg(remote ? static_cast<CDialog*>(new CRemoteRecordDlg)
                                            : static_cast<CDialog*>(new CLocalRecordDlg));
        MemoryCommBackend* line = MemoryCommBackend::Last();
        line->m_refuseOpen = true;
        dlg->Create();
        QCOMPARE(line->m_port, 2);
        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(m_boxes[0].text, line->m_refuseText);
        QVERIFY(line->m_sent.isEmpty());
        QVERIFY(!dlg->IsTimerRunning(1));
        QVERIFY(!dlg->GetDlgItem(3)->isEnabled());
        QVERIFY(!dlg->GetDlgItem(4)->isEnabled());
        QVERIFY(dlg->isVisible() || !dlg->result());
    }
    AfxGetApp().m_strPort = QStringLiteral("COM1");
}

void TestRecords::remoteReadAndClear() {
    CRemoteRecordDlg dlg;
    dlg.Create();
    MemoryCommBackend* line = MemoryCommBackend::Last();
    QCOMPARE(line->m_sent, QByteArray("\x78"));
    QCOMPARE(dlg.TimerPeriod(1), 200);
    QVERIFY(!dlg.m_btnUpdate.isEnabled());
    // The local unit's answer byte means nothing here.
    line->deliver(kThree);
    QCOMPARE(dlg.m_lstRecords->count(), 0);

    dlg.m_nRxCount = 0;
    const QByteArray two = WithAnswerByte(kThree.left(18), char(0x87)).replace(1, 1, "\x02");
    line->deliver(two.left(1));
    line->deliver(two.mid(1, 1));
    line->deliver(two.mid(2));
    QCOMPARE(ListLines(dlg.m_lstRecords),
             QStringList({"2  2008-12-25  13:45:07.123  Send Command 1.",
                          "1  2009-00-1  0:00:00.026  Fiber B Interrupt Return."}));
    QCOMPARE(dlg.m_stcStatus->text(), QString("2 record(s) in C:\\RemoteRecord.txt ."));
    QVERIFY(dlg.m_btnUpdate.isEnabled());
    QVERIFY(dlg.m_btnClear.isEnabled());
    QCOMPARE(ReadFile(m_env->driveC() + "/RemoteRecord.txt"),
             FileOf(ListLines(dlg.m_lstRecords), "2 record(s) :"));
    QVERIFY(!QFile::exists(m_env->driveC() + "/LocalRecord.txt"));
    dlg.OnTimer(1);
    QCOMPARE(MessageBeepCount(), 0);

    AnswerConfirmation(IDCANCEL);
    dlg.m_btnClear.click();
    QCOMPARE(line->m_sent, QByteArray("\x78"));
    QCOMPARE(dlg.m_lstRecords->count(), 2);
    AnswerConfirmation(IDOK);
    dlg.m_btnClear.click();
    QCOMPARE(MessageBeepCount(), 200);
    QCOMPARE(line->m_sent, QByteArray("\x78\x77"));
    QCOMPARE(dlg.m_lstRecords->count(), 0);
    QCOMPARE(dlg.m_stcStatus->text(), QString());
    line->deliver(QByteArray("\x88"));
    QCOMPARE(line->m_sent, QByteArray("\x78\x77\x78"));
    QCOMPARE(dlg.m_stcStatus->text(), QString("Reading Records......"));
    line->deliver(QByteArray::fromHex("8700"));
    QCOMPARE(dlg.m_stcStatus->text(), QString("No record ."));
    QCOMPARE(ReadFile(m_env->driveC() + "/RemoteRecord.txt"), QByteArray("No record ."));
}

// 87 FF: the busy report 10 ms later, in one batch or two; every later batch repeats it.
void TestRecords::remoteBusy() {
    for (int batches : {1, 2}) {
        ResetMessageBeepCount();
        CRemoteRecordDlg dlg;
        dlg.Create();
        MemoryCommBackend* line = MemoryCommBackend::Last();
        line->deliver(QByteArray::fromHex("8702") + kThree.mid(2, 16));
        dlg.OnTimer(1);
        const QByteArray saved = ReadFile(m_env->driveC() + "/RemoteRecord.txt");
        dlg.m_btnUpdate.click();
        if (batches == 1) {
            line->deliver(QByteArray::fromHex("87FF"));
        } else {
            line->deliver(QByteArray::fromHex("87"));
            QCOMPARE(dlg.TimerPeriod(1), 200);
            line->deliver(QByteArray::fromHex("FF"));
        }
        QCOMPARE(dlg.m_nAnswer, 255);
        QCOMPARE(dlg.TimerPeriod(1), 10);
        QCOMPARE(dlg.m_stcStatus->text(), QString("Reading Records......"));
        dlg.OnTimer(1);
        QCOMPARE(dlg.m_stcStatus->text(),
                 QString("Receive alarm or the system is busy, can't get the remote records !"));
        QCOMPARE(dlg.m_lstRecords->count(), 0);
        QCOMPARE(dlg.m_progress->value(), 0);
        QVERIFY(!dlg.m_btnUpdate.isEnabled());
        QVERIFY(!dlg.m_btnClear.isEnabled());
        QVERIFY(!dlg.IsTimerRunning(1));
        QCOMPARE(MessageBeepCount(), 100);
        QCOMPARE(ReadFile(m_env->driveC() + "/RemoteRecord.txt"), saved);

        line->deliver(QByteArray("\x01"));
        QCOMPARE(dlg.TimerPeriod(1), 10);
        dlg.OnTimer(1);
        QCOMPARE(MessageBeepCount(), 200);
        QCOMPARE(line->m_sent, QByteArray("\x78\x78"));
    }
}

void TestRecords::remoteLinkErrorChinese() {
    g_bChinese = 1;
    CRemoteRecordDlg dlg;
    dlg.Create();
    dlg.OnTimer(1);
    QCOMPARE(dlg.m_stcStatus->text(), QString::fromUtf8("连接失败！请检查连线、串口选择及装置电源！"));
    QCOMPARE(MessageBeepCount(), 100);
    MemoryCommBackend::Last()->deliver(QByteArray::fromHex("87FF"));
    dlg.OnTimer(1);
    QCOMPARE(dlg.m_stcStatus->text(), QString::fromUtf8("接收告警或系统忙，无法读取对侧记录！"));
    QCOMPARE(MessageBeepCount(), 200);
}

// Pictures for a person to look at: LMX207_SHOTS=<folder>.
void TestRecords::screenshots() {
    for (int chinese : {0, 1}) {
        g_bChinese = chinese;
        const QString lang = chinese ? "zh" : "en";
        {
            CLocalRecordDlg dlg;
            dlg.Create();
            MemoryCommBackend::Last()->deliver(ManyRecords(0x78, 40));
            SaveShot(&dlg, "local_record_" + lang);
            dlg.m_btnUpdate.click();
            dlg.OnTimer(1);
            SaveShot(&dlg, "local_record_linkerror_" + lang);
        }
        {
            CRemoteRecordDlg dlg;
            dlg.Create();
            MemoryCommBackend::Last()->deliver(ManyRecords(char(0x87), 3));
            SaveShot(&dlg, "remote_record_" + lang);
            dlg.m_btnUpdate.click();
            MemoryCommBackend::Last()->deliver(QByteArray::fromHex("87FF"));
            dlg.OnTimer(1);
            SaveShot(&dlg, "remote_record_busy_" + lang);
        }
        {
            CClearConfirmDlg dlg;
            dlg.Create();
            SaveShot(&dlg, "clear_confirm_" + lang);
        }
    }
}

QTEST_MAIN(TestRecords)
#include "tst_records.moc"
