// The record dialogs against the simulated pair on a pseudo-terminal, over the real serial line.
#include "app/KelpApp.h"
#include "link/MSComm.h"
#include "records/LocalRecordDlg.h"
#include "records/RecordFormat.h"
#include "records/RemoteRecordDlg.h"
#include "sim/SimPtyServer.h"
#include "support/DialogTestSupport.h"
#include "support/ShellHelpers.h"
#include "support/TestEnv.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QTest>

namespace {

constexpr int kWaitMs = 15000; // generous: 254 records take about 2.1 s at 9600 baud

// A record dialog of either unit, opened: it sends its read at once.
std::unique_ptr<CDialog> Open(bool local) {
    std::unique_ptr<CDialog> dlg(local ? static_cast<CDialog*>(new CLocalRecordDlg) : new CRemoteRecordDlg);
    dlg->Create();
    return dlg;
}

} // namespace

class TestE2eRecords : public QObject {
    Q_OBJECT

    TestEnv m_env;
    SimPtyServer m_server;
    MessageBoxRecorder m_boxes;

private slots:
    void initTestCase() {
        CMSComm::SetBackendFactory(nullptr); // the real serial line
        m_server.setPacing(false);
        QString error;
        QVERIFY2(m_server.start(&error), qPrintable(error));
        qputenv("LMX207_COM1", m_server.slavePath().toLocal8Bit());
        AfxGetApp().m_strPort = QStringLiteral("COM1");
    }
    void cleanupTestCase() { m_server.stop(); }
    void init() {
        g_bChinese = 0;
        ResetMessageBeepCount();
        m_server.withPair([](SimPair& p) { p.setFaults(SimFaults{}); });
    }
    void cleanup() { QVERIFY(m_boxes.calls.isEmpty()); }

    // Per unit: the list and file are the records the unit holds, decoded; a confirmed clear
    // empties the unit's log and the fresh read finds nothing.
    void readAndClear_data() {
        QTest::addColumn<bool>("local");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("chinese");
        QTest::newRow("local 254") << true << 254 << 0;
        QTest::newRow("remote 3 zh") << false << 3 << 1;
    }
    void readAndClear() {
        QFETCH(bool, local);
        QFETCH(int, count);
        QFETCH(int, chinese);
        g_bChinese = chinese;
        QByteArray held;
        m_server.withPair([&](SimPair& p) {
            SimUnit& unit = local ? p.local() : p.remote();
            unit.seedLog(count);
            held = unit.recordAnswer(local ? 0x78 : 0x87);
        });
        const QStringList lines = DecodeRecordAnswer(reinterpret_cast<const unsigned char*>(held.constData()),
                                                     held.size(), chinese);
        QCOMPARE(lines.size(), count);
        const QString file = m_env.driveC() + '/' + RecordFileName(local, chinese);

        auto dlg = Open(local);
        QTRY_VERIFY_WITH_TIMEOUT(dlg->GetDlgItem(4)->isEnabled(), kWaitMs);
        QCOMPARE(Lines(*dlg), lines);
        QCOMPARE(ReadFile(file), RecordFileContent(count, lines, chinese));
        QCOMPARE(dlg->GetDlgItemAs<QProgressBar>(1006)->value(), 8 * count);

        AnswerConfirmation(IDOK);
        dlg->GetDlgItemAs<QAbstractButton>(4)->click();
        const QString none = chinese ? "没有任何记录。" : "No record .";
        QTRY_COMPARE_WITH_TIMEOUT(dlg->GetDlgItemText(1005), none, kWaitMs);
        QCOMPARE(Lines(*dlg), QStringList());
        QCOMPARE(ReadFile(file), chinese ? ToGbk(none) : none.toLatin1());
        size_t left = 1;
        m_server.withPair([&](SimPair& p) { left = (local ? p.local() : p.remote()).log.size(); });
        QCOMPARE(left, size_t(0));
        QCOMPARE(MessageBeepCount(), 100); // the beeps before the confirmation
    }

    // A busy remote unit: its report, no list, no file. A silent unit: the link error.
    void busyAndSilent() {
        m_server.withPair([](SimPair& p) {
            p.remote().seedLog(3);
            p.setFaults(SimFaults{.remoteBusy = true});
        });
        QFile::remove(m_env.driveC() + "/RemoteRecord.txt");
        {
            auto dlg = Open(false);
            QTRY_COMPARE_WITH_TIMEOUT(
                dlg->GetDlgItemText(1005),
                QString("Receive alarm or the system is busy, can't get the remote records !"), kWaitMs);
            QCOMPARE(RecordState(*dlg),
                     dlg->GetDlgItemText(1005) + " | list 0, progress 0, update off, clear off, timer -1");
            QCOMPARE(MessageBeepCount(), 100);
            QVERIFY(!QFile::exists(m_env.driveC() + "/RemoteRecord.txt"));
        }
        m_server.withPair([](SimPair& p) { p.setFaults(SimFaults{.silent = true}); });
        auto dlg = Open(true);
        QTRY_COMPARE_WITH_TIMEOUT(dlg->GetDlgItemText(1005),
                                  QString("Link error !  Please check the cable , serial port and power !"),
                                  kWaitMs);
        QVERIFY(!dlg->GetDlgItem(3)->isEnabled());
        QCOMPARE(MessageBeepCount(), 200);
    }
};

QTEST_MAIN(TestE2eRecords)
#include "tst_e2e_records.moc"
