// The real line: the About box over QSerialPort and a pseudo-terminal served by the simulated pair,
// and what only a real port shows: the line settings the unit sees, and the far end going away.
// Silent, late and wrong answers and the refused ports are cases of tst_e2e_faults.

#include "link/AboutDlg.h"
#include "sim/SimPtyServer.h"
#include "support/Suite.h"

constexpr int kWaitMs = 10000;

class TstE2eLink : public QObject {
    Q_OBJECT
    TestEnv m_env;
    MessageBoxRecorder m_boxes; // a refused port shows its text here instead of blocking
    SimPtyServer m_sim;

private slots:
    void initTestCase() { CMSComm::SetBackendFactory(nullptr); } // the real serial line
    void init() {
        QVERIFY(m_sim.start());
        qputenv("LMX207_COM1", m_sim.slavePath().toLocal8Bit());
        AfxGetApp().m_strPort = QStringLiteral("COM1");
    }
    void cleanup() { m_sim.stop(); }

    // The unit's end of the line sees what the tool set, while the box holds the port: speed, stop
    // bits, odd, mark or space parity. A pseudo-terminal keeps 8 data bits and no parity enable
    // whatever it is asked, so 7 bits or even parity cannot show here.
    void lineIsSet9600_8N1() {
        CAboutDlg dlg;
        dlg.Create();
        QVERIFY(dlg.m_comm.GetPortOpen());
        QCOMPARE(m_sim.lineSettings(), QStringLiteral("9600 8N1"));
    }

    // The far end closes: the port closes itself instead of reporting errors at every turn.
    void farEndClosingClosesThePort() {
        CMSComm comm;
        comm.SetPortOpen(TRUE);
        QVERIFY2(comm.GetPortOpen(), qPrintable(comm.OpenError()));
        m_sim.stop();
        QTRY_VERIFY_WITH_TIMEOUT(!comm.GetPortOpen(), kWaitMs);
    }
};

QTEST_MAIN(TstE2eLink)
#include "tst_e2e_link.moc"
