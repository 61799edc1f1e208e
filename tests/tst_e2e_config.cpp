// The configuration dialogs against the simulated pair on a pseudo-terminal, over the real serial
// line, paced at 9600 baud: one round trip per dialog. How they fail is the fault suite's matter.
#include "config/LocalConfigDlg.h"
#include "config/RemoteConfigDlg.h"
#include "sim/SimPtyServer.h"
#include "support/DialogTestSupport.h"
#include "support/ShellHelpers.h"
#include "support/TestEnv.h"

#include <QComboBox>
#include <QDateTimeEdit>
#include <QLineEdit>
#include <QTest>

namespace {
constexpr int kWaitMs = 8000; // generous: the remote write alone pauses 1050 ms
} // namespace

class TestE2eConfig : public QObject {
    Q_OBJECT

    TestEnv m_env;
    SimPtyServer m_server;
    MessageBoxRecorder m_boxes;

    SimUnit Unit(bool local) {
        SimUnit unit;
        m_server.withPair([&](SimPair& p) { unit = local ? p.local() : p.remote(); });
        return unit;
    }

    // The unit's settings show; a changed cell and address are written and the unit holds them;
    // the date and time set in the pickers become the unit's clock, and the dialog shows it.
    template <class Dlg> void RoundTrip(bool local, int commands) {
        m_server.withPair([&](SimPair& p) {
            SimUnit& u = local ? p.local() : p.remote();
            u.commands = commands;
            u.address = 300;
            u.setExampleSettings(); // Output Delay 0, 2, 4, 50 ms for commands 1-4, 2 ms for 5-8
        });
        Dlg dlg;
        dlg.Create();
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_edtAddress->text(), QStringLiteral("300"), kWaitMs);
        QCOMPARE(Selections(dlg).mid(0, 8), QList<int>({0, 1, 2, 3}) + QList<int>(4, commands == 8 ? 1 : -1));
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.m_edtTime->text().isEmpty(), kWaitMs); // the first check is over
        // Local: Write Config and Write Date && Time restart the receive count; with a poll's answer
        // still coming in, its bytes would hide the invitation.
        auto waitPollAnswered = [&dlg] {
            if constexpr (std::is_same_v<Dlg, CLocalConfigDlg>)
                QTRY_VERIFY_WITH_TIMEOUT(!dlg.m_bPolling && dlg.m_nRxCount == 7, kWaitMs);
        };

        Cell(dlg, 0, 2)->setCurrentIndex(3);
        dlg.m_edtAddress->setText(QStringLiteral("4321"));
        waitPollAnswered();
        dlg.m_btnWriteConfig.click();
        QTRY_COMPARE_WITH_TIMEOUT(Unit(local).address, 4321, kWaitMs);
        QCOMPARE(Unit(local).outputDelay[1], 3);

        dlg.m_dtpDate->setDate(QDate(2011, 5, 6));
        dlg.m_dtpTime->setTime(QTime(10, 20, 30));
        QTRY_VERIFY_WITH_TIMEOUT(dlg.m_btnWriteTime.isEnabled(), kWaitMs);
        waitPollAnswered();
        dlg.m_btnWriteTime.click();
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_edtDate->text(), QStringLiteral("2011-5-6"), kWaitMs);
        QCOMPARE(Unit(local).clock().date(), QDate(2011, 5, 6));
    }

private slots:
    void initTestCase() {
        CMSComm::SetBackendFactory(nullptr); // the real serial line
        m_server.setPacing(true);
        QString error;
        QVERIFY2(m_server.start(&error), qPrintable(error));
        qputenv("LMX207_COM1", m_server.slavePath().toLocal8Bit());
        AfxGetApp().m_strPort = QStringLiteral("COM1");
        g_bChinese = 0;
    }
    void cleanupTestCase() { m_server.stop(); }
    void init() { ResetMessageBeepCount(); }
    void cleanup() { QCOMPARE(QPair(m_boxes.calls.size(), MessageBeepCount()), QPair(qsizetype(0), 0)); }

    void localRoundTrip() { RoundTrip<CLocalConfigDlg>(true, 8); }
    void remoteRoundTrip() { RoundTrip<CRemoteConfigDlg>(false, 4); }
};

QTEST_MAIN(TestE2eConfig)
#include "tst_e2e_config.moc"
