// The record dialogs against the simulated pair on a pseudo-terminal, over the real serial line.
#include "app/KelpApp.h"
#include "link/MSComm.h"
#include "platform/Platform.h"
#include "records/ClearConfirmDlg.h"
#include "records/LocalRecordDlg.h"
#include "records/RecordFormat.h"
#include "records/RemoteRecordDlg.h"
#include "sim/SimPtyServer.h"
#include "support/TestEnv.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QTest>
#include <QTimer>

namespace {

constexpr int kWaitMs = 15000; // generous: 254 records take about 2.1 s at 9600 baud

QStringList ListLines(QListWidget* list) {
    QStringList lines;
    for (int i = 0; i < list->count(); ++i)
        lines << list->item(i)->text();
    return lines;
}

QByteArray ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void AnswerConfirmation(int button) {
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, button] {
        auto* dlg = qobject_cast<CClearConfirmDlg*>(QApplication::activeModalWidget());
        if (!dlg)
            return;
        timer->stop();
        timer->deleteLater();
        (button == IDOK ? dlg->m_btnYes : dlg->m_btnNo).click();
    });
    timer->start();
}

} // namespace

class TestE2eRecords : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void readCounts_data();
    void readCounts();
    void clearBoth();
    void busyAndSilent();

private:
    // The answer the simulator holds for the unit, the lines and file the dialog must show.
    QByteArray HeldAnswer(bool local);
    template <class Dlg> void CheckListed(Dlg& dlg, bool local);

    TestEnv* m_env = nullptr;
    SimPtyServer m_server;
};

void TestE2eRecords::initTestCase() {
    m_env = new TestEnv;
    CMSComm::SetBackendFactory(nullptr); // the real serial line
    m_server.setPacing(false);
    QString error;
    QVERIFY2(m_server.start(&error), qPrintable(error));
    qputenv("LMX207_COM1", m_server.slavePath().toLocal8Bit());
    AfxGetApp().m_strPort = QStringLiteral("COM1");
    SetMessageBoxHook([](const MessageBoxCall& c) {
        qWarning("unexpected message box: %s", qPrintable(c.text));
        return IDOK;
    });
}

void TestE2eRecords::cleanupTestCase() {
    m_server.stop();
    SetMessageBoxHook(nullptr);
}

void TestE2eRecords::init() {
    g_bChinese = 0;
    ResetMessageBeepCount();
    m_server.withPair([](SimPair& p) { p.setFaults(SimFaults{}); });
}

QByteArray TestE2eRecords::HeldAnswer(bool local) {
    QByteArray answer;
    m_server.withPair([&](SimPair& p) {
        answer = local ? p.local().recordAnswer(0x78) : p.remote().recordAnswer(0x87, 254);
    });
    return answer;
}

template <class Dlg> void TestE2eRecords::CheckListed(Dlg& dlg, bool local) {
    const QByteArray held = HeldAnswer(local);
    const int n = quint8(held[1]);
    const auto* bytes = reinterpret_cast<const unsigned char*>(held.constData());
    const QStringList lines = DecodeRecordAnswer(bytes, held.size(), g_bChinese != 0);
    QCOMPARE(lines.size(), n);
    QCOMPARE(ListLines(dlg.m_lstRecords), lines);
    QCOMPARE(ReadFile(m_env->driveC() + '/' + RecordFileName(local, g_bChinese != 0)),
             RecordFileContent(n, lines, g_bChinese != 0));
    QVERIFY(dlg.m_btnUpdate.isEnabled());
    QCOMPARE(dlg.m_btnClear.isEnabled(), n != 0);
    QCOMPARE(dlg.m_progress->value(), n ? 8 * n : 0);
    QCOMPARE(MessageBeepCount(), 0);
}

void TestE2eRecords::readCounts_data() {
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("chinese");
    QTest::newRow("0") << 0 << 0;
    QTest::newRow("3") << 3 << 1;
    QTest::newRow("254") << 254 << 0;
}

