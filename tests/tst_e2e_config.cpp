// The configuration dialogs against the simulated pair on a pseudo-terminal, over the real serial
// line, paced at 9600 baud.
#include "app/KelpApp.h"
#include "config/LocalConfigDlg.h"
#include "config/RemoteConfigDlg.h"
#include "link/MSComm.h"
#include "sim/SimPtyServer.h"
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

constexpr int kWaitMs = 8000; // generous: the remote write alone pauses 1050 ms

// The example settings the simulator starts from, as the grid shows them (-1: an emptied cell).
QList<int> ExampleSelections(int commands) {
    const int x = commands == 4 ? -1 : 1, y = commands == 4 ? -1 : 0;
    return {0, 1, 2, 3, x, x, x, x, 1, 0, 0, 0, y, y, y, x, 3, 2, 1, 0, y, y, y, y};
}

// Changes a few cells (those of commands 5 to 8 only on an 8-command unit); returns the grid the
// unit must hold afterwards.
QList<int> ChangeCells(CDialog& dlg, int commands) {
    QList<int> s = ExampleSelections(commands);
    for (auto [row, command, code] :
         {std::tuple{0, 1, 3}, {1, 2, 1}, {2, 4, 2}, {0, 8, 0}, {2, 5, 3}, {1, 8, 0}}) {
        if (command > commands)
            continue;
        Cell(dlg, row, command)->setCurrentIndex(code);
        s[row * 8 + command - 1] = code;
    }
    return s;
}

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

    // Read, change cells and address, write; reopen: the new settings; set the clock. The line
    // throws away what an earlier dialog left unread when it opens, so no wait comes first.
    template <class Dlg> void RoundTrip(bool local, int commands) {
        const QString status = QStringLiteral("Current %1 Command Config :").arg(commands);
        m_server.withPair([&](SimPair& p) {
            SimUnit& u = local ? p.local() : p.remote();
            u.commands = commands;
            u.address = 300;
            u.setExampleSettings();
            u.setClock(QDateTime(QDate(2024, 6, 18), QTime(14, 0, 0)));
        });
        QList<int> expected;
        {
            Dlg dlg;
            dlg.Create();
            QTRY_COMPARE_WITH_TIMEOUT(dlg.m_stcStatus->text(), status, kWaitMs);
            QCOMPARE(dlg.m_edtAddress->text(), QStringLiteral("300"));
            QCOMPARE(Selections(dlg), ExampleSelections(commands));
            // The date and time come in: polled (local) or read once and counted (remote).
            QTRY_VERIFY_WITH_TIMEOUT(!dlg.m_edtTime->text().isEmpty(), kWaitMs);

            expected = ChangeCells(dlg, commands);
            dlg.m_edtAddress->setText(QStringLiteral("4321"));
            if constexpr (std::is_same_v<Dlg, CLocalConfigDlg>)
                QTRY_VERIFY_WITH_TIMEOUT(!dlg.m_bPolling, kWaitMs); // a click during a poll is dropped
            dlg.m_btnWriteConfig.click();
            QVERIFY(!dlg.m_btnWriteConfig.isEnabled());
            QTRY_COMPARE_WITH_TIMEOUT(Unit(local).address, 4321, kWaitMs);
            if constexpr (std::is_same_v<Dlg, CRemoteConfigDlg>) // the read-back shows the unit's settings
                QTRY_COMPARE_WITH_TIMEOUT(Selections(dlg), expected, kWaitMs);
            QTRY_VERIFY_WITH_TIMEOUT(dlg.m_btnWriteConfig.isEnabled(), kWaitMs);
            QCOMPARE(dlg.m_stcStatus->text(), status);
        }
        Dlg dlg;
        dlg.Create();
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_edtAddress->text(), QStringLiteral("4321"), kWaitMs);
        QCOMPARE(Selections(dlg), expected);
        QCOMPARE(dlg.m_stcStatus->text(), status);

        // Setting the clock: the unit's clock follows, and the dialog shows it.
        dlg.m_dtpDate->setDate(QDate(2011, 5, 6));
        dlg.m_dtpTime->setTime(QTime(10, 20, 30));
        QTRY_VERIFY_WITH_TIMEOUT(dlg.m_btnWriteTime.isEnabled(), kWaitMs);
        QCOMPARE(dlg.m_edtDate->text(), QStringLiteral("2024-6-18"));
        dlg.m_btnWriteTime.click();
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_edtDate->text(), QStringLiteral("2011-5-6"), kWaitMs);
        QVERIFY2(dlg.m_edtTime->text().startsWith(QStringLiteral("10:20:3")),
                 qPrintable(dlg.m_edtTime->text()));
        const QDateTime clock = Unit(local).clock();
        QCOMPARE(clock.date(), QDate(2011, 5, 6));
        QVERIFY(clock.time() >= QTime(10, 20, 30) && clock.time() < QTime(10, 20, 40));
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
    void init() {
        m_server.withPair([](SimPair& p) { p.setFaults(SimFaults()); });
        ResetMessageBeepCount();
    }
    void cleanup() { QVERIFY(m_boxes.calls.isEmpty()); }

    // One round trip per unit, one of them with a 4-command unit.
    void roundTrip_data() {
        QTest::addColumn<bool>("local");
        QTest::addColumn<int>("commands");
        QTest::newRow("local 8 commands") << true << 8;
        QTest::newRow("remote 4 commands") << false << 4;
    }
    void roundTrip() {
        QFETCH(bool, local);
        QFETCH(int, commands);
        local ? RoundTrip<CLocalConfigDlg>(true, commands) : RoundTrip<CRemoteConfigDlg>(false, commands);
    }

    // A silent unit: the link error with its beeps. An unreachable remote unit: its report.
    void silentAndUnreachable() {
        m_server.withPair([](SimPair& p) { p.setFaults(SimFaults{.silent = true}); });
        {
            CLocalConfigDlg dlg;
            dlg.Create();
            QTRY_COMPARE_WITH_TIMEOUT(
                dlg.m_stcStatus->text(),
                QStringLiteral("Link error !  Please check the cable , serial port and power !"), kWaitMs);
            QCOMPARE(MessageBeepCount(), 100);
            QVERIFY(!dlg.m_btnWriteConfig.isEnabled());
        }
        m_server.withPair([](SimPair& p) { p.setFaults(SimFaults{.remoteUnreachable = true}); });
        CRemoteConfigDlg dlg;
        dlg.Create();
        QTRY_COMPARE_WITH_TIMEOUT(
            dlg.m_stcStatus->text(),
            QStringLiteral("Receive alarm or the system is busy, can't get the remote records !"), kWaitMs);
        QCOMPARE(dlg.m_edtAddress->text(), QStringLiteral("0"));
        QVERIFY(!dlg.m_btnWriteTime.isEnabled());
    }
};

QTEST_MAIN(TestE2eConfig)
#include "tst_e2e_config.moc"
