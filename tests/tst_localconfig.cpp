#include "config/LocalConfigDlg.h"
#include "config/RemoteConfigDlg.h"
#include "support/DialogTestSupport.h"
#include "support/ShellHelpers.h"
#include "support/TestEnv.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include <memory>

namespace {

const QByteArray kExampleAnswer = QByteArray::fromHex("7601012C81E4551B00");
const QByteArray kClockAnswer = QByteArray::fromHex("6F081226090507");
const QString kLinkError = "Link error !  Please check the cable , serial port and power !";

// Open, configuration answer, first tick, date-and-time answer: the dialog is polling and no poll
// is unanswered.
std::unique_ptr<CLocalConfigDlg> OpenPolling(const QByteArray& answer = kExampleAnswer, int chinese = 0) {
    auto dlg = OpenDialog<CLocalConfigDlg>(chinese);
    Line()->deliver(answer);
    dlg->OnTimer(1);
    Line()->deliver(kClockAnswer);
    Line()->m_sent.clear();
    return dlg;
}

} // namespace

class TestLocalConfig : public QObject {
    Q_OBJECT

    TestEnv m_env;
    MessageBoxRecorder m_boxes;

private slots:
    void initTestCase() { MemoryCommBackend::InstallFactory(); }
    void init() {
        m_boxes.calls.clear();
        ResetMessageBeepCount();
    }

    void openPollWriteConfigPollResumes() {
        auto dlg = OpenDialog<CLocalConfigDlg>();
        QCOMPARE(QPair(Line()->m_sent, Line()->m_port), QPair(QByteArray::fromHex("89"), 1));
        QCOMPARE(ConfigState(*dlg, 2), QString(" | address 0,  , config on, time off, timers 60 -1"));
        QCOMPARE(
            std::tuple(dlg->m_edtAddress->maxLength(), dlg->m_dtpDate->dateTime(), dlg->m_dtpTime->time(),
                       Selections(*dlg)),
            std::tuple(5, QDateTime(QDate(2003, 1, 1), QTime(0, 0, 0)), QTime(0, 0, 0), QList<int>(24, -1)));

        // The answer in two pieces is shown once the ninth byte is in.
        Line()->deliver(kExampleAnswer.left(1));
        QCOMPARE(dlg->m_stcStatus->text(), QString());
        Line()->deliver(kExampleAnswer.mid(1));
        QCOMPARE(dlg->m_nAddress, 0); // the edit shows it; the value is taken at Write Config
        // Output Delay, Input Delay, Output Extend.
        QCOMPARE(Selections(*dlg),
                 QList<int>({0, 1, 2, 3, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 1, 3, 2, 1, 0, 0, 0, 0, 0}));

        // First tick: the poll starts, at one second; Write Date && Time stays off while both
        // pickers hold their initial values.
        dlg->OnTimer(1);
        // While the poll is unanswered a Write Config click is dropped. Any piece of the answer
        // ends the wait; the date and time show once all seven bytes are in.
        dlg->m_btnWriteConfig.click();
        QCOMPARE(Line()->m_sent, QByteArray::fromHex("8990"));
        Line()->deliver(kClockAnswer.left(3));
        QCOMPARE(QPair(dlg->m_bPolling, dlg->m_edtDate->text()), QPair(0, QString()));
        Line()->deliver(kClockAnswer.mid(3));
        QCOMPARE(ConfigState(*dlg, 2),
                 QString("Current 8 Command Config : | address 300, 2008-12-26 9:05:07, config "
                         "on, time off, timers 1000 -1"));

        // Write Config: the poll stops, 0x92 goes out, the button is locked for 800 ms. A used
        // cell without a selection writes code 0; 65000 is the highest address taken.
        Cell(*dlg, 0, 5)->setCurrentIndex(3);
        Cell(*dlg, 1, 8)->setCurrentIndex(-1);
        dlg->m_edtAddress->setText(QStringLiteral("65000"));
        dlg->m_btnWriteConfig.click();
        QCOMPARE(Line()->m_sent, QByteArray::fromHex("899092"));
        QVERIFY(ConfigState(*dlg, 2).endsWith("config off, time off, timers -1 800") &&
                dlg->m_nAddress == 65000);

        // The invitation brings the block; the poll resumes a second later. A stray byte after it
        // sends nothing more.
        Line()->deliver(QByteArray::fromHex("6D"));
        Line()->deliver(QByteArray::fromHex("00"));
        dlg->OnTimer(1); // the invitation answered the last poll: poll again
        QCOMPARE(Line()->m_sent, QByteArray::fromHex("899092FDE801E4571B0090"));
        QVERIFY(ConfigState(*dlg, 2).endsWith("config off, time off, timers 1000 800"));
        QVERIFY(MessageBeepCount() == 0 && m_boxes.calls.isEmpty());

        // Bytes beyond a complete answer never act on it again, and never overrun the buffer.
        Line()->deliver(QByteArray::fromHex("6F101010101010"));
        Line()->deliver(QByteArray(40, char(0x11)));
        QCOMPARE(QPair(dlg->m_edtDate->text(), dlg->m_nRxCount), QPair(QString("2010-10-10"), 47));

        // A poll unanswered by the next tick: the link error and the blanks; the write lock is
        // left to run out.
        dlg->OnTimer(1);
        dlg->OnTimer(1);
        QCOMPARE(ConfigState(*dlg, 2), kLinkError + " | address 0,  , config off, time off, timers -1 800");
        QCOMPARE(QPair(MessageBeepCount(), Selections(*dlg)), QPair(100, QList<int>(24, -1)));
        dlg->OnTimer(2);
        QVERIFY(dlg->m_btnWriteConfig.isEnabled());
    }

