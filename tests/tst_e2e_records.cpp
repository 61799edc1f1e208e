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
const QString kBusy = "Receive alarm or the system is busy, can't get the remote records !";
const QString kLinkError = "Link error !  Please check the cable , serial port and power !";

QByteArray ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// A record dialog of either unit, opened: it sends its read at once.
std::unique_ptr<CDialog> Open(bool local) {
    std::unique_ptr<CDialog> dlg(local ? static_cast<CDialog*>(new CLocalRecordDlg) : new CRemoteRecordDlg);
    dlg->Create();
    return dlg;
}
QListWidget* List(CDialog& d) {
    return d.GetDlgItemAs<QListWidget>(1003);
}
QString Status(CDialog& d) {
    return d.GetDlgItemAs<QLabel>(1005)->text();
}

QStringList Lines(CDialog& d) {
    QStringList lines;
    for (int i = 0; i < List(d)->count(); ++i)
        lines << List(d)->item(i)->text();
    return lines;
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
    void cleanupTestCase() { m_server.stop(); }
    void init();
    void readCounts_data();
    void readCounts();
    void clearBoth();
    void busyAndSilent();

private:
    TestEnv m_env;
    SimPtyServer m_server;
};

void TestE2eRecords::initTestCase() {
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

void TestE2eRecords::init() {
    g_bChinese = 0;
    ResetMessageBeepCount();
    m_server.withPair([](SimPair& p) { p.setFaults(SimFaults{}); });
}

void TestE2eRecords::readCounts_data() {
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("chinese");
    QTest::newRow("0") << 0 << 0;
    QTest::newRow("3") << 3 << 1;
    QTest::newRow("254") << 254 << 0;
}

// Each unit's list and file are what the simulator holds, decoded.
void TestE2eRecords::readCounts() {
    QFETCH(int, count);
    QFETCH(int, chinese);
    g_bChinese = chinese;
    m_server.withPair([count](SimPair& p) {
        p.local().seedLog(count);
        p.remote().seedLog(count);
    });
    for (bool local : {true, false}) {
        auto dlg = Open(local);
        QTRY_VERIFY_WITH_TIMEOUT(dlg->GetDlgItem(3)->isEnabled(), kWaitMs);
        QByteArray held;
        m_server.withPair([&](SimPair& p) {
            held = local ? p.local().recordAnswer(0x78) : p.remote().recordAnswer(0x87, 254);
        });
        const QStringList lines = DecodeRecordAnswer(reinterpret_cast<const unsigned char*>(held.constData()),
                                                     held.size(), chinese);
        QCOMPARE(lines.size(), count);
        QCOMPARE(Lines(*dlg), lines);
        QCOMPARE(ReadFile(m_env.driveC() + '/' + RecordFileName(local, chinese)),
                 RecordFileContent(count, lines, chinese));
        QCOMPARE(dlg->GetDlgItem(4)->isEnabled(), count != 0);
        QCOMPARE(dlg->GetDlgItemAs<QProgressBar>(1006)->value(), 8 * count);
        if (count == 0)
            QCOMPARE(Status(*dlg), NoRecordText(chinese));
    }
    QCOMPARE(MessageBeepCount(), 0);
}

// Confirmed clears empty both logs, and the fresh read finds nothing.
void TestE2eRecords::clearBoth() {
    m_server.withPair([](SimPair& p) {
        p.local().seedLog(5);
        p.remote().seedLog(7);
    });
    for (bool local : {true, false}) {
        auto dlg = Open(local);
        QTRY_COMPARE_WITH_TIMEOUT(List(*dlg)->count(), local ? 5 : 7, kWaitMs);
        AnswerConfirmation(IDOK);
        qobject_cast<QAbstractButton*>(dlg->GetDlgItem(4))->click();
        QTRY_COMPARE_WITH_TIMEOUT(Status(*dlg), QString("No record ."), kWaitMs);
        QCOMPARE(List(*dlg)->count(), 0);
        QCOMPARE(ReadFile(m_env.driveC() + '/' + RecordFileName(local, false)), QByteArray("No record ."));
    }
    size_t held = 1;
    m_server.withPair([&](SimPair& p) { held = p.local().log.size() + p.remote().log.size(); });
    QCOMPARE(held, size_t(0));
    QCOMPARE(MessageBeepCount(), 200); // the beeps before each confirmation
}

// A busy remote unit: its report, no list, no file. A silent unit: the link error.
void TestE2eRecords::busyAndSilent() {
    m_server.withPair([](SimPair& p) {
        p.remote().seedLog(3);
        SimFaults f;
        f.remoteBusy = true;
        p.setFaults(f);
    });
    QFile::remove(m_env.driveC() + "/RemoteRecord.txt");
    {
        auto dlg = Open(false);
        QTRY_COMPARE_WITH_TIMEOUT(Status(*dlg), kBusy, kWaitMs);
        QCOMPARE(List(*dlg)->count(), 0);
        QVERIFY(!dlg->GetDlgItem(3)->isEnabled() && !dlg->GetDlgItem(4)->isEnabled());
        QCOMPARE(MessageBeepCount(), 100);
        QVERIFY(!QFile::exists(m_env.driveC() + "/RemoteRecord.txt"));
    }
    m_server.withPair([](SimPair& p) {
        SimFaults f;
        f.silent = true;
        p.setFaults(f);
    });
    auto dlg = Open(true);
    QTRY_COMPARE_WITH_TIMEOUT(Status(*dlg), kLinkError, kWaitMs);
    QVERIFY(!dlg->GetDlgItem(3)->isEnabled());
    QCOMPARE(MessageBeepCount(), 200);
}

QTEST_MAIN(TestE2eRecords)
#include "tst_e2e_records.moc"
