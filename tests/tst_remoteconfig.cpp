#include "app/KelpApp.h"
#include "config/RemoteConfigDlg.h"
#include "link/MSComm.h"
#include "platform/Platform.h"
#include "support/TestEnv.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include <memory>

namespace {

const QByteArray kExampleAnswer = QByteArray::fromHex("8901012C81E4551B00");
const QString kUnreachableEn =
    QStringLiteral("Receive alarm or the system is busy, can't get the remote records !");
const QString kUnreachableZh = QStringLiteral("接收告警或系统忙，无法读取对侧记录！");
const QString kLinkErrorEn = QStringLiteral("Link error !  Please check the cable , serial port and power !");

// Selected index of every cell, Output Delay, Input Delay, Output Extend rows, commands 1 to 8.
QList<int> Selections(CDialog& dlg) {
    static const int ids[3][8] = {
        {1010, 1013, 1016, 1019, 1028, 1031, 1037, 1040},
        {1011, 1014, 1017, 1020, 1029, 1032, 1038, 1041},
        {1012, 1015, 1018, 1021, 1034, 1033, 1036, 1039},
    };
    QList<int> s;
    for (const auto& row : ids)
        for (int id : row)
            s << dlg.GetDlgItemAs<QComboBox>(id)->currentIndex();
    return s;
}

// Status, address, read date and time, the Write Config and Write Date && Time buttons, and the
// periods of timers 1, 2 and 3 (-1: stopped) in one line.
QString State(CRemoteConfigDlg& d) {
    return QString("%1 | address %2, %3 %4, config %5, time %6, timers %7 %8 %9")
        .arg(d.m_stcStatus->text(), d.m_edtAddress->text(), d.m_edtDate->text(), d.m_edtTime->text(),
             d.m_btnWriteConfig.isEnabled() ? "on" : "off", d.m_btnWriteTime.isEnabled() ? "on" : "off")
        .arg(d.TimerPeriod(1))
        .arg(d.TimerPeriod(2))
        .arg(d.TimerPeriod(3));
}

} // namespace

class TestRemoteConfig : public QObject {
    Q_OBJECT

    TestEnv m_env;
    QList<DWORD> m_sleeps;
    QList<MessageBoxCall> m_boxes;

    std::unique_ptr<CRemoteConfigDlg> Open(int chinese = 0) {
        g_bChinese = chinese;
        auto dlg = std::make_unique<CRemoteConfigDlg>();
        dlg->Create();
        return dlg;
    }
    static MemoryCommBackend* Line() { return MemoryCommBackend::Last(); }
    // Read answered, clock read and loaded; timer 1 counts.
    std::unique_ptr<CRemoteConfigDlg>
    OpenTicking(const QByteArray& clock = QByteArray::fromHex("90081226235958")) {
        auto dlg = Open();
        Line()->deliver(kExampleAnswer);
        dlg->OnTimer(3);
        Line()->deliver(clock);
        Line()->m_sent.clear();
        return dlg;
    }

    // The error branch's traces: text, beeps, blanks, buttons (Reset and Exit stay on), timer 3.
    void VerifyErrorBranch(CRemoteConfigDlg& dlg, const QString& text, int beeps) {
        QVERIFY(State(dlg).startsWith(text + " | address 0,  , config off, time off, timers "));
        QCOMPARE(dlg.TimerPeriod(3), -1);
        QCOMPARE(MessageBeepCount(), beeps);
        QVERIFY(dlg.m_btnReset.isEnabled() && dlg.m_btnExit.isEnabled());
        QCOMPARE(Selections(dlg), QList<int>(24, -1));
    }

private slots:
    void initTestCase() {
        MemoryCommBackend::InstallFactory();
        SetMessageBoxHook([this](const MessageBoxCall& c) {
            m_boxes << c;
            return IDOK;
        });
        SetSleepHook([this](DWORD ms) { m_sleeps << ms; });
    }
    void init() {
        m_sleeps.clear();
        ResetMessageBeepCount();
    }

