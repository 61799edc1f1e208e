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
const QByteArray kClockAnswer = QByteArray::fromHex("6F081226090507");

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

// Status, address, read date and time, the Write Config and Write Date && Time buttons, and the
// periods of timers 1 and 2 (-1: stopped) in one line.
QString State(CLocalConfigDlg& d) {
    return QString("%1 | address %2, %3 %4, config %5, time %6, timers %7 %8")
        .arg(d.m_stcStatus->text(), d.m_edtAddress->text(), d.m_edtDate->text(), d.m_edtTime->text(),
             d.m_btnWriteConfig.isEnabled() ? "on" : "off", d.m_btnWriteTime.isEnabled() ? "on" : "off")
        .arg(d.TimerPeriod(1))
        .arg(d.TimerPeriod(2));
}

} // namespace

class TestLocalConfig : public QObject {
    Q_OBJECT

    TestEnv m_env;
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
        Line()->deliver(kClockAnswer);
        Line()->m_sent.clear();
        return dlg;
    }
    // Write Config and the unit's invitation: the block goes out.
    void WriteConfig(CLocalConfigDlg& dlg) {
        dlg.m_btnWriteConfig.click();
        Line()->deliver(QByteArray::fromHex("6D"));
    }

private slots:
    void initTestCase() {
        MemoryCommBackend::InstallFactory();
        SetMessageBoxHook([this](const MessageBoxCall& call) {
            m_boxes << call;
            return IDOK;
        });
    }
    void init() {
        m_boxes.clear();
        ResetMessageBeepCount();
    }

    void openPollWriteConfigPollResumes() {
        auto dlg = Open();
        QCOMPARE(Line()->m_sent, QByteArray::fromHex("89"));
        QCOMPARE(Line()->m_port, 1);
        QCOMPARE(State(*dlg), QString(" | address 0,  , config on, time off, timers 60 -1"));
        QCOMPARE(dlg->m_edtAddress->maxLength(), 5);
        QCOMPARE(dlg->m_dtpDate->dateTime(), QDateTime(QDate(2003, 1, 1), QTime(0, 0, 0)));
        QCOMPARE(dlg->m_dtpTime->time(), QTime(0, 0, 0));
        QCOMPARE(Selections(*dlg), QList<int>(24, -1));

        // The answer in two pieces is shown once the ninth byte is in.
        Line()->deliver(kExampleAnswer.left(1));
        QCOMPARE(dlg->m_stcStatus->text(), QString());
        Line()->deliver(kExampleAnswer.mid(1));
        QCOMPARE(dlg->m_nAddress, 0); // the edit shows it; the value is taken at Write Config
        QCOMPARE(Selections(*dlg), QList<int>({0, 1, 2, 3, 1, 1, 1, 1, // Output Delay
                                               1, 0, 0, 0, 0, 0, 0, 1, // Input Delay
                                               3, 2, 1, 0, 0, 0, 0, 0}));

        // First tick: the poll starts, at one second; Write Date && Time stays off while both
        // pickers hold their initial values.
        dlg->OnTimer(1);
        QCOMPARE(Line()->m_sent, QByteArray::fromHex("8990"));
        QCOMPARE(dlg->m_bPolling, 1);
        Line()->deliver(kClockAnswer);
        QCOMPARE(dlg->m_bPolling, 0);
        QCOMPARE(State(*dlg), QString("Current 8 Command Config : | address 300, 2008-12-26 9:05:07, config "
                                      "on, time off, timers 1000 -1"));

        // Write Config: the poll stops, 0x92 goes out, the button is locked for 800 ms. A used
        // cell without a selection writes code 0.
        Cell(*dlg, 0, 5)->setCurrentIndex(3);
        Cell(*dlg, 1, 8)->setCurrentIndex(-1);
        dlg->m_edtAddress->setText(QStringLiteral("65000"));
        dlg->m_btnWriteConfig.click();
        QCOMPARE(Line()->m_sent, QByteArray::fromHex("899092"));
        QVERIFY(State(*dlg).endsWith("config off, time off, timers -1 800"));
        QCOMPARE(dlg->m_nAddress, 65000);

        // The invitation brings the block; the poll resumes a second later. A stray byte after it
        // sends nothing more.
        Line()->deliver(QByteArray::fromHex("6D"));
        Line()->deliver(QByteArray::fromHex("00"));
        QCOMPARE(Line()->m_sent, QByteArray::fromHex("899092"
                                                     "FDE801E4571B00"));
        QCOMPARE(dlg->TimerPeriod(1), 1000);
        dlg->OnTimer(2);
        dlg->OnTimer(1);
        QCOMPARE(Line()->m_sent.right(1), QByteArray::fromHex("90"));
        QVERIFY(State(*dlg).endsWith("config on, time off, timers 1000 -1"));
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
        dlg->m_btnWriteConfig.click();
        QCOMPARE(Line()->m_sent, QByteArray::fromHex("8990"));
        QVERIFY(State(*dlg).endsWith("config on, time off, timers 1000 -1"));
        // A wrong-length date answer still ends the wait; then the click is taken.
        Line()->deliver(QByteArray::fromHex("6F0812"));
        QCOMPARE(dlg->m_edtDate->text(), QString());
        dlg->m_btnWriteConfig.click();
        QCOMPARE(Line()->m_sent, QByteArray::fromHex("899092"));
    }

    // The button follows the pickers at each poll tick; each unchanged group goes as 0xFF, and
    // only the first invitation brings the bytes.
    void dateTimeWriteFormsAndButtonRule() {
        auto dlg = OpenPolling();
        dlg->m_dtpTime->setTime(QTime(9, 5, 7));
        QVERIFY(!dlg->m_btnWriteTime.isEnabled());
        dlg->OnTimer(1);
        QVERIFY(dlg->m_btnWriteTime.isEnabled());
        Line()->m_sent.clear();

        const QList<std::tuple<QDate, QTime, QByteArray>> cases = {
            {QDate(2003, 1, 1), QTime(9, 5, 7), QByteArray::fromHex("91FF090507")},
            {QDate(2008, 12, 26), QTime(0, 0, 0), QByteArray::fromHex("91081226FF")},
            {QDate(2008, 12, 26), QTime(23, 59, 59), QByteArray::fromHex("91081226235959")},
            {QDate(2003, 1, 1), QTime(0, 0, 0), QByteArray::fromHex("91FFFF")},
        };
        for (const auto& [date, time, expected] : cases) {
            dlg->m_dtpDate->setDate(date);
            dlg->m_dtpTime->setTime(time);
            dlg->m_btnWriteTime.click(); // still enabled: no tick since the pickers changed
            QCOMPARE(dlg->TimerPeriod(1), 1000);
            Line()->deliver(QByteArray::fromHex("6E"));
            Line()->deliver(QByteArray::fromHex("6E"));
            QCOMPARE(Line()->m_sent, expected);
            Line()->m_sent.clear();
        }
        Line()->deliver(kClockAnswer);
        dlg->OnTimer(1);
        QVERIFY(!dlg->m_btnWriteTime.isEnabled());
    }

    // No answer by the first tick: the texts of the language, 100 beeps, Reset and Exit still on.
    // A late answer is still shown, and nothing follows it.
    void linkErrorAtFirstTick() {
        for (int chinese : {0, 1}) {
            ResetMessageBeepCount();
            auto dlg = Open(chinese);
            dlg->OnTimer(1);
            QCOMPARE(State(*dlg),
                     (chinese ? QString::fromUtf8("连接失败！请检查连线、串口选择及装置电源！")
                              : QString("Link error !  Please check the cable , serial port and power !")) +
                         " | address 0,  , config off, time off, timers -1 -1");
            QCOMPARE(MessageBeepCount(), 100);
            QVERIFY(dlg->m_btnExit.isEnabled() && dlg->m_btnReset.isEnabled());
            Line()->deliver(kExampleAnswer);
            QCOMPARE(dlg->m_edtAddress->text(), QStringLiteral("300"));
            QCOMPARE(Line()->m_sent, QByteArray::fromHex("89"));
            QVERIFY(m_boxes.isEmpty());
        }
    }

    // An unanswered poll after a write: the blanks; the write lock is left to run out.
    void linkErrorAtLaterTick() {
        auto dlg = OpenPolling();
        dlg->m_edtAddress->setText(QStringLiteral("301"));
        WriteConfig(*dlg);
        dlg->OnTimer(1); // answered (the invitation): poll
        QCOMPARE(Line()->m_sent, QByteArray::fromHex("92"
                                                     "012D81E4551B00"
                                                     "90"));
        dlg->OnTimer(1);
        QCOMPARE(State(*dlg),
                 QString("Link error !  Please check the cable , serial port and power ! | address 0,  "
                         ", config off, time off, timers -1 800"));
        QCOMPARE(MessageBeepCount(), 100);
        QCOMPARE(Selections(*dlg), QList<int>(24, -1));
        dlg->OnTimer(2);
        QVERIFY(dlg->m_btnWriteConfig.isEnabled());
    }

    // Flags 0xFE: 4 commands, cells 5 to 8 emptied; bytes 6 and 8 are not used. Reset sets the
    // used cells to code 0 and sends nothing.
    void fourCommandUnit() {
        auto dlg = OpenPolling(QByteArray::fromHex("76FE00050F1BFFE4FF"));
        QCOMPARE(dlg->m_stcStatus->text(), QStringLiteral("Current 4 Command Config :"));
        QCOMPARE(dlg->m_edtAddress->text(), QStringLiteral("5"));
        const QList<int> none(4, -1);
        QCOMPARE(Selections(*dlg),
                 QList<int>({3, 2, 1, 0}) + none + QList<int>(4, 1) + none + QList<int>({0, 1, 2, 3}) + none);
        for (int row = 0; row < 3; ++row)
            for (int k = 5; k <= 8; ++k)
                QCOMPARE(Cell(*dlg, row, k)->count(), 0);
        WriteConfig(*dlg);
        QCOMPARE(Line()->m_sent, QByteArray::fromHex("92"
                                                     "00050F1B00E400"));

        dlg->OnTimer(2);
        dlg->OnTimer(1);
        Line()->deliver(kClockAnswer);
        Line()->m_sent.clear();
        dlg->m_btnReset.click();
        const QList<int> reset = QList<int>(4, 0) + none;
        QCOMPARE(Selections(*dlg), reset + reset + reset);
        QVERIFY(Line()->m_sent.isEmpty());
        WriteConfig(*dlg);
        QCOMPARE(Line()->m_sent, QByteArray::fromHex("92"
                                                     "00050000000000"));
    }

    // An address above 65000 from the unit is shown as it is, and refused on writing, as are
    // other bad texts: the standard message, nothing sent, the poll stays stopped.
    void addressRefusals() {
        auto dlg = OpenPolling(QByteArray::fromHex("7601FFFF0000000000"));
        QCOMPARE(dlg->m_edtAddress->text(), QStringLiteral("65535"));
        const QString range = "Please enter an integer between 0 and 65000.",
                      integer = "Please enter an integer.";
        const QList<QPair<QString, QString>> cases = {
            {"65535", range}, {"65001", range}, {"12a", integer}, {"", integer}};
        for (const auto& [text, message] : cases) {
            m_boxes.clear();
            dlg->m_edtAddress->setText(text);
            dlg->m_btnWriteConfig.click();
            QCOMPARE(m_boxes.size(), 1);
            QCOMPARE(m_boxes[0].text, message);
            QVERIFY(m_boxes[0].type & MB_ICONEXCLAMATION);
            QVERIFY(Line()->m_sent.isEmpty());
            QVERIFY(State(*dlg).endsWith("config on, time off, timers -1 -1"));
        }
        // Typing takes digits only.
        dlg->m_edtAddress->clear();
        QTest::keyClicks(dlg->m_edtAddress, QStringLiteral("1x2-3"));
        QCOMPARE(dlg->m_edtAddress->text(), QStringLiteral("123"));
        dlg->m_edtAddress->setText(QStringLiteral("0"));
        WriteConfig(*dlg);
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
        QVERIFY(State(dlg).endsWith("config off, time off, timers -1 -1"));
        QVERIFY(dlg.m_btnExit.isEnabled());
    }

    void templatesAndFaces() {
        for (int chinese : {0, 1}) {
            auto dlg = Open(chinese);
            QCOMPARE(dlg->TemplateId(), chinese ? 130 : 162);
            QCOMPARE(dlg->windowTitle(), chinese ? QString::fromUtf8("本地配置") : QString("Local Config"));
            QCOMPARE(dlg->size(), dlg->MapDialogRect(0, 0, chinese ? 368 : 420, chinese ? 168 : 167).size());
            // Command 5's Output Extend cell (1034), the Write Date && Time button, the address.
            const QRect cell = dlg->GetDlgItem(1034)->geometry();
            const QRect want = chinese ? dlg->MapDialogRect(44 + 33 * 4, 94, 33, 46)
                                       : dlg->MapDialogRect(59 + 38 * 4, 95, 33, 46);
            QCOMPARE(QPair(cell.topLeft(), cell.width()), QPair(want.topLeft(), want.width()));
            QCOMPARE(dlg->m_btnWriteTime.geometry(),
                     chinese ? dlg->MapDialogRect(191, 147, 63, 14) : dlg->MapDialogRect(196, 148, 63, 14));
            QCOMPARE(dlg->m_edtAddress->geometry(),
                     chinese ? dlg->MapDialogRect(176, 120, 33, 12) : dlg->MapDialogRect(211, 122, 33, 12));
            // Faces of the language: Exit, Write Date && Time, Reset Config, Write Config.
            QCOMPARE(QList<int>({dlg->m_btnExit.m_nWidth, dlg->m_btnWriteTime.m_nWidth,
                                 dlg->m_btnReset.m_nWidth, dlg->m_btnWriteConfig.m_nWidth}),
                     chinese ? QList<int>({32, 111, 64, 64}) : QList<int>({26, 119, 84, 81}));
            // Items, with the blanks of cell 1028 in the Chinese template.
            QStringList items;
            for (int i = 0; i < Cell(*dlg, 0, 5)->count(); ++i)
                items << Cell(*dlg, 0, 5)->itemText(i);
            QCOMPARE(items, chinese ? QStringList({"0ms ", "2ms", "4ms", "50ms    "})
                                    : QStringList({"0ms", "2ms", "4ms", "50ms"}));
            QCOMPARE(Cell(*dlg, 1, 1)->count(), 2);
            QCOMPARE(Cell(*dlg, 2, 8)->itemText(3), QStringLiteral("100ms"));
            QVERIFY(dlg->findChild<QGroupBox*>()->title().contains(chinese ? QString::fromUtf8("命令8")
                                                                           : "Command8"));
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
            const QString lang = chinese ? "zh" : "en";
            {
                auto dlg = Open(chinese);
                Line()->deliver(kExampleAnswer);
                dlg->OnTimer(1);
                Line()->deliver(kClockAnswer);
                dlg->show();
                QVERIFY(dlg->grab().save(folder + "/local_" + lang + ".png"));
                dlg->OnTimer(1);
                dlg->OnTimer(1);
                QVERIFY(dlg->grab().save(folder + "/local_error_" + lang + ".png"));
            }
            CRemoteConfigDlg dlg;
            dlg.Create();
            Line()->deliver(QByteArray::fromHex("89FE01250F1B00E400"));
            dlg.OnTimer(3);
            Line()->deliver(QByteArray::fromHex("90081226090507"));
            dlg.show();
            QVERIFY(dlg.grab().save(folder + "/remote_" + lang + ".png"));
        }
    }
};

QTEST_MAIN(TestLocalConfig)
#include "tst_localconfig.moc"
