// The exchange every device dialog shares, on the in-memory line: which port it opens, what opening
// does, where received bytes go; and where a port leads on this machine.

#include "link/DeviceLink.h"
#include "link/SerialCommBackend.h"
#include "records/LocalRecordDlg.h"
#include "support/Suite.h"

#include <QSerialPort>

#include <fcntl.h>
#include <termios.h>

// A port's line as "speed parity data-bits stop-bits", e.g. "9600 N 8 1".
static QString LineOf(const QSerialPort& port) {
    const char* stop[] = {"?", "1", "2", "1.5"};
    return QStringLiteral("%1 %2 %3 %4")
        .arg(port.baudRate())
        .arg(QChar("N?EOSM"[port.parity()]))
        .arg(int(port.dataBits()))
        .arg(QLatin1String(stop[port.stopBits()]));
}

class TstLink : public QObject {
    Q_OBJECT
    TestEnv m_env;
    MessageBoxRecorder m_boxes;
    CDialog m_dlg{0}; // the dialog that owns the port and its messages

private slots:
    void initTestCase() { MemoryCommBackend::InstallFactory(); }

    // Port 1 only for exactly "COM1": any other text opens port 2.
    void portOneOnlyForExactlyCom1_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("port");
        QTest::newRow("COM1") << "COM1" << 1;
        QTest::newRow("com1") << "com1" << 2;
        QTest::newRow("COM1 with a blank") << "COM1 " << 2;
    }
    void portOneOnlyForExactlyCom1() {
        QFETCH(QString, text);
        QFETCH(int, port);
        AfxGetApp().m_strPort = text;
        CMSComm comm;
        QVERIFY(OpenDevicePort(&m_dlg, comm));
        QCOMPARE(Line()->m_port, port);
    }

    // Every dialog opens its line at the unit's 9600 baud, no parity, 8 data bits, 1 stop bit.
    void opensAtTheUnitsLineSettings() {
        AfxGetApp().m_strPort = QStringLiteral("COM1");
        CMSComm comm;
        QVERIFY(OpenDevicePort(&m_dlg, comm));
        QCOMPARE(Line()->m_settings, QStringLiteral("9600,n,8,1"));
    }

    // The serial port takes the control's settings text (the row's name) as it stands; a text it
    // cannot take leaves the line as it was (here 19200 E 7 2).
    void settingsTextSetsTheLine_data() {
        QTest::addColumn<QString>("line");
        QTest::newRow("9600,n,8,1") << "9600 N 8 1";
        QTest::newRow("4800,O,5,1.5") << "4800 O 5 1.5";
        QTest::newRow("110,m,6,1") << "110 M 6 1";
        QTest::newRow("2400,s,8,2") << "2400 S 8 2";
        QTest::newRow("9600,x,8,1") << "19200 E 7 2";
        QTest::newRow("9600,n,9,1") << "19200 E 7 2";
        QTest::newRow("9600,n,4,1") << "19200 E 7 2";
        QTest::newRow("fast,n,8,1") << "19200 E 7 2";
        QTest::newRow("9600,n,8") << "19200 E 7 2";
    }
    void settingsTextSetsTheLine() {
        QFETCH(QString, line);
        QSerialPort port;
        QVERIFY(ApplyCommSettings(port, QStringLiteral("19200,e,7,2")));
        ApplyCommSettings(port, QString::fromLatin1(QTest::currentDataTag()));
        QCOMPARE(LineOf(port), line);
    }

    // Settings given to an open port reach the line at once: on the real serial port (here a
    // pseudo-terminal, its speed and stop bits read back through a descriptor of its own; the
    // kernel keeps a pseudo-terminal at 8 data bits without parity) and on the in-memory line. A
    // text the line cannot take leaves line and property as they were.
    void settingsOnAnOpenPortSetTheLine_data() {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QString>("speedAndStop");
        QTest::addColumn<QString>("kept");
        QTest::newRow("4800,e,7,2") << "4800,e,7,2"
                                    << "4800 2"
                                    << "4800,e,7,2";
        QTest::newRow("1200,O,8,1") << "1200,O,8,1"
                                    << "1200 1"
                                    << "1200,O,8,1";
        QTest::newRow("4800,x,8,2") << "4800,x,8,2"
                                    << "9600 1"
                                    << "9600,n,8,1";
    }
    void settingsOnAnOpenPortSetTheLine() {
        QFETCH(QString, settings);
        QFETCH(QString, speedAndStop);
        QFETCH(QString, kept);
        const int master = posix_openpt(O_RDWR | O_NOCTTY);
        QVERIFY(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
        const QByteArray slave = ptsname(master);
        qputenv("LMX207_COM1", slave);
        CMSComm::SetBackendFactory(nullptr);
        {
            CMSComm comm;
            comm.SetCommPort(1);
            comm.SetPortOpen(TRUE);
            QVERIFY2(comm.GetPortOpen(), qPrintable(comm.OpenError()));
            comm.SetSettings(settings);
            QCOMPARE(comm.GetSettings(), kept);
            const int fd = open(slave.constData(), O_RDWR | O_NOCTTY);
            termios t{};
            QVERIFY(fd >= 0 && tcgetattr(fd, &t) == 0);
            close(fd);
            const speed_t speed = cfgetospeed(&t);
            QCOMPARE(QStringLiteral("%1 %2")
                         .arg(speed == B4800   ? 4800
                              : speed == B1200 ? 1200
                              : speed == B9600 ? 9600
                                               : -1)
                         .arg(t.c_cflag & CSTOPB ? 2 : 1),
                     speedAndStop);
        }
        close(master);
        qunsetenv("LMX207_COM1");
        MemoryCommBackend::InstallFactory();
        CMSComm comm;
        comm.SetPortOpen(TRUE);
        comm.SetSettings(kept);
        QCOMPARE(Line()->m_settings, kept);
    }

    // A dialog created a second time (DoModal after Create) is built and set up once: one request on
    // the line, its controls once, no message about a port already open.
    void createdTwiceSetUpOnce() {
        m_boxes.calls.clear();
        const auto dlg = OpenDialog<CLocalRecordDlg>();
        const int controls = int(dlg->children().size());
        dlg->Create();
        QCOMPARE(QPair(Line()->m_sent.toHex(), int(dlg->children().size())),
                 QPair(QByteArray("87"), controls));
        QVERIFY(m_boxes.calls.isEmpty());
    }

    // A port the control has open already: the one message, OK only and no icon, in either
    // language; the set-up still runs to its end and the dialog goes on to its request.
    void portAlreadyOpen() {
        m_boxes.calls.clear();
        for (int chinese : {0, 1}) {
            g_bChinese = chinese;
            CMSComm comm;
            comm.SetPortOpen(TRUE);
            Line()->preload(QByteArray::fromHex("11 22"));
            QVERIFY(OpenDevicePort(&m_dlg, comm));
            QCOMPARE(m_boxes.calls.size(), chinese + 1);
            QCOMPARE(m_boxes.calls.last().text, QStringLiteral("cannot open serial port"));
            QCOMPARE(m_boxes.calls.last().type, UINT(MB_OK));
            QCOMPARE(m_boxes.calls.last().owner, static_cast<QWidget*>(&m_dlg));
            QVERIFY(comm.GetInput().isEmpty());
        }
    }

    // A dialog's timer that was never set, or is stopped already, is not killed (FALSE).
    void killingATimerNotRunning() {
        QCOMPARE(m_dlg.KillTimer(7), FALSE);
        m_dlg.SetTimer(7, 60);
        QCOMPARE(m_dlg.KillTimer(7), TRUE);
        QCOMPARE(m_dlg.KillTimer(7), FALSE);
    }

    // Batches are stored in arrival order; what does not fit the buffer is counted, never stored.
    void receivedBytesStayInsideTheBuffer() {
        struct {
            BYTE before[8], rxBuf[16], after[8];
        } m;
        std::memset(&m, 0xA5, sizeof m);
        int count = 0, answer = 0;
        CMSComm comm;
        connect(&comm, &CMSComm::OnComm, [&] { ReceiveIntoBuffer(comm, m.rxBuf, count, answer); });
        comm.SetPortOpen(TRUE);
        const QByteArray answer9 = QByteArray::fromHex("76 01 01 2C 81 E4 55 1B 00"), flood(30, 0x5A);
        Line()->deliver(answer9);
        Line()->deliver(flood);
        QCOMPARE(count, 39);
        QCOMPARE(comm.GetCommEvent(), short(0)); // the receive event is over
        const QByteArray guard(8, char(0xA5));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(&m), sizeof m),
                 guard + answer9 + flood.left(7) + guard);
    }

    // Outside a receive event the step takes nothing: the bytes stay waiting for the event.
    void nothingTakenOutsideAReceive() {
        CMSComm comm;
        comm.SetPortOpen(TRUE);
        Line()->preload("\x76\x01");
        BYTE rxBuf[4] = {};
        int count = 0, answer = 0;
        QVERIFY(!ReceiveIntoBuffer(comm, rxBuf, count, answer));
        QCOMPARE(QPair(count, answer), QPair(0, 0));
        QCOMPARE(comm.GetInput(), QByteArray("\x76\x01"));
    }

    // Where port 2 leads, first found wins: LMX207_COM2; the store's "Ports" value "COM2"; the
    // second adapter under serial/by-id, in name order, as the device it links to; ttyS1.
    void devicePathOrder() {
        const QString dev = m_env.root() + "/dev";
        QVERIFY(QDir().mkpath(dev + "/serial/by-id"));
        qunsetenv("LMX207_COM2");
        QCOMPARE(SerialDevicePath(2, dev), dev + "/ttyS1");
        for (const char* name : {"/ttyACM0", "/ttyUSB3"})
            QVERIFY(QFile(dev + name).open(QIODevice::WriteOnly));
        QVERIFY(QFile::link(dev + "/ttyUSB3", dev + "/serial/by-id/usb-FTDI_FT232R-if00-port0"));
        QVERIFY(QFile::link(dev + "/ttyACM0", dev + "/serial/by-id/usb-Arduino_Uno-if00"));
        QCOMPARE(SerialDevicePath(2, dev), dev + "/ttyUSB3");
        WriteSetting("COM2", REG_SZ, QByteArray("/dev/pts/7", 11), "Ports"); // with its terminating zero
        QCOMPARE(SerialDevicePath(2, dev), QStringLiteral("/dev/pts/7"));
        qputenv("LMX207_COM2", "/tmp/sim-pty");
        QCOMPARE(SerialDevicePath(2, dev), QStringLiteral("/tmp/sim-pty"));
    }
};

QTEST_MAIN(TstLink)
#include "tst_link.moc"