    // The button follows the pickers at each poll tick; each unchanged group goes as 0xFF, and
    // only the first invitation brings the bytes.
    void dateTimeWriteFormsAndButtonRule() {
        auto dlg = OpenPolling();
        dlg->m_dtpTime->setTime(QTime(9, 5, 7));
        QVERIFY(!dlg->m_btnWriteTime.isEnabled());
        dlg->OnTimer(1);
        QVERIFY(dlg->m_btnWriteTime.isEnabled());

        for (auto [date, time, expected] : {std::tuple("2003-01-01", "09:05:07", "91FF090507"),
                                            {"2008-12-26", "00:00:00", "91081226FF"},
                                            {"2008-12-26", "23:59:59", "91081226235959"},
                                            {"2003-01-01", "00:00:00", "91FFFF"}}) {
            Line()->m_sent.clear();
            dlg->m_dtpDate->setDate(QDate::fromString(date, Qt::ISODate));
            dlg->m_dtpTime->setTime(QTime::fromString(time));
            dlg->m_btnWriteTime.click(); // still enabled: no tick since the pickers changed
            Line()->deliver(QByteArray::fromHex("6E"));
            Line()->deliver(QByteArray::fromHex("6E"));
            QCOMPARE(QPair(Line()->m_sent, dlg->TimerPeriod(1)), QPair(QByteArray::fromHex(expected), 1000));
        }
        Line()->deliver(kClockAnswer);
        dlg->OnTimer(1);
        QVERIFY(!dlg->m_btnWriteTime.isEnabled());
    }

