#include "app/KelpApp.h"
#include "config/LocalConfigDlg.h"
#include "config/RemoteConfigDlg.h"
#include "link/MSComm.h"
#include "platform/Platform.h"
#include "support/TestEnv.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include <memory>

namespace {

const QByteArray kExampleAnswer = QByteArray::fromHex("7601012C81E4551B00");
const QString kLinkErrorEn = QStringLiteral("Link error !  Please check the cable , serial port and power !");
const QString kLinkErrorZh = QStringLiteral("连接失败！请检查连线、串口选择及装置电源！");

// Grid ids by row (Output Delay, Input Delay, Output Extend) and command.
const int kIds[3][8] = {
    {1010, 1013, 1016, 1019, 1028, 1031, 1037, 1040},
    {1011, 1014, 1017, 1020, 1029, 1032, 1038, 1041},
    {1012, 1015, 1018, 1021, 1034, 1033, 1036, 1039},
};

QComboBox* Cell(CDialog& dlg, int row, int command) {
    return dlg.GetDlgItemAs<QComboBox>(kIds[row][command - 1]);
}

// The selected index of every cell, row by row, commands 1 to 8.
QList<int> Selections(CDialog& dlg) {
    QList<int> s;
    for (int row = 0; row < 3; ++row)
        for (int k = 1; k <= 8; ++k)
            s << Cell(dlg, row, k)->currentIndex();
    return s;
}

QList<int> ExampleSelections() {
    return {0, 1, 2, 3, 1, 1, 1, 1, // Output Delay
            1, 0, 0, 0, 0, 0, 0, 1, // Input Delay
            3, 2, 1, 0, 0, 0, 0, 0};
}

} // namespace

class TestLocalConfig : public QObject {
    Q_OBJECT

    TestEnv* m_env = nullptr;
    QList<MessageBoxCall> m_boxes;

    // A local configuration dialog on the in-memory line, created and opened.
    std::unique_ptr<CLocalConfigDlg> Open(int chinese = 0) {
        g_bChinese = chinese;
        auto dlg = std::make_unique<CLocalConfigDlg>();
        dlg->Create();
        return dlg;
    }
    static MemoryCommBackend* Line() { return MemoryCommBackend::Last(); }
    // Open, configuration answer, first tick, date-and-time answer: the dialog is polling and
    // no poll is unanswered.
    std::unique_ptr<CLocalConfigDlg> OpenPolling(const QByteArray& answer = kExampleAnswer) {
        auto dlg = Open();
        Line()->deliver(answer);
        dlg->OnTimer(1);
        Line()->deliver(QByteArray::fromHex("6F081226090507"));
        Line()->m_sent.clear();
        return dlg;
    }

private slots:
    void initTestCase() {
        m_env = new TestEnv;
        MemoryCommBackend::InstallFactory();
        SetMessageBoxHook([this](const MessageBoxCall& call) {
            m_boxes << call;
            return IDOK;
        });
    }
    void cleanupTestCase() {
        SetMessageBoxHook({});
        delete m_env;
    }
    void init() {
        m_boxes.clear();
        ResetMessageBeepCount();
    }

