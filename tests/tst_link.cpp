// The exchange every device dialog shares, on the in-memory line: port choice, opening, the
// receive step and its bounds, and where COM1/COM2 lead on this machine.

#include "app/KelpApp.h"
#include "link/DeviceLink.h"
#include "link/SerialCommBackend.h"
#include "platform/Dialog.h"
#include "platform/Platform.h"
#include "support/ShellHelpers.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <QtWidgets>

namespace {

// A device dialog reduced to its receive state: 16-byte buffer with guard bytes either side, and
// an answer handling that acts on a complete 9-byte configuration answer only.
class ExchangeDlg : public CDialog {
public:
    ExchangeDlg() : CDialog(0) { connect(&m_comm, &CMSComm::OnComm, this, &ExchangeDlg::OnCommEvent); }

    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        if (!OpenDevicePort(this, m_comm))
            return TRUE;
        m_nRxCount = 0;
        m_nAnswer = 0;
        SendCommandByte(m_comm, 0x89);
        return TRUE;
    }

    void OnCommEvent() {
        if (ReceiveIntoBuffer(m_comm, m.m_rxBuf, m_nRxCount, m_nAnswer) && m_nAnswer == 0x76 &&
            m_nRxCount == 9)
            m_answers.append(QByteArray(reinterpret_cast<const char*>(m.m_rxBuf), 9));
    }

    struct {
        BYTE before[32];
        BYTE m_rxBuf[16];
        BYTE after[32];
    } m{};
    int m_nRxCount = -7;
    int m_nAnswer = -7;
    CMSComm m_comm;
    QList<QByteArray> m_answers; // every time the handling acted
};

const QByteArray kConfigAnswer = QByteArray::fromHex("76 01 01 2C 81 E4 55 1B 00");

} // namespace

class TstLink : public QObject {
    Q_OBJECT
    std::unique_ptr<TestEnv> m_env;
    std::unique_ptr<MessageBoxRecorder> m_boxes;

private slots:
    void init() {
        m_env = std::make_unique<TestEnv>();
        MemoryCommBackend::InstallFactory();
        m_boxes = std::make_unique<MessageBoxRecorder>();
        AfxGetApp().m_strPort = QStringLiteral("COM1");
        g_bChinese = 0;
    }
    void cleanup() { m_boxes.reset(); }