    // Flags 0xFE: 4 commands, cells 5 to 8 emptied; bytes 6 and 8 are not used. Reset sets the
    // used cells to code 0 and sends nothing. The address edit takes digits only; 0 is taken.
    void fourCommandUnit() {
        auto dlg = OpenPolling(QByteArray::fromHex("76FE00050F1BFFE4FF"));
        QCOMPARE(QPair(dlg->m_stcStatus->text(), dlg->m_edtAddress->text()),
                 QPair(QString("Current 4 Command Config :"), QString("5")));
        const QList<int> none(4, -1);
        QCOMPARE(Selections(*dlg),
                 QList<int>({3, 2, 1, 0}) + none + QList<int>(4, 1) + none + QList<int>({0, 1, 2, 3}) + none);
        for (int row = 0; row < 3; ++row)
            for (int k = 5; k <= 8; ++k)
                QCOMPARE(Cell(*dlg, row, k)->count(), 0);
        dlg->m_btnWriteConfig.click(); // the invitation brings the block
        Line()->deliver(QByteArray::fromHex("6D"));
        QCOMPARE(Line()->m_sent, QByteArray::fromHex("9200050F1B00E400"));

        dlg->OnTimer(2);
        dlg->OnTimer(1);
        Line()->deliver(kClockAnswer);
        Line()->m_sent.clear();
        dlg->m_btnReset.click();
        const QList<int> reset = QList<int>(4, 0) + none;
        QCOMPARE(QPair(Selections(*dlg), Line()->m_sent), QPair(reset + reset + reset, QByteArray()));
        dlg->m_edtAddress->clear();
        QTest::keyClicks(dlg->m_edtAddress, QStringLiteral("x0-"));
        QCOMPARE(dlg->m_edtAddress->text(), QStringLiteral("0"));
        dlg->m_btnWriteConfig.click(); // the invitation brings the block
        Line()->deliver(QByteArray::fromHex("6D"));
        QCOMPARE(Line()->m_sent, QByteArray::fromHex("9200000000000000"));
    }

    // Both dialogs refuse a bad address on writing: the standard message, nothing sent, the poll
    // (local) or the clock (remote) stays stopped. An address above 65000 from the unit is shown
    // as it is, and refused.
    void addressRefused() {
        const QString range = "Please enter an integer between 0 and 65000.",
                      integer = "Please enter an integer.";
        // The unit's own 65535 first.
        const std::tuple<bool, const char*, QString> rows[] = {{false, "65535", range},
                                                               {false, "65001", range},
                                                               {false, "12a", integer},
                                                               {false, "", integer},
                                                               {true, "70000", range}};
        for (const auto& [remote, text, message] : rows) {
            m_boxes.calls.clear();
            std::unique_ptr<CDialog> dlg;
            if (remote) {
                dlg = OpenDialog<CRemoteConfigDlg>();
                Line()->deliver(QByteArray::fromHex("8901012C81E4551B00"));
                dlg->OnTimer(3);
                Line()->deliver(QByteArray::fromHex("90081226235958"));
                Line()->m_sent.clear();
            } else {
                dlg = OpenPolling(QByteArray::fromHex("7601FFFF0000000000"));
            }
            QCOMPARE(dlg->GetDlgItemText(1077), remote ? QString("300") : QString("65535"));
            dlg->SetDlgItemText(1077, text);
            dlg->GetDlgItemAs<QAbstractButton>(6)->click();
            QCOMPARE(QPair(m_boxes.calls.size(), m_boxes.calls.value(0).text), QPair(qsizetype(1), message));
            QVERIFY((m_boxes.calls[0].type & MB_ICONEXCLAMATION) && Line()->m_sent.isEmpty());
            QVERIFY(ConfigState(*dlg, 3).endsWith("config on, time off, timers -1 -1 -1"));
        }
    }

