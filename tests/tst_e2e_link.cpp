// The real line end to end: the About box over QSerialPort and a pseudo-terminal, against the
// simulated pair served in-process and by the lmx207-sim program, and the platform's refusals.

#include "app/KelpApp.h"
#include "link/AboutDlg.h"
#include "link/DeviceLink.h"
#include "link/SerialCommBackend.h"
#include "platform/Platform.h"
#include "sim/SimPtyServer.h"
#include "support/ShellHelpers.h"
#include "support/TestEnv.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QtWidgets>

#include <cstdio>

namespace {

const QString kLine1 = QStringLiteral("CPU Version : 1.0\tTime : 2004-5-27");
const QString kLine2 = QStringLiteral("CRC : 3C82\t\tROM : 97250AE8");
const QString kBlank1 = QStringLiteral("CPU Version :\t\tTime : ");
const QString kBlank2 = QStringLiteral("CRC :\t\t\tROMH : ");
constexpr int kWaitMs = 10000;

// Run as a child with LMX207_HOLD_PORT set: holds COM1 through the tool's own line until its
// standard input closes, so the suite meets a port that another process has open.
int HoldPort(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    auto line = CreateSerialCommBackend();
    QString error;
    printf("%s\n", line->open(1, &error) ? "held" : qPrintable("refused: " + error));
    fflush(stdout);
    char c;
    while (fread(&c, 1, 1, stdin) == 1) {
    }
    return 0;
}

// Starts a child and returns its first line of output.
QString StartChild(QProcess& child, const QString& program, const QStringList& args) {
    child.start(program, args);
    child.waitForStarted(kWaitMs);
    while (!child.canReadLine() && child.waitForReadyRead(kWaitMs)) {
    }
    return QString::fromLocal8Bit(child.readLine()).trimmed();
}

} // namespace

class TstE2eLink : public QObject {
    Q_OBJECT
    std::unique_ptr<TestEnv> m_env;
    std::unique_ptr<MessageBoxRecorder> m_boxes;

    static void pointCom1At(const QString& path) { qputenv("LMX207_COM1", path.toLocal8Bit()); }

    // Opens the About box on the real line and waits for its one decision.
    void expectAbout(const QString& line1, const QString& line2) {
        CAboutDlg dlg;
        dlg.Create();
        QVERIFY2(m_boxes->calls.isEmpty(), qPrintable(m_boxes->calls.value(0).text));
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.IsTimerRunning(1), kWaitMs);
        QCOMPARE(dlg.GetDlgItemText(1079), line1);
        QCOMPARE(dlg.GetDlgItemText(1080), line2);
    }

private slots:
    void initTestCase() {
        m_env = std::make_unique<TestEnv>();
        CMSComm::SetBackendFactory(nullptr);
        m_boxes = std::make_unique<MessageBoxRecorder>();
        g_bChinese = 0;
        AfxGetApp().m_strPort = QStringLiteral("COM1");
    }
    void init() { m_boxes->calls.clear(); }

    void aboutAgainstSimProgram_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("identified");
        QTest::newRow("live unit") << QStringList{} << true;
        QTest::newRow("silent unit") << QStringList{"--silent"} << false;
    }
    void aboutAgainstSimProgram() {
        QFETCH(QStringList, args);
        QFETCH(bool, identified);
        QProcess sim;
        const QString path = StartChild(sim, QStringLiteral(LMX207_SIM_BINARY), args);
        QVERIFY2(!path.isEmpty(), qPrintable(sim.readAllStandardError()));
        pointCom1At(path);
        expectAbout(identified ? kLine1 : kBlank1, identified ? kLine2 : kBlank2);
        sim.terminate();
        QVERIFY(sim.waitForFinished(kWaitMs));
    }

    // A port open in this box, then one held by another process: each refusal gives its message
    // and starts nothing; once both let go, the next box gets the port.
    void portInUse() {
        SimPtyServer sim;
        QVERIFY(sim.start());
        pointCom1At(sim.slavePath());
        {
            CAboutDlg dlg;
            dlg.Create();
            QVERIFY(m_boxes->calls.isEmpty());
            QVERIFY(OpenDevicePort(&dlg, dlg.m_comm));
            QCOMPARE(m_boxes->calls.size(), 1);
            QCOMPARE(m_boxes->calls[0].text, QStringLiteral("cannot open serial port"));
            QVERIFY(dlg.m_comm.GetPortOpen());
        }
        m_boxes->calls.clear();
        QProcess holder;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LMX207_HOLD_PORT"), QStringLiteral("1"));
        holder.setProcessEnvironment(env);
        QCOMPARE(StartChild(holder, QCoreApplication::applicationFilePath(), {}), QStringLiteral("held"));
        {
            CAboutDlg dlg;
            dlg.Create();
            QCOMPARE(m_boxes->calls.size(), 1);
            const QString text = m_boxes->calls[0].text;
            QVERIFY2(text.startsWith(QStringLiteral("Cannot open %1: ").arg(sim.slavePath())) &&
                         text.contains(QLatin1String("lock")),
                     qPrintable(text));
            QVERIFY(!dlg.IsTimerRunning(1) && !dlg.m_comm.GetPortOpen());
        }
        holder.closeWriteChannel();
        QVERIFY(holder.waitForFinished(kWaitMs));
        m_boxes->calls.clear();
        expectAbout(kLine1, kLine2);
    }

    void missingDevice() {
        const QString path = m_env->root() + "/no-such-tty";
        pointCom1At(path);
        CAboutDlg dlg;
        dlg.Create();
        QCOMPARE(m_boxes->calls.size(), 1);
        QCOMPARE(m_boxes->calls[0].text,
                 QStringLiteral("Cannot open %1: No such file or directory").arg(path));
        QVERIFY(!dlg.IsTimerRunning(1) && !dlg.m_comm.GetPortOpen());
        QCOMPARE(dlg.GetDlgItemText(1079), QString());
    }

    // The far side closes: the line reports it once, closes, and stays harmless.
    void unitGoesAway() {
        auto sim = std::make_unique<SimPtyServer>();
        QVERIFY(sim->start());
        pointCom1At(sim->slavePath());
        CMSComm comm;
        QSignalSpy lost(comm.Backend(), &CommBackend::lineLost);
        comm.SetCommPort(1);
        comm.SetPortOpen(TRUE);
        QVERIFY2(comm.GetPortOpen(), qPrintable(comm.OpenError()));
        sim.reset();
        QTRY_COMPARE_WITH_TIMEOUT(lost.count(), 1, kWaitMs);
        QVERIFY(!comm.GetPortOpen());
        SendCommandByte(comm, 0x86);
        QVERIFY(comm.GetInput().isEmpty());
    }
};

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsSet("LMX207_HOLD_PORT"))
        return HoldPort(argc, argv);
    QApplication app(argc, argv);
    TstE2eLink suite;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&suite, argc, argv);
}

#include "tst_e2e_link.moc"
