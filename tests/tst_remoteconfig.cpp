#include "config/RemoteConfigDlg.h"
#include "support/DialogTestSupport.h"
#include "support/ShellHelpers.h"
#include "support/TestEnv.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

namespace {

const QByteArray kExampleAnswer = QByteArray::fromHex("8901012C81E4551B00");
const QString kUnreachable = "Receive alarm or the system is busy, can't get the remote records !";
const QString kBlank = " | address 0,  , config "; // no status, address, date or time

} // namespace

class TestRemoteConfig : public QObject {
    Q_OBJECT

    TestEnv m_env;
    MessageBoxRecorder m_boxes;
    QList<DWORD> m_sleeps;

    // The error branch's traces: text, blanks, timer 3 stopped, beeps, Reset and Exit still on.
    void VerifyErrorBranch(CRemoteConfigDlg& dlg, const QString& text, int beeps) {
        QVERIFY(ConfigState(dlg, 3).startsWith(text + kBlank + "off, time off, timers "));
        QCOMPARE(QPair(dlg.TimerPeriod(3), MessageBeepCount()), QPair(-1, beeps));
        QVERIFY(dlg.m_btnReset.isEnabled() && dlg.m_btnExit.isEnabled());
        QCOMPARE(Selections(dlg), QList<int>(24, -1));
    }

private slots:
    void initTestCase() {
        MemoryCommBackend::InstallFactory();
        SetSleepHook([this](DWORD ms) { m_sleeps << ms; });
    }
    void init() {
        m_sleeps.clear();
        ResetMessageBeepCount();
    }
    void cleanup() { QVERIFY(m_boxes.calls.isEmpty()); }

    // Read, then the unit's clock read once and counted on by the dialog; then both writes with
    // their read-backs.
    void readOwnClockAndWrites() {
        auto dlg = OpenDialog<CRemoteConfigDlg>();
        const QString reading = kBlank + "on, time off, timers -1 -1 90";
        QCOMPARE(QPair(Line()->m_sent, ConfigState(*dlg, 3)), QPair(QByteArray::fromHex("76"), reading));
        // Single bytes: three without the 0xFF mark are not decoded; nine give the whole answer.
        for (int i = 0; i < kExampleAnswer.size(); ++i) {
            Line()->deliver(kExampleAnswer.mid(i, 1));
            if (i == 2)
                QCOMPARE(ConfigState(*dlg, 3), reading);
        }
        QCOMPARE(Selections(*dlg),
                 QList<int>({0, 1, 2, 3, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 1, 3, 2, 1, 0, 0, 0, 0, 0}));
        dlg->OnTimer(3); // answered: read the clock once, then count it
        Line()->deliver(QByteArray::fromHex("90081226235958"));
        QCOMPARE(ConfigState(*dlg, 3),
                 QString("Current 8 Command Config : | address 300, 2008-12-26 23:59:58, config "
                         "on, time off, timers 1000 -1 -1"));
        QCOMPARE(QList<int>(dlg->m_clock, dlg->m_clock + 6), QList<int>({8, 12, 26, 23, 59, 58}));
        // The clock rolls over midnight without touching the date, and ticking sends nothing; the
        // Write Date && Time button follows the pickers at each tick.
        dlg->OnTimer(1);
        QCOMPARE(dlg->m_edtTime->text(), QStringLiteral("23:59:59"));
        dlg->OnTimer(1);
        QVERIFY(ConfigState(*dlg, 3).contains("2008-12-26 0:00:00, config on, time off"));
        dlg->m_dtpDate->setDate(QDate(2010, 2, 3));
        dlg->OnTimer(1);
        QVERIFY(ConfigState(*dlg, 3).contains("2008-12-26 0:00:01, config on, time on"));
        QCOMPARE(Line()->m_sent, QByteArray::fromHex("766F"));

        // Write Config: clock stops, 0x6D, lock of 1400 ms; the invitation brings the block, the
        // read-back follows 1050 ms later and shows what the unit holds, not what was chosen.
        Line()->m_sent.clear();
        dlg->m_edtAddress->setText(QStringLiteral("301"));
        Cell(*dlg, 2, 8)->setCurrentIndex(2);
        dlg->m_btnWriteConfig.click();
        QCOMPARE(QPair(Line()->m_sent, dlg->m_nAnswer), QPair(QByteArray::fromHex("6D"), 0));
        QCOMPARE(ConfigState(*dlg, 3).section(", ", -3), QString("config off, time on, timers -1 1400 -1"));
        Line()->deliver(QByteArray::fromHex("92"));
        QCOMPARE(Line()->m_sent, QByteArray::fromHex("6D012D81E4551B8076"));
        QCOMPARE(QPair(m_sleeps, dlg->TimerPeriod(1)), QPair(QList<DWORD>({1050}), 1000));
        Line()->deliver(QByteArray::fromHex("89012FFF0000000000"));
        QCOMPARE(QPair(dlg->m_edtAddress->text(), Selections(*dlg)),
                 QPair(QString("12287"), QList<int>(24, 0)));
        dlg->OnTimer(2);
        QVERIFY(dlg->m_btnWriteConfig.isEnabled());

        // Write Date && Time: the full six bytes, time 00:00:00 included, then the read-back; the
        // clock keeps ticking.
        Line()->m_sent.clear();
        m_sleeps.clear();
        dlg->OnTimer(1);
        dlg->m_btnWriteTime.click();
        QCOMPARE(QPair(Line()->m_sent, dlg->TimerPeriod(1)), QPair(QByteArray::fromHex("6E"), 1000));
        Line()->deliver(QByteArray::fromHex("91"));
        QCOMPARE(QPair(Line()->m_sent, m_sleeps),
                 QPair(QByteArray::fromHex("6E1002030000006F"), QList<DWORD>({60})));
        Line()->deliver(QByteArray::fromHex("90100203000000"));
        dlg->OnTimer(1);
        QVERIFY(ConfigState(*dlg, 3).contains("2010-2-3 0:00:01"));
        QCOMPARE(MessageBeepCount(), 0);
    }