    // Per template: size, command 5's Output Extend cell (1034, out of id order), the Write Date
    // && Time button, the faces, the items with the blanks of cell 1028 in the Chinese template,
    // the column header. No answer by the first tick: the texts of the language, 100 beeps, Reset
    // and Exit still on; a late answer is still shown, and nothing follows it.
    void templatesAndOpeningFails() {
        // Size; cell 1034 x, y, cx; button 5; face widths of Exit, Write Date && Time, Reset, Write Config.
        const std::tuple<int, QList<int>, QString> rows[] = {
            {1, {368, 168, 176, 94, 33, 191, 147, 63, 14, 32, 111, 64, 64}, "0ms |2ms|4ms|50ms    "},
            {0, {420, 167, 211, 95, 33, 196, 148, 63, 14, 26, 119, 84, 81}, "0ms|2ms|4ms|50ms"}};
        for (const auto& [chinese, spots, items] : rows) {
            ResetMessageBeepCount();
            auto dlg = OpenDialog<CLocalConfigDlg>(chinese);
            QCOMPARE(QPair(dlg->TemplateId(), dlg->windowTitle()),
                     QPair(chinese ? 130 : 162, QString(chinese ? "本地配置" : "Local Config")));
            QCOMPARE(dlg->size(), dlg->MapDialogRect(0, 0, spots[0], spots[1]).size());
            const QRect cell = dlg->GetDlgItem(1034)->geometry(),
                        want = dlg->MapDialogRect(spots[2], spots[3], spots[4], 46);
            QCOMPARE(QPair(cell.topLeft(), cell.width()), QPair(want.topLeft(), want.width()));
            QCOMPARE(dlg->m_btnWriteTime.geometry(),
                     dlg->MapDialogRect(spots[5], spots[6], spots[7], spots[8]));
            QCOMPARE(QList<int>({dlg->m_btnExit.m_nWidth, dlg->m_btnWriteTime.m_nWidth,
                                 dlg->m_btnReset.m_nWidth, dlg->m_btnWriteConfig.m_nWidth}),
                     spots.mid(9));
            QStringList got;
            for (int i = 0; i < Cell(*dlg, 0, 5)->count(); ++i)
                got << Cell(*dlg, 0, 5)->itemText(i);
            QCOMPARE(got.join('|'), items);
            QCOMPARE(QPair(Cell(*dlg, 1, 1)->count(), Cell(*dlg, 2, 8)->itemText(3)),
                     QPair(2, QString("100ms")));
            QVERIFY(dlg->findChild<QGroupBox*>()->title().contains(chinese ? QString("命令8") : "Command8"));

            dlg->OnTimer(1);
            QCOMPARE(ConfigState(*dlg, 2),
                     (chinese ? QString("连接失败！请检查连线、串口选择及装置电源！") : kLinkError) +
                         " | address 0,  , config off, time off, timers -1 -1");
            QVERIFY(MessageBeepCount() == 100 && dlg->m_btnReset.isEnabled());
            Line()->deliver(kExampleAnswer);
            QCOMPARE(QPair(dlg->m_edtAddress->text(), Line()->m_sent),
                     QPair(QString("300"), QByteArray::fromHex("89")));
            dlg->m_btnExit.click();
            QCOMPARE(dlg->result(), int(IDCANCEL));
        }
        QVERIFY(m_boxes.calls.isEmpty());
        // The platform refuses the device: its text in a message box, nothing sent or started.
        CLocalConfigDlg dlg;
        Line()->m_refuseOpen = true;
        dlg.Create();
        QCOMPARE(QPair(m_boxes.calls.size(), m_boxes.calls.value(0).text),
                 QPair(qsizetype(1), Line()->m_refuseText));
        QVERIFY(Line()->m_sent.isEmpty() && dlg.m_btnExit.isEnabled() &&
                ConfigState(dlg, 2).endsWith("config off, time off, timers -1 -1"));
    }

    // LMX207_SHOTS=<folder>: PNGs of both dialogs in both languages, with data on show.
    void screenshots() {
        if (qEnvironmentVariableIsEmpty("LMX207_SHOTS"))
            QSKIP("set LMX207_SHOTS to a folder to save the screenshots");
        for (int chinese : {0, 1}) {
            const QString lang = chinese ? "zh" : "en";
            auto local = OpenPolling(kExampleAnswer, chinese);
            local->show();
            SaveShot(local.get(), "local_" + lang);
            local->OnTimer(1);
            local->OnTimer(1);
            SaveShot(local.get(), "local_error_" + lang);
            auto remote = OpenDialog<CRemoteConfigDlg>(chinese);
            Line()->deliver(QByteArray::fromHex("89FE01250F1B00E400"));
            remote->OnTimer(3);
            Line()->deliver(QByteArray::fromHex("90081226090507"));
            remote->show();
            SaveShot(remote.get(), "remote_" + lang);
        }
    }
};

QTEST_MAIN(TestLocalConfig)
#include "tst_localconfig.moc"