    void openPollWriteConfigPollResumes() {
        auto dlg = Open();
        QCOMPARE(Line()->m_sent, QByteArray::fromHex("89"));
        QCOMPARE(Line()->m_port, 1);
        QCOMPARE(dlg->TimerPeriod(1), 60);
        QVERIFY(!dlg->m_btnWriteTime.isEnabled());
        QVERIFY(dlg->m_btnWriteConfig.isEnabled());
        QCOMPARE(dlg->m_edtAddress->maxLength(), 5);
        QCOMPARE(dlg->m_dtpDate->date(), QDate(2003, 1, 1));
        QCOMPARE(dlg->m_dtpTime->time(), QTime(0, 0, 0));
        QCOMPARE(Selections(*dlg), QList<int>(24, -1));

        // The answer in two pieces is shown once the ninth byte is in.
        Line()->deliver(kExampleAnswer.left(1));
        QCOMPARE(dlg->m_stcStatus->text(), QString());
        Line()->deliver(kExampleAnswer.mid(1));
        QCOMPARE(dlg->m_stcStatus->text(), QStringLiteral("Current 8 Command Config :"));
        QCOMPARE(dlg->m_edtAddress->text(), QStringLiteral("300"));
        QCOMPARE(dlg->m_nAddress, 0); // the edit shows it; the value is taken at Write Config
        QCOMPARE(Selections(*dlg), ExampleSelections());

        // First tick: the poll starts, at one second.
        dlg->OnTimer(1);
        QCOMPARE(Line()->m_sent, QByteArray::fromHex("8990"));
        QCOMPARE(dlg->TimerPeriod(1), 1000);
        QCOMPARE(dlg->m_bPolling, 1);
        QVERIFY(!dlg->m_btnWriteTime.isEnabled()); // both pickers at their initial values
        Line()->deliver(QByteArray::fromHex("6F081226090507"));
        QCOMPARE(dlg->m_edtDate->text(), QStringLiteral("2008-12-26"));
        QCOMPARE(dlg->m_edtTime->text(), QStringLiteral("9:05:07"));
        QCOMPARE(dlg->m_bPolling, 0);

        // Write Config: the poll stops, 0x92 goes out, the button is locked for 800 ms.
        Cell(*dlg, 0, 5)->setCurrentIndex(3);
        Cell(*dlg, 1, 8)->setCurrentIndex(-1); // a used cell without a selection writes code 0
        dlg->m_edtAddress->setText(QStringLiteral("65000"));
        dlg->m_btnWriteConfig.click();
        QCOMPARE(Line()->m_sent, QByteArray::fromHex("899092"));
        QVERIFY(!dlg->IsTimerRunning(1));
        QCOMPARE(dlg->TimerPeriod(2), 800);
        QVERIFY(!dlg->m_btnWriteConfig.isEnabled());
        QCOMPARE(dlg->m_nAddress, 65000);

        // The invitation brings the block; the poll resumes a second later.
        Line()->deliver(QByteArray::fromHex("6D"));
        QCOMPARE(Line()->m_sent, QByteArray::fromHex("899092"
                                                     "FDE801E4571B00"));
        QCOMPARE(dlg->TimerPeriod(1), 1000);
        Line()->deliver(QByteArray::fromHex("00")); // a stray byte after it sends nothing more
        QCOMPARE(Line()->m_sent.size(), 10);
        dlg->OnTimer(2);
        QVERIFY(!dlg->IsTimerRunning(2));
        QVERIFY(dlg->m_btnWriteConfig.isEnabled());
        dlg->OnTimer(1);
        QCOMPARE(Line()->m_sent.right(1), QByteArray::fromHex("90"));
        QCOMPARE(dlg->m_stcStatus->text(), QStringLiteral("Current 8 Command Config :"));
        QCOMPARE(MessageBeepCount(), 0);
        QVERIFY(m_boxes.isEmpty());

        // Bytes beyond a complete answer never act on it again, and never overrun the buffer.
        Line()->deliver(QByteArray::fromHex("6F101010101010"));
        Line()->deliver(QByteArray(40, char(0x11)));
        QCOMPARE(dlg->m_edtDate->text(), QStringLiteral("2010-10-10"));
        QCOMPARE(dlg->m_nRxCount, 47);
    }

    void clickDroppedWhilePollUnanswered() {
        auto dlg = Open();
        Line()->deliver(kExampleAnswer);
        dlg->OnTimer(1);
        QCOMPARE(dlg->m_bPolling, 1);
        dlg->m_btnWriteConfig.click();
        QCOMPARE(Line()->m_sent, QByteArray::fromHex("8990"));
        QCOMPARE(dlg->TimerPeriod(1), 1000);
        QVERIFY(dlg->m_btnWriteConfig.isEnabled());
        // A wrong-length date answer still ends the wait; then the click is taken.
        Line()->deliver(QByteArray::fromHex("6F0812"));
        QCOMPARE(dlg->m_edtDate->text(), QString());
        dlg->m_btnWriteConfig.click();
        QCOMPARE(Line()->m_sent, QByteArray::fromHex("899092"));
    }