    // The answer assembles the same whatever its pieces; input waiting before the opening never
    // reaches the buffer; bytes after the complete answer are kept but never make it act again.
    void answerInPieces_data() {
        QTest::addColumn<QList<int>>("sizes");
        QTest::newRow("one batch") << QList<int>{9};
        QTest::newRow("1 + 8") << QList<int>{1, 8};
        QTest::newRow("nine single bytes") << QList<int>{1, 1, 1, 1, 1, 1, 1, 1, 1};
    }
    void answerInPieces() {
        QFETCH(QList<int>, sizes);
        ExchangeDlg dlg;
        MemoryCommBackend* line = MemoryCommBackend::Last();
        line->preload(QByteArray::fromHex("76 AA BB CC DD EE"));
        dlg.Create();
        QCOMPARE(line->m_sent, QByteArray("\x89"));
        QCOMPARE(dlg.m_nAnswer, 0);
        QCOMPARE(dlg.m_nRxCount, 0);
        for (int at = 0, i = 0; i < sizes.size(); at += sizes[i++])
            line->deliver(kConfigAnswer.mid(at, sizes[i]));
        QCOMPARE(dlg.m_nAnswer, 0x76);
        QCOMPARE(dlg.m_answers, QList<QByteArray>{kConfigAnswer});
        line->deliver(QByteArray::fromHex("76"));
        line->deliver(QByteArray::fromHex("00 01"));
        QCOMPARE(dlg.m_nRxCount, 12);
        QCOMPARE(dlg.m_answers.size(), 1);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(dlg.m.m_rxBuf), 12),
                 kConfigAnswer + QByteArray::fromHex("76 00 01"));
    }

    void portText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("port");
        QTest::newRow("COM1") << "COM1" << 1;
        QTest::newRow("COM2") << "COM2" << 2;
        QTest::newRow("com1") << "com1" << 2;
        QTest::newRow("COM1 with a blank") << "COM1 " << 2;
    }
    void portText() {
        QFETCH(QString, text);
        QFETCH(int, port);
        AfxGetApp().m_strPort = text;
        ExchangeDlg dlg;
        dlg.Create();
        QCOMPARE(MemoryCommBackend::Last()->m_port, port);
        QVERIFY(m_boxes->calls.isEmpty());
    }

    void floodStaysInsideTheBuffer() {
        ExchangeDlg dlg;
        dlg.Create();
        std::memset(dlg.m.before, 0xA5, sizeof dlg.m.before);
        std::memset(dlg.m.after, 0x5A, sizeof dlg.m.after);
        QByteArray all;
        for (int i = 0; i < 300; ++i) {
            const QByteArray batch(i % 37 + 1, char(0x76 + i));
            all += batch;
            MemoryCommBackend::Last()->deliver(batch);
        }
        QCOMPARE(dlg.m_nRxCount, all.size());
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(dlg.m.m_rxBuf), 16), all.left(16));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(dlg.m.before), 32), QByteArray(32, char(0xA5)));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(dlg.m.after), 32), QByteArray(32, char(0x5A)));
    }

    // An open port: the one message, in either language, and the rest of the set-up still runs.
    void portAlreadyOpen() {
        ExchangeDlg dlg;
        dlg.Create();
        MemoryCommBackend::Last()->preload(QByteArray::fromHex("11 22"));
        for (int chinese : {0, 1}) {
            g_bChinese = chinese;
            QVERIFY(OpenDevicePort(&dlg, dlg.m_comm));
            QCOMPARE(m_boxes->calls.size(), chinese + 1);
            QCOMPARE(m_boxes->calls.last().text, QStringLiteral("cannot open serial port"));
            QCOMPARE(m_boxes->calls.last().type, UINT(MB_OK));
            QCOMPARE(m_boxes->calls.last().owner, static_cast<QWidget*>(&dlg));
            QVERIFY(dlg.m_comm.GetPortOpen());
            QVERIFY(dlg.m_comm.GetInput().isEmpty());
        }
    }

    void refusedOpenStartsNothing() {
        ExchangeDlg dlg;
        MemoryCommBackend* line = MemoryCommBackend::Last();
        line->m_refuseOpen = true;
        line->m_refuseText = QStringLiteral("Cannot open /dev/ttyUSB0: No such file or directory");
        dlg.Create();
        QCOMPARE(m_boxes->calls.size(), 1);
        QCOMPARE(m_boxes->calls[0].text, line->m_refuseText);
        QCOMPARE(m_boxes->calls[0].owner, static_cast<QWidget*>(&dlg));
        QVERIFY(!dlg.m_comm.GetPortOpen());
        line->deliver(kConfigAnswer); // a closed line raises nothing
        QCOMPARE(dlg.m_nRxCount, -7);
    }

    void linkErrorTextsAndBeeps() {
        QCOMPARE(LinkErrorText(),
                 QStringLiteral("Link error !  Please check the cable , serial port and power !"));
        QCOMPARE(RemoteUnreachableText(),
                 QStringLiteral("Receive alarm or the system is busy, can't get the remote records !"));
        g_bChinese = 1;
        QCOMPARE(LinkErrorText(), QStringLiteral("连接失败！请检查连线、串口选择及装置电源！"));
        QCOMPARE(RemoteUnreachableText(), QStringLiteral("接收告警或系统忙，无法读取对侧记录！"));
        ResetMessageBeepCount();
        LinkErrorBeeps();
        QCOMPARE(MessageBeepCount(), 100);
    }

    // Where COM1 and COM2 lead: environment, then the store, then the adapters by id, then ttyS.
    void devicePathOrder() {
        const QString dev = m_env->root() + "/dev";
        QVERIFY(QDir().mkpath(dev + "/serial/by-id"));
        qunsetenv("LMX207_COM1");
        qunsetenv("LMX207_COM2");
        auto paths = [&dev] { return SerialDevicePath(1, dev) + ' ' + SerialDevicePath(2, dev); };
        QCOMPARE(paths(), dev + "/ttyS0 " + dev + "/ttyS1");
        // Adapters in name order, each as the device it links to; too few fall back to ttyS.
        QFile(dev + "/ttyUSB3").open(QIODevice::WriteOnly);
        QFile(dev + "/ttyACM0").open(QIODevice::WriteOnly);
        QVERIFY(QFile::link(dev + "/ttyUSB3", dev + "/serial/by-id/usb-FTDI_FT232R-if00-port0"));
        QCOMPARE(paths(), dev + "/ttyUSB3 " + dev + "/ttyS1");
        QVERIFY(QFile::link(dev + "/ttyACM0", dev + "/serial/by-id/usb-Arduino_Uno-if00"));
        QCOMPARE(paths(), dev + "/ttyACM0 " + dev + "/ttyUSB3");

        // The store beats the adapters; its text ends at the terminating zero; a value that is
        // not text is ignored.
        WriteSetting(QStringLiteral("COM2"), REG_SZ, QByteArray("/dev/pts/7\0junk", 16),
                     QStringLiteral("Ports"));
        WriteSetting(QStringLiteral("COM1"), REG_DWORD, "/dev/ttyX", QStringLiteral("Ports"));
        QCOMPARE(paths(), dev + "/ttyACM0 /dev/pts/7");

        // The environment beats everything, for its own port only; empty means unset.
        qputenv("LMX207_COM2", "/tmp/sim-pty");
        QCOMPARE(paths(), dev + "/ttyACM0 /tmp/sim-pty");
        qputenv("LMX207_COM2", "");
        QCOMPARE(SerialDevicePath(2), QStringLiteral("/dev/pts/7"));
    }
};

QTEST_MAIN(TstLink)
#include "tst_link.moc"
