// The remote configuration dialog on the in-memory line: what it does unlike the local one.
#include "config/RemoteConfigDlg.h"
#include "link/DeviceLink.h"
#include "support/DialogTestSupport.h"
#include "support/ShellHelpers.h"
#include "support/TestEnv.h"

#include <QDateTimeEdit>
#include <QLineEdit>
#include <QTest>

namespace {

const QByteArray kExample = QByteArray::fromHex("8901012C81E4551B00");

// Read answered, clock read: the dialog counts its own clock from 2008-12-26 23:59:58.
std::unique_ptr<CRemoteConfigDlg> OpenTicking() {
    auto dlg = OpenDialog<CRemoteConfigDlg>();
    Line()->deliver(kExample);
    dlg->OnTimer(3);
    Line()->deliver(QByteArray::fromHex("90081226235958"));
    Line()->m_sent.clear();
    return dlg;
}

} // namespace

class TestRemoteConfig : public QObject {
    Q_OBJECT

    TestEnv m_env;
    MessageBoxRecorder m_boxes;
    QStringList m_pauses; // each pause, and how many bytes had been sent before it

private slots:
    void initTestCase() {
        MemoryCommBackend::InstallFactory();
        SetSleepHook([this](DWORD ms) {
            m_pauses << QString("%1 ms after %2 bytes").arg(ms).arg(Line()->m_sent.size());
        });
    }
    void init() {
        m_pauses.clear();
        ResetMessageBeepCount();
    }
    void cleanup() { QVERIFY(m_boxes.calls.isEmpty()); }

    // 0x76 checked after 90 ms; then the unit's clock is read once, and from then on the dialog
    // counts it itself: over midnight without touching the date, sending nothing.
    void readsOnceThenCountsItsClock() {
        auto dlg = OpenDialog<CRemoteConfigDlg>();
        QCOMPARE(QPair(Line()->m_sent, dlg->TimerPeriod(3)), QPair(QByteArray::fromHex("76"), 90));
        Line()->deliver(kExample);
        dlg->OnTimer(3);
        QCOMPARE(QPair(Line()->m_sent, dlg->TimerPeriod(1)), QPair(QByteArray::fromHex("766F"), 1000));
        Line()->deliver(QByteArray::fromHex("90081226235958"));
        dlg->OnTimer(1);
        QCOMPARE(dlg->m_edtDate->text() + ' ' + dlg->m_edtTime->text(), QString("2008-12-26 23:59:59"));
        dlg->OnTimer(1);
        QCOMPARE(dlg->m_edtDate->text() + ' ' + dlg->m_edtTime->text(), QString("2008-12-26 0:00:00"));
        QCOMPARE(Line()->m_sent, QByteArray::fromHex("766F"));
    }

    // 0x6D and a lock of 1400 ms; the invitation brings the block, then 1050 ms pass before the
    // read-back 0x76, whose answer is shown (what the unit holds, not what was chosen).
    void writeConfigPausesBeforeReadBack() {
        auto dlg = OpenTicking();
        dlg->m_edtAddress->setText(QStringLiteral("301"));
        dlg->m_btnWriteConfig.click();
        QCOMPARE(QPair(Line()->m_sent, dlg->TimerPeriod(2)), QPair(QByteArray::fromHex("6D"), 1400));
        Line()->deliver(QByteArray::fromHex("92"));
        QCOMPARE(Line()->m_sent, QByteArray::fromHex("6D012D81E4551B0076"));
        QCOMPARE(m_pauses, QStringList("1050 ms after 8 bytes"));
        QCOMPARE(dlg->TimerPeriod(1), 1000);
        Line()->deliver(QByteArray::fromHex("89012FFF0000000000"));
        QCOMPARE(dlg->m_edtAddress->text(), QStringLiteral("12287"));
    }

    // Always all six bytes, a time of 00:00:00 too; 60 ms later the read-back 0x6F.
    void writeDateTimePausesBeforeReadBack() {
        auto dlg = OpenTicking();
        dlg->m_dtpDate->setDate(QDate(2010, 2, 3));
        dlg->OnTimer(1);
        dlg->m_btnWriteTime.click();
        Line()->deliver(QByteArray::fromHex("91"));
        QCOMPARE(Line()->m_sent, QByteArray::fromHex("6E1002030000006F"));
        QCOMPARE(m_pauses, QStringList("60 ms after 7 bytes"));
    }

    // 89 00 FF, or nine bytes with 0xFF as the address high byte: after 10 ms the remote text in
    // the language in force. Nothing by the 90 ms check: the link error.
    void readFails_data() {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("chinese");
        QTest::newRow("3 bytes") << QByteArray::fromHex("8900FF") << 0;
        QTest::newRow("3 bytes zh") << QByteArray::fromHex("8900FF") << 1;
        QTest::newRow("9 bytes") << QByteArray::fromHex("8901FF2C81E4551B00") << 0;
        QTest::newRow("silent zh") << QByteArray() << 1;
    }
    void readFails() {
        QFETCH(QByteArray, answer);
        QFETCH(int, chinese);
        auto dlg = OpenDialog<CRemoteConfigDlg>(chinese);
        Line()->deliver(answer);
        QCOMPARE(dlg->TimerPeriod(3), answer.isEmpty() ? 90 : 10);
        dlg->OnTimer(3);
        const QString text = answer.isEmpty() ? LinkErrorText() : RemoteUnreachableText();
        QCOMPARE(ConfigState(*dlg, 3), text + " | address 0,  , config off, time off, timers -1 -1 -1");
        QCOMPARE(MessageBeepCount(), 100);
    }

    // The read-back after a configuration write reports the remote unit unreachable: the unit is
    // taken as 4-command, and each tick of the still running clock brings the error branch back.
    void unreachableReadBackRepeatsError() {
        auto dlg = OpenTicking();
        dlg->m_btnWriteConfig.click();
        Line()->deliver(QByteArray::fromHex("92"));
        Line()->deliver(QByteArray::fromHex("8900FF"));
        QCOMPARE(dlg->m_b8Commands, 0);
        dlg->OnTimer(3);
        dlg->OnTimer(1);
        QCOMPARE(ConfigState(*dlg, 3),
                 RemoteUnreachableText() + " | address 0,  , config off, time off, timers 1000 1400 -1");
        QCOMPARE(QPair(MessageBeepCount(), Selections(*dlg)), QPair(200, QList<int>(24, -1)));
        QVERIFY(dlg->m_btnReset.isEnabled() && dlg->m_btnExit.isEnabled());
    }
};

QTEST_MAIN(TestRemoteConfig)
#include "tst_remoteconfig.moc"