    void dateTimeWriteFormsAndButtonRule() {
        auto dlg = OpenPolling();
        // The button follows the pickers at each poll tick.
        dlg->m_dtpTime->setTime(QTime(9, 5, 7));
        QVERIFY(!dlg->m_btnWriteTime.isEnabled());
        dlg->OnTimer(1);
        QVERIFY(dlg->m_btnWriteTime.isEnabled());
        Line()->m_sent.clear();

        struct Case {
            QDate date;
            QTime time;
            QByteArray expected;
        };
        const Case cases[] = {
            {QDate(2003, 1, 1), QTime(9, 5, 7), QByteArray::fromHex("91FF090507")},
            {QDate(2008, 12, 26), QTime(0, 0, 0), QByteArray::fromHex("91081226FF")},
            {QDate(2008, 12, 26), QTime(23, 59, 59), QByteArray::fromHex("91081226235959")},
            {QDate(2003, 1, 1), QTime(0, 0, 0), QByteArray::fromHex("91FFFF")},
        };
        for (const Case& c : cases) {
            dlg->m_dtpDate->setDate(c.date);
            dlg->m_dtpTime->setTime(c.time);
            dlg->m_btnWriteTime.click();         // still enabled: no tick since the pickers changed
            QCOMPARE(dlg->TimerPeriod(1), 1000); // the poll goes on beside it
            Line()->deliver(QByteArray::fromHex("6E"));
            Line()->deliver(QByteArray::fromHex("6E")); // only the first event that brings it
            QCOMPARE(Line()->m_sent, c.expected);
            Line()->m_sent.clear();
        }
        // Back at the initial values, the next tick disables the button.
        Line()->deliver(QByteArray::fromHex("6F081226090507"));
        dlg->OnTimer(1);
        QVERIFY(!dlg->m_btnWriteTime.isEnabled());
    }

    void linkErrorAtFirstTick() {
        for (int chinese : {0, 1}) {
            ResetMessageBeepCount();
            auto dlg = Open(chinese);
            dlg->OnTimer(1);
            QCOMPARE(dlg->m_stcStatus->text(), chinese ? kLinkErrorZh : kLinkErrorEn);
            QVERIFY(!dlg->IsTimerRunning(1));
            QCOMPARE(MessageBeepCount(), 100);
            QVERIFY(!dlg->m_btnWriteTime.isEnabled());
            QVERIFY(!dlg->m_btnWriteConfig.isEnabled());
            QVERIFY(dlg->m_btnExit.isEnabled());
            QVERIFY(dlg->m_btnReset.isEnabled());
            QCOMPARE(dlg->m_edtAddress->text(), QStringLiteral("0"));
            QCOMPARE(Line()->m_sent, QByteArray::fromHex("89"));
            // A late answer is still shown; nothing else follows.
            Line()->deliver(kExampleAnswer);
            QCOMPARE(dlg->m_edtAddress->text(), QStringLiteral("300"));
            QCOMPARE(Line()->m_sent, QByteArray::fromHex("89"));
            QVERIFY(m_boxes.isEmpty());
        }
    }

    void linkErrorAtLaterTick() {
        auto dlg = OpenPolling();
        dlg->m_edtAddress->setText(QStringLiteral("301"));
        dlg->m_btnWriteConfig.click();
        Line()->deliver(QByteArray::fromHex("6D"));
        QVERIFY(dlg->IsTimerRunning(2));
        dlg->OnTimer(1); // answered (the invitation): poll
        QCOMPARE(Line()->m_sent, QByteArray::fromHex("92"
                                                     "012D81E4551B00"
                                                     "90"));
        dlg->OnTimer(1); // the poll went unanswered
        QCOMPARE(dlg->m_stcStatus->text(), kLinkErrorEn);
        QCOMPARE(MessageBeepCount(), 100);
        QCOMPARE(dlg->m_edtDate->text(), QString());
        QCOMPARE(dlg->m_edtTime->text(), QString());
        QCOMPARE(dlg->m_edtAddress->text(), QStringLiteral("0"));
        QCOMPARE(Selections(*dlg), QList<int>(24, -1));
        QVERIFY(!dlg->IsTimerRunning(1));
        QVERIFY(dlg->IsTimerRunning(2)); // the write lock is left to run out
        QVERIFY(!dlg->m_btnWriteConfig.isEnabled());
        dlg->OnTimer(2);
        QVERIFY(dlg->m_btnWriteConfig.isEnabled());
    }

