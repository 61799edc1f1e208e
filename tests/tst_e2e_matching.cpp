// Both ends of the link from end to end: lmx207-sim carries commands with a lost one, an invented
// one and the clocks 2.314 s apart; the real record and configuration dialogs read both units over
// the pseudo-terminal into the archive; `lmx207-logbook match` names the lost and the unwanted
// command and finds the simulator's offset.
#include "archive/ArchiveFormat.h"
#include "archive/HandOver.h"
#include "config/LocalConfigDlg.h"
#include "config/RemoteConfigDlg.h"
#include "records/LocalRecordDlg.h"
#include "records/RemoteRecordDlg.h"
#include "support/LogbookRun.h"
#include "support/Suite.h"

namespace {

constexpr int kWaitMs = 15000;

} // namespace

class TestE2eMatching : public QObject {
    Q_OBJECT

    TestEnv m_env;
    QProcess m_sim;

private slots:
    void initTestCase() {
        CMSComm::SetBackendFactory(nullptr);
        // 40 commands alternately each way; command 7 (command 4, local to remote) is lost; after
        // command 12 (command 6, remote to local) the local unit logs a receive nobody sent.
        m_sim.start(LMX207_SIM_BINARY,
                    {"--no-pacing", "--local-records", "0", "--remote-records", "0", "--traffic", "40",
                     "--lose-command", "7", "--invent-command", "12", "--local-clock-offset-ms", "-1000",
                     "--remote-clock-offset-ms", "1314"});
        QVERIFY(m_sim.waitForStarted(5000) && m_sim.waitForReadyRead(5000));
        const QString path = QString::fromLocal8Bit(m_sim.readLine()).trimmed();
        QVERIFY2(path.startsWith("/dev/"), qPrintable(path));
        qputenv("LMX207_COM1", path.toLocal8Bit());
        ArchiveHandOverNewVisit();
    }
    void cleanupTestCase() {
        m_sim.terminate();
        m_sim.waitForFinished(5000);
    }

    void lostCommandAndOffsetFound() {
        // One dialog at a time, as the program runs them: each owns the port while it is open.
        {
            auto local = OpenDialog<CLocalRecordDlg>(0);
            QTRY_VERIFY_WITH_TIMEOUT(local->GetDlgItem(3)->isEnabled(), kWaitMs);
            QCOMPARE(Lines(*local).size(), 82); // 20 commands sent, 20 received, one invented, with returns
        }
        {
            auto remote = OpenDialog<CRemoteRecordDlg>(0);
            QTRY_VERIFY_WITH_TIMEOUT(remote->GetDlgItem(3)->isEnabled(), kWaitMs);
            QCOMPARE(Lines(*remote).size(), 78); // 20 sent, 19 received
        }
        {
            auto local = OpenDialog<CLocalConfigDlg>(0);
            QTRY_VERIFY_WITH_TIMEOUT(!local->m_edtTime->text().isEmpty(), kWaitMs);
        }
        {
            auto remote = OpenDialog<CRemoteConfigDlg>(0);
            QTRY_VERIFY_WITH_TIMEOUT(!remote->m_edtTime->text().isEmpty(), kWaitMs);
        }
        QVERIFY(ArchiveHandOverFlush(kWaitMs));

        const CliRun json = RunCli({"match", "--visit", "1", "--format", "json"});
        QCOMPARE(json.status, 0);
        const QJsonObject o = QJsonDocument::fromJson(json.out).object();
        QCOMPARE(o["basis"].toString(), QStringLiteral("both-ways"));
        QVERIFY2(std::abs(o["offsetMs"].toDouble() - 2314) <= 1.5,
                 qPrintable(QString::number(o["offsetMs"].toDouble())));
        QVERIFY(std::abs(o["transferMs"].toDouble() - 10) <= 2);
        QCOMPARE(o["counts"][3]["lost"].toInt(), 1);
        QCOMPARE(o["counts"][5]["unwanted"].toInt(), 1);
        const QJsonObject check = o["crossCheck"].toObject();
        QVERIFY(check["available"].toBool());
        QVERIFY2(check["agrees"].toBool(), QJsonDocument(check).toJson());
    }
};

QTEST_MAIN(TestE2eMatching)
#include "tst_e2e_matching.moc"
