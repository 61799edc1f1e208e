#pragma once

#include "sim/SimUnit.h"

#include <QElapsedTimer>
#include <QList>
#include <QRandomGenerator>

// Faults a simulated pair can show, each switched on by its own flag.
struct SimFaults {
    bool silent = false; // no answer at all, nothing is applied
    bool late = false;   // every answer starts lateMs after its request
    int lateMs = 300;
    bool split = false;          // answers come in arbitrary batches with small gaps
    bool wrongFirstByte = false; // the answer byte is replaced by wrongByte; invitations expect no data
    quint8 wrongByte = 0x00;
    bool remoteUnreachable = false; // remote configuration read answered 89 <flags> FF
    bool remoteBusy = false;        // remote record read answered 87 FF
    bool cablePulled = false;       // the first answer stops after half its bytes, then silence
    bool fullLocalLog = false;      // the local log is filled with 255 records
};

// A piece of an answer and the pause before it goes out.
struct SimBatch {
    int delayMs = 0;
    QByteArray bytes;
};

// The local unit on the serial line and the remote unit behind it on the optical link. A pure
// byte engine: every byte the PC sends goes into feed(), which returns what the local unit
// answers. Bytes following an invitation (0x91/0x92, 0x6E/0x6D) are data, not commands; a data
// group left incomplete for dataTimeoutMs is dropped and the unit waits for commands again.
class SimPair {
public:
    SimPair();

    SimUnit& local() { return m_local; }
    SimUnit& remote() { return m_remote; }
    const SimUnit& local() const { return m_local; }
    const SimUnit& remote() const { return m_remote; }

    const SimFaults& faults() const { return m_faults; }
    void setFaults(const SimFaults& faults);

    QByteArray feed(quint8 byte);
    QByteArray feed(const QByteArray& bytes);

    // How an answer goes out under the timing faults: one batch without them.
    QList<SimBatch> schedule(const QByteArray& answer);

    bool cableCut() const { return m_cableCut; }
    void reconnectCable() { m_cableCut = false; }
    void setDataTimeoutMs(int ms) { m_dataTimeoutMs = ms; }

private:
    enum class Await { Command, DateGroup, TimeGroup, ConfigBlock };

    QByteArray answerCommand(quint8 command);
    QByteArray invite(Await what, SimUnit* target, quint8 answerByte);
    void takeData(quint8 byte);

    SimUnit m_local;
    SimUnit m_remote;
    SimFaults m_faults;
    bool m_cableCut = false;
    Await m_await = Await::Command;
    SimUnit* m_target = nullptr;
    QByteArray m_data;
    QByteArray m_date;
    QElapsedTimer m_sinceInvitation;
    int m_dataTimeoutMs = 3000;
    QRandomGenerator m_random{207};
};