    void fourCommandUnit() {
        // Flags 0xFE: 4 commands; bytes 6 and 8 are not used.
        auto dlg = OpenPolling(QByteArray::fromHex("76FE00050F1BFFE4FF"));
        QCOMPARE(dlg->m_stcStatus->text(), QStringLiteral("Current 4 Command Config :"));
        QCOMPARE(dlg->m_b8Commands, 0);
        QCOMPARE(dlg->m_edtAddress->text(), QStringLiteral("5"));
        QCOMPARE(Selections(*dlg), QList<int>({3, 2, 1, 0, -1, -1, -1, -1, //
                                               1, 1, 1, 1, -1, -1, -1, -1, //
                                               0, 1, 2, 3, -1, -1, -1, -1}));
        for (int row = 0; row < 3; ++row)
            for (int k = 5; k <= 8; ++k)
                QCOMPARE(Cell(*dlg, row, k)->count(), 0);

        dlg->m_btnWriteConfig.click();
        Line()->deliver(QByteArray::fromHex("6D"));
        QCOMPARE(Line()->m_sent, QByteArray::fromHex("92"
                                                     "00050F1B00E400"));

        // Reset, then write: all codes 0; the emptied cells stay empty.
        dlg->OnTimer(2);
        dlg->OnTimer(1);
        Line()->deliver(QByteArray::fromHex("6F081226090507"));
        Line()->m_sent.clear();
        dlg->m_btnReset.click();
        QCOMPARE(Selections(*dlg), QList<int>({0, 0, 0, 0, -1, -1, -1, -1, //
                                               0, 0, 0, 0, -1, -1, -1, -1, //
                                               0, 0, 0, 0, -1, -1, -1, -1}));
        QVERIFY(Line()->m_sent.isEmpty());
        dlg->m_btnWriteConfig.click();
        Line()->deliver(QByteArray::fromHex("6D"));
        QCOMPARE(Line()->m_sent, QByteArray::fromHex("92"
                                                     "00050000000000"));
    }

    void addressRefusals() {
        auto dlg = OpenPolling(QByteArray::fromHex("7601FFFF00000000"
                                                   "00"));
        // An address above 65000 from the unit is shown as it is, and refused on writing.
        QCOMPARE(dlg->m_edtAddress->text(), QStringLiteral("65535"));
        struct Case {
            QString text;
            QString message;
        };
        const Case cases[] = {
            {QStringLiteral("65535"), QStringLiteral("Please enter an integer between 0 and 65000.")},
            {QStringLiteral("65001"), QStringLiteral("Please enter an integer between 0 and 65000.")},
            {QStringLiteral("12a"), QStringLiteral("Please enter an integer.")},
            {QString(), QStringLiteral("Please enter an integer.")},
        };
        for (const Case& c : cases) {
            m_boxes.clear();
            dlg->m_edtAddress->setText(c.text);
            dlg->m_btnWriteConfig.click();
            QCOMPARE(m_boxes.size(), 1);
            QCOMPARE(m_boxes[0].text, c.message);
            QVERIFY(m_boxes[0].type & MB_ICONEXCLAMATION);
            QVERIFY(Line()->m_sent.isEmpty());
            QVERIFY(!dlg->IsTimerRunning(1)); // the poll stays stopped
            QVERIFY(dlg->m_btnWriteConfig.isEnabled());
        }
        // Typing takes digits only.
        dlg->m_edtAddress->clear();
        QTest::keyClicks(dlg->m_edtAddress, QStringLiteral("1x2-3"));
        QCOMPARE(dlg->m_edtAddress->text(), QStringLiteral("123"));
        dlg->m_edtAddress->setText(QStringLiteral("0"));
        dlg->m_btnWriteConfig.click();
        Line()->deliver(QByteArray::fromHex("6D"));
        QCOMPARE(Line()->m_sent, QByteArray::fromHex("92"
                                                     "00000000000000"));
    }

    void refusedPortStartsNoExchange() {
        g_bChinese = 0;
        CLocalConfigDlg dlg;
        Line()->m_refuseOpen = true;
        dlg.Create();
        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(m_boxes[0].text, Line()->m_refuseText);
        QVERIFY(Line()->m_sent.isEmpty());
        QVERIFY(!dlg.IsTimerRunning(1));
        QVERIFY(!dlg.m_btnWriteConfig.isEnabled());
        QVERIFY(!dlg.m_btnWriteTime.isEnabled());
        QCOMPARE(dlg.result(), 0); // still open
        QVERIFY(dlg.m_btnExit.isEnabled());
    }

