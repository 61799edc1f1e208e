// The record dialogs against the simulated pair on a pseudo-terminal, over the real serial line:
// one read per dialog. The faults of the line are the fault table's (tst_e2e_faults).
#include "records/LocalRecordDlg.h"
#include "records/RecordFormat.h"
#include "records/RemoteRecordDlg.h"
#include "sim/SimPtyServer.h"
#include "support/Suite.h"

class TestE2eRecords : public QObject {
    Q_OBJECT

    TestEnv m_env;
    SimPtyServer m_server;

private slots:
    void initTestCase() {
        QVERIFY(m_server.start());
        qputenv("LMX207_COM1", m_server.slavePath().toLocal8Bit());
    }

    // The unit's whole log comes over the line, and the dialog lists exactly what the unit holds:
    // the longest local log, in English; a remote one, in Chinese. (The file written from the list
    // is tst_records' and the fault table's.)
    void readTheUnitsLog_data() {
        QTest::addColumn<bool>("remote");
        QTest::newRow("local 254") << false;
        QTest::newRow("remote 3 zh") << true;
    }
    void readTheUnitsLog() {
        QFETCH(bool, remote);
        QByteArray held;
        m_server.withPair([&](SimPair& p) {
            SimUnit& unit = remote ? p.remote() : p.local();
            unit.seedLog(remote ? 3 : 254);
            held = unit.recordAnswer(remote ? 0x87 : 0x78);
        });
        const auto dlg = remote ? std::unique_ptr<CDialog>(OpenDialog<CRemoteRecordDlg>(1))
                                : std::unique_ptr<CDialog>(OpenDialog<CLocalRecordDlg>(0));
        QTRY_VERIFY_WITH_TIMEOUT(dlg->GetDlgItem(4)->isEnabled(), 15000); // 254 records: about 2.1 s
        const auto* bytes = reinterpret_cast<const unsigned char*>(held.constData());
        QCOMPARE(Lines(*dlg), DecodeRecordAnswer(bytes, int(held.size()), remote));
    }
};

QTEST_MAIN(TestE2eRecords)
#include "tst_e2e_records.moc"
