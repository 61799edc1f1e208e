#include "sim/SimPair.h"

SimPair::SimPair() {
    m_local.commands = 8;
    m_local.address = 300;
    m_local.setExampleSettings();
    m_local.seedLog(42);
    m_remote.commands = 8;
    m_remote.address = 301;
    m_remote.inputDelay = {0, 1, 0, 1, 0, 1, 0, 1};
    m_remote.outputDelay = {3, 2, 1, 0, 3, 2, 1, 0};
    m_remote.outputExtend = {0, 1, 2, 3, 0, 1, 2, 3};
    m_remote.seedLog(42, QDateTime(QDate(2024, 6, 17), QTime(9, 5, 7, 107), Qt::UTC));
}

void SimPair::setFaults(const SimFaults& faults) {
    if (faults.fullLocalLog && !m_faults.fullLocalLog)
        m_local.seedLog(255);
    m_faults = faults;
}

QByteArray SimPair::feed(const QByteArray& bytes) {
    QByteArray out;
    for (char c : bytes)
        out += feed(quint8(c));
    return out;
}

QByteArray SimPair::feed(quint8 byte) {
    if (m_faults.silent || m_cableCut)
        return {};
    if (m_await != Await::Command && m_sinceInvitation.elapsed() > m_dataTimeoutMs + m_faults.lateMs)
        m_await = Await::Command; // the PC never finished its data: forget it
    if (m_await != Await::Command) {
        takeData(byte);
        return {};
    }
    QByteArray answer = answerCommand(byte);
    if (answer.isEmpty())
        return answer;
    if (m_faults.wrongFirstByte) {
        // The PC cannot take a garbled invitation for one, so no data follows: wait for commands.
        answer[0] = char(m_faults.wrongByte);
        m_await = Await::Command;
    }
    if (m_faults.cablePulled) {
        answer.truncate(answer.size() / 2);
        m_cableCut = true;
    }
    return answer;
}

QByteArray SimPair::answerCommand(quint8 command) {
    switch (command) {
    case 0x86:
        return QByteArray(1, char(0x79));
    case 0x87:
        return m_local.recordAnswer(0x78);
    case 0x88:
        m_local.log.clear();
        return QByteArray(1, char(0x77));
    case 0x89:
        return m_local.configAnswer(0x76);
    case 0x90:
        return m_local.dateTimeAnswer(0x6F);
    case 0x91:
        return invite(Await::DateGroup, &m_local, 0x6E);
    case 0x92:
        return invite(Await::ConfigBlock, &m_local, 0x6D);
    case 0x76:
        if (m_faults.remoteUnreachable)
            return m_remote.configAnswer(0x89).left(2) + char(0xFF);
        return m_remote.configAnswer(0x89);
    case 0x6F:
        return m_remote.dateTimeAnswer(0x90);
    case 0x6E:
        return invite(Await::DateGroup, &m_remote, 0x91);
    case 0x6D:
        return invite(Await::ConfigBlock, &m_remote, 0x92);
    case 0x78:
        // The count 255 marks the busy answer, so a remote answer carries at most 254 records.
        if (m_faults.remoteBusy)
            return QByteArray("\x87\xFF", 2);
        return m_remote.recordAnswer(0x87, 254);
    case 0x77:
        m_remote.log.clear();
        return QByteArray(1, char(0x88));
    default:
        return {}; // not a command byte: the unit stays quiet
    }
}

QByteArray SimPair::invite(Await what, SimUnit* target, quint8 answerByte) {
    m_await = what;
    m_target = target;
    m_data.clear();
    m_date.clear();
    m_sinceInvitation.start();
    return QByteArray(1, char(answerByte));
}

void SimPair::takeData(quint8 byte) {
    // In either date-and-time group a leading 0xFF stands for "unchanged".
    if (m_await != Await::ConfigBlock && m_data.isEmpty() && byte == 0xFF) {
        if (m_await == Await::DateGroup) {
            m_await = Await::TimeGroup;
        } else {
            m_target->applyDateTime(m_date, QByteArray());
            m_await = Await::Command;
        }
        return;
    }
    m_data.append(char(byte));
    if (m_await == Await::ConfigBlock && m_data.size() == 7) {
        m_target->applyConfigBlock(m_data);
        m_await = Await::Command;
    } else if (m_await == Await::DateGroup && m_data.size() == 3) {
        m_date = m_data;
        m_data.clear();
        m_await = Await::TimeGroup;
    } else if (m_await == Await::TimeGroup && m_data.size() == 3) {
        m_target->applyDateTime(m_date, m_data);
        m_await = Await::Command;
    }
}

QList<SimBatch> SimPair::schedule(const QByteArray& answer) {
    QList<SimBatch> batches;
    if (answer.isEmpty())
        return batches;
    const int firstDelay = m_faults.late ? m_faults.lateMs : 0;
    if (!m_faults.split)
        return {SimBatch{firstDelay, answer}};
    for (qsizetype at = 0; at < answer.size();) {
        const qsizetype n = qMin<qsizetype>(1 + m_random.bounded(6), answer.size() - at);
        batches.append(SimBatch{at == 0 ? firstDelay : 2 + int(m_random.bounded(12)), answer.mid(at, n)});
        at += n;
    }
    return batches;
}