    // 89 00 FF, or nine bytes with 0xFF as the address high byte: nothing shown, the remote text
    // of the language 10 ms later. No answer by the 90 ms check: the link error.
    void readFails_data() {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("chinese");
        QTest::addColumn<QString>("text");
        QTest::newRow("3 bytes") << QByteArray::fromHex("8900FF") << 0 << kUnreachable;
        QTest::newRow("3 bytes zh") << QByteArray::fromHex("8900FF") << 1
                                    << QString("接收告警或系统忙，无法读取对侧记录！");
        QTest::newRow("9 bytes") << QByteArray::fromHex("8901FF2C81E4551B00") << 0 << kUnreachable;
        QTest::newRow("silent") << QByteArray() << 0
                                << QString("Link error !  Please check the cable , serial port and power !");
    }
    void readFails() {
        QFETCH(QByteArray, answer);
        QFETCH(int, chinese);
        QFETCH(QString, text);
        auto dlg = OpenDialog<CRemoteConfigDlg>(chinese);
        Line()->deliver(answer);
        QCOMPARE(ConfigState(*dlg, 3),
                 kBlank + QString("on, time off, timers -1 -1 %1").arg(answer.isEmpty() ? 90 : 10));
        QCOMPARE(MessageBeepCount(), 0);
        dlg->OnTimer(3);
        VerifyErrorBranch(*dlg, text, 100);
        QCOMPARE(QPair(dlg->TimerPeriod(1), Line()->m_sent), QPair(-1, QByteArray::fromHex("76")));
    }

    // The read-back after a configuration write reports the remote unit unreachable: timer 1
    // runs, and each of its ticks brings the error branch back, with its beeps.
    void errorBranchRepeatsWhileClockRuns() {
        auto dlg = OpenDialog<CRemoteConfigDlg>();
        Line()->deliver(kExampleAnswer);
        dlg->OnTimer(3);
        Line()->deliver(QByteArray::fromHex("90081226235958"));
        dlg->m_btnWriteConfig.click();
        Line()->deliver(QByteArray::fromHex("92"));
        Line()->deliver(QByteArray::fromHex("8901FF"));
        QCOMPARE(dlg->TimerPeriod(3), 10);
        for (int beeps : {100, 200, 300}) {
            dlg->OnTimer(beeps == 100 ? 3 : 1);
            VerifyErrorBranch(*dlg, kUnreachable, beeps);
            QCOMPARE(dlg->TimerPeriod(1), 1000);
        }
    }

    // Spot checks per template: size, command 8's Output Delay cell, Exit, the time picker, and
    // button 7, captioned like button 6 in the Chinese template but with the Reset face.
    void templates() {
        // Size; cell 1040 x, y, cx; Exit; time picker 1007; face width of button 7.
        const std::tuple<int, QString, QList<int>, QString> rows[] = {
            {1, "对端配置", {358, 164, 268, 39, 30, 270, 143, 63, 14, 307, 66, 48, 11, 64}, "写入配置"},
            {0,
             "Remote Config",
             {419, 167, 325, 41, 33, 276, 147, 63, 14, 366, 68, 49, 12, 84},
             "Reset Config"}};
        for (const auto& [chinese, title, rects, reset] : rows) {
            auto dlg = OpenDialog<CRemoteConfigDlg>(chinese);
            QCOMPARE(QPair(dlg->TemplateId(), dlg->windowTitle()), QPair(chinese ? 170 : 168, title));
            QCOMPARE(dlg->size(), dlg->MapDialogRect(0, 0, rects[0], rects[1]).size());
            const QRect cell = dlg->GetDlgItem(1040)->geometry(),
                        want = dlg->MapDialogRect(rects[2], rects[3], rects[4], 59);
            QCOMPARE(QPair(cell.topLeft(), cell.width()), QPair(want.topLeft(), want.width()));
            QCOMPARE(dlg->m_btnExit.geometry(), dlg->MapDialogRect(rects[5], rects[6], rects[7], rects[8]));
            QCOMPARE(dlg->m_dtpTime->geometry(),
                     dlg->MapDialogRect(rects[9], rects[10], rects[11], rects[12]));
            QCOMPARE(QPair(dlg->m_btnReset.text(), dlg->m_btnReset.m_nWidth), QPair(reset, rects[13]));
        }
    }
};

QTEST_MAIN(TestRemoteConfig)
#include "tst_remoteconfig.moc"