    void readThenOwnClock() {
        auto dlg = Open();
        QCOMPARE(Line()->m_sent, QByteArray::fromHex("76"));
        QCOMPARE(State(*dlg), QString(" | address 0,  , config on, time off, timers -1 -1 90"));
        // Nine single bytes give the same as one batch.
        for (char b : kExampleAnswer)
            Line()->deliver(QByteArray(1, b));
        QCOMPARE(Selections(*dlg),
                 QList<int>({0, 1, 2, 3, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 1, 3, 2, 1, 0, 0, 0, 0, 0}));

        dlg->OnTimer(3); // answered: read the clock once, then count it
        QCOMPARE(Line()->m_sent, QByteArray::fromHex("766F"));
        Line()->deliver(QByteArray::fromHex("90081226235958"));
        QCOMPARE(State(*dlg),
                 QString("Current 8 Command Config : | address 300, 2008-12-26 23:59:58, config on, time "
                         "off, timers 1000 -1 -1"));
        QCOMPARE(QList<int>(dlg->m_clock, dlg->m_clock + 6), QList<int>({8, 12, 26, 23, 59, 58}));

        // The clock rolls over midnight without touching the date, and ticking sends nothing; the
        // Write Date && Time button follows the pickers at each tick.
        dlg->OnTimer(1);
        QCOMPARE(dlg->m_edtTime->text(), QStringLiteral("23:59:59"));
        dlg->OnTimer(1);
        QVERIFY(State(*dlg).contains("2008-12-26 0:00:00, config on, time off"));
        dlg->m_dtpDate->setDate(QDate(2009, 1, 5));
        dlg->OnTimer(1);
        QVERIFY(State(*dlg).contains("2008-12-26 0:00:01, config on, time on"));
        QCOMPARE(Line()->m_sent, QByteArray::fromHex("766F"));
        QCOMPARE(MessageBeepCount(), 0);
    }

    void writesReadBack() {
        auto dlg = OpenTicking();
        // Write Config: clock stops, 0x6D, lock of 1400 ms.
        dlg->m_edtAddress->setText(QStringLiteral("301"));
        dlg->GetDlgItemAs<QComboBox>(1039)->setCurrentIndex(2); // Output Extend, command 8
        dlg->m_btnWriteConfig.click();
        QCOMPARE(Line()->m_sent, QByteArray::fromHex("6D"));
        QVERIFY(State(*dlg).endsWith("config off, time off, timers -1 1400 -1"));
        QCOMPARE(dlg->m_nAnswer, 0);

        Line()->deliver(QByteArray::fromHex("92"));
        QCOMPARE(Line()->m_sent, QByteArray::fromHex("6D"
                                                     "012D81E4551B80"
                                                     "76"));
        QCOMPARE(m_sleeps, QList<DWORD>({1050}));
        QCOMPARE(dlg->TimerPeriod(1), 1000);
        // The read-back shows what the unit holds, not what was chosen.
        Line()->deliver(QByteArray::fromHex("89012FFF00000000"
                                            "00"));
        QCOMPARE(dlg->m_edtAddress->text(), QStringLiteral("12287"));
        QCOMPARE(Selections(*dlg), QList<int>(24, 0));
        dlg->OnTimer(2);
        QVERIFY(dlg->m_btnWriteConfig.isEnabled());

        // Write Date && Time: the full six bytes, time 00:00:00 included, then the read-back.
        Line()->m_sent.clear();
        m_sleeps.clear();
        dlg->m_dtpDate->setDate(QDate(2010, 2, 3));
        dlg->OnTimer(1);
        QVERIFY(dlg->m_btnWriteTime.isEnabled());
        dlg->m_btnWriteTime.click();
        QCOMPARE(Line()->m_sent, QByteArray::fromHex("6E"));
        QCOMPARE(dlg->TimerPeriod(1), 1000); // the clock keeps ticking
        Line()->deliver(QByteArray::fromHex("91"));
        QCOMPARE(Line()->m_sent, QByteArray::fromHex("6E"
                                                     "100203000000"
                                                     "6F"));
        QCOMPARE(m_sleeps, QList<DWORD>({60}));
        Line()->deliver(QByteArray::fromHex("90100203000000"));
        dlg->OnTimer(1);
        QVERIFY(State(*dlg).contains("2010-2-3 0:00:01"));
        QCOMPARE(MessageBeepCount(), 0);
    }

    void unreachableRemote() {
        // 89 00 FF: nothing shown, the remote text 10 ms later.
        for (int chinese : {0, 1}) {
            ResetMessageBeepCount();
            auto dlg = Open(chinese);
            Line()->deliver(QByteArray::fromHex("8900FF"));
            QCOMPARE(dlg->m_nAnswer, 0xFF);
            QCOMPARE(State(*dlg), QString(" | address 0,  , config on, time off, timers -1 -1 10"));
            QCOMPARE(MessageBeepCount(), 0);
            dlg->OnTimer(3);
            VerifyErrorBranch(*dlg, chinese ? kUnreachableZh : kUnreachableEn, 100);
            QCOMPARE(Line()->m_sent, QByteArray::fromHex("76"));
        }
        // Nine bytes with 0xFF as address high byte mean the same.
        ResetMessageBeepCount();
        auto dlg = Open();
        Line()->deliver(QByteArray::fromHex("8901FF2C81E4551B00"));
        QCOMPARE(dlg->TimerPeriod(3), 10);
        dlg->OnTimer(3);
        VerifyErrorBranch(*dlg, kUnreachableEn, 100);
    }