void TestE2eRecords::readCounts() {
    QFETCH(int, count);
    QFETCH(int, chinese);
    g_bChinese = chinese;
    m_server.withPair([count](SimPair& p) {
        p.local().seedLog(count);
        p.remote().seedLog(count);
    });
    const QString done = count == 0 ? NoRecordText(chinese) : QString();
    {
        CLocalRecordDlg dlg;
        dlg.Create();
        QTRY_VERIFY_WITH_TIMEOUT(dlg.m_btnUpdate.isEnabled(), kWaitMs);
        CheckListed(dlg, true);
        if (count == 0)
            QCOMPARE(dlg.m_stcStatus->text(), done);
    }
    {
        CRemoteRecordDlg dlg;
        dlg.Create();
        QTRY_VERIFY_WITH_TIMEOUT(dlg.m_btnUpdate.isEnabled(), kWaitMs);
        CheckListed(dlg, false);
        // Update Record reads again over the same line.
        QFile::remove(m_env->driveC() + '/' + RecordFileName(false, chinese));
        dlg.m_btnUpdate.click();
        QVERIFY(!dlg.m_btnUpdate.isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(dlg.m_btnUpdate.isEnabled(), kWaitMs);
        CheckListed(dlg, false);
    }
}

void TestE2eRecords::clearBoth() {
    m_server.withPair([](SimPair& p) {
        p.local().seedLog(5);
        p.remote().seedLog(7);
    });
    {
        CLocalRecordDlg dlg;
        dlg.Create();
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_lstRecords->count(), 5, kWaitMs);
        AnswerConfirmation(IDOK);
        dlg.m_btnClear.click();
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_stcStatus->text(), QString("No record ."), kWaitMs);
        QCOMPARE(dlg.m_lstRecords->count(), 0);
        QCOMPARE(ReadFile(m_env->driveC() + "/LocalRecord.txt"), QByteArray("No record ."));
    }
    {
        CRemoteRecordDlg dlg;
        dlg.Create();
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_lstRecords->count(), 7, kWaitMs);
        AnswerConfirmation(IDOK);
        dlg.m_btnClear.click();
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_stcStatus->text(), QString("No record ."), kWaitMs);
        QCOMPARE(ReadFile(m_env->driveC() + "/RemoteRecord.txt"), QByteArray("No record ."));
    }
    size_t local = 1, remote = 1;
    m_server.withPair([&](SimPair& p) {
        local = p.local().log.size();
        remote = p.remote().log.size();
    });
    QCOMPARE(local, size_t(0));
    QCOMPARE(remote, size_t(0));
    QCOMPARE(MessageBeepCount(), 200); // the beeps before each confirmation
}

void TestE2eRecords::busyAndSilent() {
    m_server.withPair([](SimPair& p) {
        p.remote().seedLog(3);
        SimFaults f;
        f.remoteBusy = true;
        p.setFaults(f);
    });
    const QString busy = "Receive alarm or the system is busy, can't get the remote records !";
    const QString linkError = "Link error !  Please check the cable , serial port and power !";
    QFile::remove(m_env->driveC() + "/RemoteRecord.txt");
    {
        CRemoteRecordDlg dlg;
        dlg.Create();
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_stcStatus->text(), busy, kWaitMs);
        QCOMPARE(dlg.m_lstRecords->count(), 0);
        QVERIFY(!dlg.m_btnUpdate.isEnabled());
        QVERIFY(!dlg.m_btnClear.isEnabled());
        QCOMPARE(MessageBeepCount(), 100);
        QVERIFY(!QFile::exists(m_env->driveC() + "/RemoteRecord.txt"));
    }
    m_server.withPair([](SimPair& p) {
        SimFaults f;
        f.silent = true;
        p.setFaults(f);
    });
    {
        CLocalRecordDlg dlg;
        dlg.Create();
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_stcStatus->text(), linkError, kWaitMs);
        QVERIFY(!dlg.m_btnUpdate.isEnabled());
        QCOMPARE(MessageBeepCount(), 200);
    }
    {
        CRemoteRecordDlg dlg;
        dlg.Create();
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_stcStatus->text(), linkError, kWaitMs);
        QCOMPARE(MessageBeepCount(), 300);
    }
}

QTEST_MAIN(TestE2eRecords)
#include "tst_e2e_records.moc"
