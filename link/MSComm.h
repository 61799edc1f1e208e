#pragma once

#include "platform/Win.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class CDataExchange;

// What a serial control talks through: the real serial port, or an in-memory line for the tests.
class CommBackend : public QObject {
    Q_OBJECT
public:
    // Opens the device behind port `port` (1 = COM1, 2 = COM2) at the given settings
    // ("9600,n,8,1": speed, parity, data bits, stop bits). On failure returns false and sets
    // *error to the platform's text, with the device path.
    virtual bool open(int port, const QString& settings, QString* error) = 0;
    virtual bool isOpen() const = 0;
    // Sets the open line to new settings, same form as open(); a text it cannot take leaves the
    // line as it was and returns false.
    virtual bool setSettings(const QString& settings) = 0;
    virtual void close() = 0;
    virtual void write(const QByteArray& bytes) = 0;
    virtual QByteArray readAll() = 0; // everything received and not yet taken
signals:
    void readyRead(); // at least one byte has arrived
    void lineLost();  // the device went away (cable pulled, adapter unplugged)
};

// The serial communications control each device dialog hosts as control 1075 (member m_comm): the
// properties and the OnComm event the dialogs rely on. The port is released when the control is
// destroyed; the tool never sets PortOpen to FALSE itself.
class CMSComm : public QObject {
    Q_OBJECT
public:
    explicit CMSComm(QObject* parent = nullptr);
    ~CMSComm() override;

    void SetCommPort(short port);
    short GetCommPort() const;
    BOOL GetPortOpen() const;
    // TRUE opens the port chosen by CommPort; a refusal leaves it closed, and OpenError() says why.
    void SetPortOpen(BOOL open);
    // The line's speed, parity, data bits and stop bits, "9600,n,8,1". On an open port the line
    // takes them at once; a text the line cannot take leaves line and property as they were. On a
    // closed port they are kept for the next opening.
    void SetSettings(const QString& settings);
    QString GetSettings() const;
    void SetInputMode(long mode);
    void SetRThreshold(short threshold);
    void SetInputLen(short len);
    // Everything received and not yet taken, in arrival order.
    QByteArray GetInput();
    void SetOutput(const QByteArray& bytes);
    // 2 (comEvReceive) while a receive event is delivered; 0 otherwise.
    short GetCommEvent() const;

    QString OpenError() const;

    // The backend each new control gets; tests install the in-memory one. nullptr restores the
    // real serial port.
    using BackendFactory = std::function<std::unique_ptr<CommBackend>()>;
    static void SetBackendFactory(BackendFactory factory);

    CommBackend* Backend() const;

signals:
    // Raised after bytes have arrived (RThreshold 1); GetCommEvent() is 2 during the signal.
    void OnComm();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// Control 1075 of a template is a placeholder; the dialog's own CMSComm member is the control.
void DDX_Control(CDataExchange* pDX, int id, CMSComm& control);

// The in-memory line for the tests: records every byte sent, delivers batches of received bytes
// when the test says so. Instances register themselves so a test can find the one a dialog uses.
class MemoryCommBackend : public CommBackend {
    Q_OBJECT
public:
    MemoryCommBackend();
    ~MemoryCommBackend() override;

    bool open(int port, const QString& settings, QString* error) override;
    bool isOpen() const override { return m_open; }
    bool setSettings(const QString& settings) override;
    void close() override { m_open = false; }
    void write(const QByteArray& bytes) override { m_sent += bytes; }
    QByteArray readAll() override;

    // Adds bytes to the receive buffer and raises the receive event (synchronously).
    void deliver(const QByteArray& batch);
    // Adds bytes without an event: input waiting before the dialog opened the port, say.
    void preload(const QByteArray& bytes) { m_pending += bytes; }

    QByteArray m_sent;  // every byte written, in order
    int m_port = 0;     // the port asked for at open
    QString m_settings; // and the line settings, at open and set since

    static MemoryCommBackend* Last(); // the most recently created instance
    static void InstallFactory();     // every new CMSComm gets a MemoryCommBackend

private:
    bool m_open = false;
    QByteArray m_pending;
};