    void templatesAndFaces() {
        for (int chinese : {0, 1}) {
            auto dlg = Open(chinese);
            QCOMPARE(dlg->TemplateId(), chinese ? 130 : 162);
            QCOMPARE(dlg->windowTitle(),
                     chinese ? QStringLiteral("本地配置") : QStringLiteral("Local Config"));
            QCOMPARE(dlg->size(), dlg->MapDialogRect(0, 0, chinese ? 368 : 420, chinese ? 168 : 167).size());
            // Command 5's Output Extend cell (1034) and the Write Date && Time button.
            const QRect cell = dlg->GetDlgItem(1034)->geometry();
            const QRect want = chinese ? dlg->MapDialogRect(44 + 33 * 4, 94, 33, 46)
                                       : dlg->MapDialogRect(59 + 38 * 4, 95, 33, 46);
            QCOMPARE(cell.topLeft(), want.topLeft());
            QCOMPARE(cell.width(), want.width());
            QCOMPARE(dlg->m_btnWriteTime.geometry(),
                     chinese ? dlg->MapDialogRect(191, 147, 63, 14) : dlg->MapDialogRect(196, 148, 63, 14));
            QCOMPARE(dlg->m_edtAddress->geometry(),
                     chinese ? dlg->MapDialogRect(176, 120, 33, 12) : dlg->MapDialogRect(211, 122, 33, 12));
            // Faces of the language: Exit 138 (32 x 17) or 156 (26 x 16), Write Date && Time 141 or 160.
            QCOMPARE(dlg->m_btnExit.m_nWidth, chinese ? 32 : 26);
            QCOMPARE(dlg->m_btnWriteTime.m_nWidth, chinese ? 111 : 119);
            QCOMPARE(dlg->m_btnReset.m_nWidth, chinese ? 64 : 84);
            QCOMPARE(dlg->m_btnWriteConfig.m_nWidth, chinese ? 64 : 81);
            // Items, with the blanks of cell 1028 in the Chinese template.
            QStringList items;
            for (int i = 0; i < Cell(*dlg, 0, 5)->count(); ++i)
                items << Cell(*dlg, 0, 5)->itemText(i);
            QCOMPARE(items, chinese ? QStringList({"0ms ", "2ms", "4ms", "50ms    "})
                                    : QStringList({"0ms", "2ms", "4ms", "50ms"}));
            QCOMPARE(Cell(*dlg, 1, 1)->count(), 2);
            QCOMPARE(Cell(*dlg, 2, 8)->itemText(3), QStringLiteral("100ms"));
            auto* group = dlg->findChild<QGroupBox*>();
            QVERIFY(group->title().contains(chinese ? QStringLiteral("命令8") : QStringLiteral("Command8")));
            // Exit ends the dialog through Cancel.
            dlg->m_btnExit.click();
            QCOMPARE(dlg->result(), int(IDCANCEL));
        }
    }

    // LMX207_SHOTS=<folder>: PNGs of both dialogs in both languages, with data on show.
    void screenshots() {
        const QString folder = qEnvironmentVariable("LMX207_SHOTS");
        if (folder.isEmpty())
            QSKIP("set LMX207_SHOTS to a folder to save the screenshots");
        QDir().mkpath(folder);
        for (int chinese : {0, 1}) {
            {
                auto dlg = Open(chinese);
                Line()->deliver(kExampleAnswer);
                dlg->OnTimer(1);
                Line()->deliver(QByteArray::fromHex("6F081226090507"));
                dlg->show();
                QVERIFY(
                    dlg->grab().save(folder + QStringLiteral("/local_%1.png").arg(chinese ? "zh" : "en")));
                dlg->OnTimer(1);
                dlg->OnTimer(1);
                QVERIFY(dlg->grab().save(folder +
                                         QStringLiteral("/local_error_%1.png").arg(chinese ? "zh" : "en")));
            }
            {
                g_bChinese = chinese;
                CRemoteConfigDlg dlg;
                dlg.Create();
                Line()->deliver(QByteArray::fromHex("89FE01250F1B00E400"));
                dlg.OnTimer(3);
                Line()->deliver(QByteArray::fromHex("90081226090507"));
                dlg.show();
                QVERIFY(
                    dlg.grab().save(folder + QStringLiteral("/remote_%1.png").arg(chinese ? "zh" : "en")));
            }
        }
    }
};

QTEST_MAIN(TestLocalConfig)
#include "tst_localconfig.moc"