    void threeBytesWithoutMarkAreNotDecoded() {
        auto dlg = Open();
        Line()->deliver(kExampleAnswer.left(3));
        QCOMPARE(State(*dlg), QString(" | address 0,  , config on, time off, timers -1 -1 90"));
        Line()->deliver(kExampleAnswer.mid(3));
        QCOMPARE(dlg->m_edtAddress->text(), QStringLiteral("300"));
    }

    void errorBranchRepeatsWhileClockRuns() {
        // No answer at all: the link error.
        auto silent = Open();
        silent->OnTimer(3);
        VerifyErrorBranch(*silent, kLinkErrorEn, 100);
        QCOMPARE(silent->TimerPeriod(1), -1);
        silent.reset();

        // The read-back after a configuration write reports the remote unit unreachable: timer 1
        // runs, and each of its ticks brings the error branch back, with its beeps.
        ResetMessageBeepCount();
        auto dlg = OpenTicking();
        dlg->m_btnWriteConfig.click();
        Line()->deliver(QByteArray::fromHex("92"));
        Line()->deliver(QByteArray::fromHex("8901FF"));
        QCOMPARE(dlg->TimerPeriod(3), 10);
        dlg->OnTimer(3);
        VerifyErrorBranch(*dlg, kUnreachableEn, 100);
        QCOMPARE(dlg->TimerPeriod(1), 1000);
        dlg->OnTimer(1);
        VerifyErrorBranch(*dlg, kUnreachableEn, 200);
        dlg->OnTimer(1);
        QCOMPARE(MessageBeepCount(), 300);
        QCOMPARE(dlg->TimerPeriod(1), 1000);
    }

    void templatesAndAddress() {
        for (int chinese : {0, 1}) {
            auto dlg = Open(chinese);
            QCOMPARE(dlg->TemplateId(), chinese ? 170 : 168);
            QCOMPARE(dlg->windowTitle(),
                     chinese ? QStringLiteral("对端配置") : QStringLiteral("Remote Config"));
            QCOMPARE(dlg->size(), dlg->MapDialogRect(0, 0, chinese ? 358 : 419, chinese ? 164 : 167).size());
            const QRect cell = dlg->GetDlgItem(1040)->geometry(); // Output Delay, command 8
            const QRect want = chinese ? dlg->MapDialogRect(44 + 32 * 7, 39, 30, 59)
                                       : dlg->MapDialogRect(59 + 38 * 7, 41, 33, 59);
            QCOMPARE(cell.topLeft(), want.topLeft());
            QCOMPARE(cell.width(), want.width());
            QCOMPARE(dlg->m_btnExit.geometry(),
                     chinese ? dlg->MapDialogRect(270, 143, 63, 14) : dlg->MapDialogRect(276, 147, 63, 14));
            QCOMPARE(dlg->m_dtpTime->geometry(),
                     chinese ? dlg->MapDialogRect(307, 66, 48, 11) : dlg->MapDialogRect(366, 68, 49, 12));
            // Button 7 is captioned like button 6 in the Chinese template; its face says Reset.
            QCOMPARE(dlg->m_btnReset.text(),
                     chinese ? QString::fromUtf8("写入配置") : QString("Reset Config"));
            QCOMPARE(dlg->m_btnReset.m_nWidth, chinese ? 64 : 84);
        }
        // The address check as in the local dialog: nothing sent, the clock stays stopped.
        m_boxes.clear();
        auto dlg = OpenTicking();
        dlg->m_edtAddress->setText(QStringLiteral("70000"));
        dlg->m_btnWriteConfig.click();
        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(m_boxes[0].text, QStringLiteral("Please enter an integer between 0 and 65000."));
        QVERIFY(Line()->m_sent.isEmpty());
        QVERIFY(State(*dlg).endsWith("config on, time off, timers -1 -1 -1"));
    }
};

QTEST_MAIN(TestRemoteConfig)
#include "tst_remoteconfig.moc"
