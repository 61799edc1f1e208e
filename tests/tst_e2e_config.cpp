// The configuration dialogs against the simulated pair on a pseudo-terminal, over the real serial
// line, paced at 9600 baud: one round trip per dialog. How they fail is the fault suite's matter.
#include "config/LocalConfigDlg.h"
#include "config/RemoteConfigDlg.h"
#include "sim/SimPtyServer.h"
#include "support/Suite.h"

class TestE2eConfig : public QObject {
    Q_OBJECT

    static constexpr int kWaitMs = 8000; // generous: the remote write alone pauses 1050 ms
    TestEnv m_env;
    SimPtyServer m_server;
    MessageBoxRecorder m_boxes;

    SimUnit Unit(bool local) {
        SimUnit unit;
        m_server.withPair([&](SimPair& p) { unit = local ? p.local() : p.remote(); });
        return unit;
    }

    // The unit's settings and clock show; a changed cell and address are written, and the unit
    // holds them.
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
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.m_edtTime->text().isEmpty(), kWaitMs); // the first check is over
        dlg.m_cells.outputDelay[1]->setCurrentIndex(3);                      // command 2
        dlg.m_edtAddress->setText(QStringLiteral("4321"));
        // Local: Write Config restarts the receive count; with a poll's answer still coming in,
        // its bytes would hide the invitation.
        if constexpr (std::is_same_v<Dlg, CLocalConfigDlg>)
            QTRY_VERIFY_WITH_TIMEOUT(!dlg.m_bPolling && dlg.m_nRxCount == 7, kWaitMs);
        dlg.m_btnWriteConfig.click();
        QTRY_COMPARE_WITH_TIMEOUT(Unit(local).address, 4321, kWaitMs);
        QCOMPARE(Unit(local).outputDelay[1], 3);
    }

private slots:
    void initTestCase() {
        CMSComm::SetBackendFactory(nullptr); // the real serial line, paced at 9600 baud by the server
        QString error;
        QVERIFY2(m_server.start(&error), qPrintable(error));
        qputenv("LMX207_COM1", m_server.slavePath().toLocal8Bit());
    }
    void init() { ResetMessageBeepCount(); }
    void cleanup() { QCOMPARE(QPair(m_boxes.calls.size(), MessageBeepCount()), QPair(qsizetype(0), 0)); }

    void localRoundTrip() { RoundTrip<CLocalConfigDlg>(true, 8); }
    void remoteRoundTrip() { RoundTrip<CRemoteConfigDlg>(false, 4); }
};

QTEST_MAIN(TestE2eConfig)
#include "tst_e2e_config.moc"
