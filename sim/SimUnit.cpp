#include "sim/SimUnit.h"

#include <algorithm>

quint8 toBcd(int value) {
    return quint8((value / 10) * 16 + value % 10);
}

bool fromBcd(quint8 byte, int* value) {
    if ((byte >> 4) > 9 || (byte & 0x0F) > 9)
        return false;
    *value = (byte >> 4) * 10 + (byte & 0x0F);
    return true;
}

namespace {

// Clock values are kept as naive wall-clock times, so no time-zone rule ever shifts them.
QDateTime naive(const QDate& date, const QTime& time) {
    return QDateTime(date, time, Qt::UTC);
}

// Packs the codes of commands first..first+3, two bits each, command first in bits 0-1.
quint8 packPairs(const std::array<quint8, 8>& codes, int first) {
    int value = 0;
    for (int n = 0; n < 4; ++n)
        value |= (codes[first + n] & 3) << (2 * n);
    return quint8(value);
}

void unpackPairs(quint8 byte, std::array<quint8, 8>& codes, int first) {
    for (int n = 0; n < 4; ++n)
        codes[first + n] = (byte >> (2 * n)) & 3;
}

} // namespace

SimUnit::SimUnit() {
    const QDateTime now = QDateTime::currentDateTime();
    setClock(naive(now.date(), now.time()));
    if (!m_clockBase.isValid())
        setClock(naive(QDate(2024, 1, 1), QTime(0, 0)));
}

void SimUnit::setExampleSettings() {
    inputDelay = {1, 0, 0, 0, 0, 0, 0, 1};
    outputDelay = {0, 1, 2, 3, 1, 1, 1, 1};
    outputExtend = {3, 2, 1, 0, 0, 0, 0, 0};
}

QByteArray SimUnit::configAnswer(quint8 answerByte) const {
    const bool eight = commands == 8;
    int input = 0;
    for (int k = 0; k < (eight ? 8 : 4); ++k)
        input |= (inputDelay[k] & 1) << k;
    const quint8 bytes[9] = {answerByte,
                             quint8(eight ? 1 : 0),
                             quint8(address >> 8),
                             quint8(address),
                             quint8(input),
                             packPairs(outputDelay, 0),
                             quint8(eight ? packPairs(outputDelay, 4) : 0),
                             packPairs(outputExtend, 0),
                             quint8(eight ? packPairs(outputExtend, 4) : 0)};
    return QByteArray(reinterpret_cast<const char*>(bytes), 9);
}

bool SimUnit::applyConfigBlock(const QByteArray& block) {
    if (block.size() != 7)
        return false;
    const auto b = [&](int i) { return quint8(block[i]); };
    const int newAddress = b(0) * 256 + b(1);
    if (newAddress > 65000)
        return false;
    address = newAddress;
    for (int k = 0; k < 8; ++k)
        inputDelay[k] = (b(2) >> k) & 1;
    unpackPairs(b(3), outputDelay, 0);
    unpackPairs(b(4), outputDelay, 4);
    unpackPairs(b(5), outputExtend, 0);
    unpackPairs(b(6), outputExtend, 4);
    if (commands != 8) { // a 4-command unit has nothing to keep for commands 5 to 8
        std::fill(inputDelay.begin() + 4, inputDelay.end(), 0);
        std::fill(outputDelay.begin() + 4, outputDelay.end(), 0);
        std::fill(outputExtend.begin() + 4, outputExtend.end(), 0);
    }
    return true;
}

QDateTime SimUnit::clock() const {
    return m_clockFrozen ? m_clockBase : m_clockBase.addMSecs(m_clockRun.elapsed());
}

bool SimUnit::setClock(const QDateTime& dateTime) {
    if (!dateTime.isValid() || dateTime.date().year() < 2000 || dateTime.date().year() > 2099)
        return false;
    m_clockBase = naive(dateTime.date(), dateTime.time());
    m_clockRun.start();
    return true;
}

void SimUnit::setClockFrozen(bool frozen) {
    if (frozen == m_clockFrozen)
        return;
    m_clockBase = clock();
    m_clockRun.start();
    m_clockFrozen = frozen;
}

QByteArray SimUnit::dateTimeAnswer(quint8 answerByte) const {
    const QDateTime now = clock();
    const QDate d = now.date();
    const QTime t = now.time();
    const quint8 bytes[7] = {answerByte,      toBcd(d.year() % 100), toBcd(d.month()), toBcd(d.day()),
                             toBcd(t.hour()), toBcd(t.minute()),     toBcd(t.second())};
    return QByteArray(reinterpret_cast<const char*>(bytes), 7);
}

bool SimUnit::applyDateTime(const QByteArray& date, const QByteArray& time) {
    if ((!date.isEmpty() && date.size() != 3) || (!time.isEmpty() && time.size() != 3))
        return false;
    const QDateTime now = clock();
    QDate newDate = now.date();
    QTime newTime = now.time();
    int v[3];
    if (!date.isEmpty()) {
        for (int i = 0; i < 3; ++i)
            if (!fromBcd(quint8(date[i]), &v[i]))
                return false;
        newDate = QDate(2000 + v[0], v[1], v[2]);
    }
    if (!time.isEmpty()) {
        for (int i = 0; i < 3; ++i)
            if (!fromBcd(quint8(time[i]), &v[i]))
                return false;
        newTime = QTime(v[0], v[1], v[2]);
    }
    if (!newDate.isValid() || !newTime.isValid())
        return false;
    return setClock(naive(newDate, newTime));
}

void SimUnit::seedLog(int count, const QDateTime& newest) {
    static const quint8 invalidCodes[] = {0, 39, 128, 255};
    if (newest.isValid())
        m_seedNewest = naive(newest.date(), newest.time());
    const QDateTime start = m_seedNewest;
    log.clear();
    count = std::clamp(count, 0, 255);
    for (int k = 0; k < count; ++k) {
        // Events some minutes apart, with irregular milliseconds, going back in time.
        const QDateTime at = start.addMSecs(-qint64(k) * 97'531);
        const QDate d = at.date();
        const QTime t = at.time();
        const int slot = k % 42;
        const quint8 code = slot < 38 ? quint8(slot + 1) : invalidCodes[slot - 38];
        log.push_back({toBcd(d.year() % 100), toBcd(d.day()), toBcd(t.hour()), toBcd(t.minute()),
                       toBcd(t.second()), quint8(d.month() << 4 | t.msec() / 100), code,
                       toBcd(t.msec() % 100)});
    }
}

QByteArray SimUnit::recordAnswer(quint8 answerByte, int maxRecords) const {
    const int n = std::min<int>({int(log.size()), maxRecords, 255});
    QByteArray answer;
    answer.reserve(2 + 8 * n);
    answer.append(char(answerByte));
    answer.append(char(n));
    for (int k = 0; k < n; ++k)
        answer.append(reinterpret_cast<const char*>(log[k].data()), 8);
    return answer;
}
