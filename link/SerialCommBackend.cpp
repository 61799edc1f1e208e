#include "link/SerialCommBackend.h"

#include "app/KelpApp.h"
#include "platform/Registry.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPort>

#include <vector>

namespace {

// The value "COMn" of the store key "Ports", without its terminating zero; empty when missing.
QString StorePortPath(int port) {
    HKEY key;
    if (RegOpenKeyEx(QStringLiteral("Ports"), &key) != ERROR_SUCCESS)
        return {};
    const QString name = QStringLiteral("COM%1").arg(port);
    QString path;
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueEx(key, name, &type, nullptr, &size) == ERROR_SUCCESS && type == REG_SZ && size > 0) {
        std::vector<BYTE> data(size);
        if (RegQueryValueEx(key, name, &type, data.data(), &size) == ERROR_SUCCESS) {
            const auto* text = reinterpret_cast<const char*>(data.data());
            path = QString::fromUtf8(text, qstrnlen(text, size));
        }
    }
    RegCloseKey(&key);
    return path;
}

// The n-th adapter (1-based) under <devRoot>/serial/by-id, in name order, as the device it links
// to, so that every program locks the same name.
QString ByIdPortPath(int port, const QString& devRoot) {
    const QDir dir(devRoot + QStringLiteral("/serial/by-id"));
    const QStringList names = dir.entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    if (port < 1 || port > names.size())
        return {};
    const QFileInfo link(dir.filePath(names.at(port - 1)));
    const QString target = link.canonicalFilePath();
    return target.isEmpty() ? link.absoluteFilePath() : target;
}

// Why the platform refused the device, as the user reads it.
QString RefusalText(const QString& path, const QSerialPort& serial) {
    const bool chinese = g_bChinese != 0;
    QString text = (chinese ? QStringLiteral("无法打开 %1：%2") : QStringLiteral("Cannot open %1: %2"))
                       .arg(path, serial.errorString());
    if (serial.error() == QSerialPort::PermissionError) {
        const QFileInfo device(path);
        if (device.exists() && !(device.isReadable() && device.isWritable()))
            text += chinese ? QStringLiteral("\n串口设备属于 `dialout` 组：请把您的用户加入该组"
                                             "（sudo usermod -aG dialout $USER）后重新登录。")
                            : QStringLiteral(
                                  "\nSerial devices belong to the group `dialout`: add your user to it "
                                  "(sudo usermod -aG dialout $USER) and log in again.");
        else if (device.exists()) // readable and writable, yet refused: another program's lock
            text += chinese ? QStringLiteral("\n另一个程序正在使用此串口。")
                            : QStringLiteral("\nAnother program is using this port.");
    }
    return text;
}

class SerialCommBackend : public CommBackend {
public:
    SerialCommBackend() {
        connect(&m_serial, &QSerialPort::readyRead, this, &CommBackend::readyRead);
        connect(&m_serial, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError error) {
            // Modem-control requests fail on a pseudo-terminal ("Inappropriate ioctl for device");
            // the line works without them. A read that fails although data were signalled means
            // the device went away: an adapter pulled out gives a ResourceError, a pseudo-terminal
            // whose far side closed reads end-of-file (a ReadError). Either would be signalled
            // again at every turn of the event loop, so the port is closed.
            if ((error == QSerialPort::ResourceError || error == QSerialPort::ReadError) && m_serial.isOpen())
                QMetaObject::invokeMethod(this, &SerialCommBackend::loseLine, Qt::QueuedConnection);
        });
    }
    ~SerialCommBackend() override { close(); }

    bool open(int port, const QString& settings, QString* error) override {
        close();
        const QString path = SerialDevicePath(port);
        if (!ApplyCommSettings(m_serial, settings)) {
            if (error)
                *error = QStringLiteral("Cannot open %1: the line settings \"%2\" are not valid")
                             .arg(path, settings);
            return false;
        }
        m_serial.setPortName(path); // a full path is used as it is, pseudo-terminals included
        m_serial.setReadBufferSize(0);
        if (!m_serial.open(QIODevice::ReadWrite)) {
            if (error)
                *error = RefusalText(path, m_serial);
            return false;
        }
        // Bytes a unit sent after the last owner of the port let it go (the answer to a request
        // of a dialog that has closed) still wait in the device's queue: they belong to nobody.
        m_serial.clear(QSerialPort::Input);
        m_serial.clearError();
        return true;
    }

    bool isOpen() const override { return m_serial.isOpen(); }

    bool setSettings(const QString& settings) override {
        return m_serial.isOpen() && ApplyCommSettings(m_serial, settings);
    }

    void close() override {
        if (m_serial.isOpen())
            m_serial.close();
    }

    void write(const QByteArray& bytes) override {
        if (!m_serial.isOpen())
            return;
        m_serial.write(bytes);
        // Out at once, in order, even when the caller blocks the thread right after.
        m_serial.flush();
    }

    QByteArray readAll() override { return m_serial.isOpen() ? m_serial.readAll() : QByteArray(); }

private:
    void loseLine() {
        if (!m_serial.isOpen())
            return;
        m_serial.close();
        emit lineLost();
    }

    QSerialPort m_serial;
};

} // namespace

bool ApplyCommSettings(QSerialPort& serial, const QString& settings) {
    const QStringList f = settings.split(QLatin1Char(','));
    bool baudOk = false, bitsOk = false;
    const int baud = f.value(0).toInt(&baudOk);
    const int bits = f.value(2).toInt(&bitsOk);
    const int parity = QStringLiteral("neoms").indexOf(f.value(1).toLower());
    const int stop =
        QStringList{QStringLiteral("1"), QStringLiteral("1.5"), QStringLiteral("2")}.indexOf(f.value(3));
    if (f.size() != 4 || !baudOk || baud <= 0 || !bitsOk || bits < 5 || bits > 8 || f.value(1).size() != 1 ||
        parity < 0 || stop < 0)
        return false;
    static const QSerialPort::Parity kParity[] = {QSerialPort::NoParity, QSerialPort::EvenParity,
                                                  QSerialPort::OddParity, QSerialPort::MarkParity,
                                                  QSerialPort::SpaceParity};
    static const QSerialPort::StopBits kStop[] = {QSerialPort::OneStop, QSerialPort::OneAndHalfStop,
                                                  QSerialPort::TwoStop};
    serial.setBaudRate(baud);
    serial.setParity(kParity[parity]);
    serial.setDataBits(QSerialPort::DataBits(bits));
    serial.setStopBits(kStop[stop]);
    serial.setFlowControl(QSerialPort::NoFlowControl);
    return true;
}

QString SerialDevicePath(int port, const QString& devRoot) {
    const QString fromEnv =
        qEnvironmentVariable(QStringLiteral("LMX207_COM%1").arg(port).toLatin1().constData());
    if (!fromEnv.isEmpty())
        return fromEnv;
    const QString fromStore = StorePortPath(port);
    if (!fromStore.isEmpty())
        return fromStore;
    const QString byId = ByIdPortPath(port, devRoot);
    if (!byId.isEmpty())
        return byId;
    return QStringLiteral("%1/ttyS%2").arg(devRoot).arg(port - 1);
}

std::unique_ptr<CommBackend> CreateSerialCommBackend() {
    return std::make_unique<SerialCommBackend>();
}
