#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <array>
#include <vector>

// One 8-byte event record as the unit sends it: year, day, hour, minute, second (BCD),
// month << 4 | millisecond hundreds, event code, millisecond tens and units (BCD).
using SimRecord = std::array<quint8, 8>;

// Packed BCD of 0..99, and back; fromBcd() refuses nibbles above 9.
quint8 toBcd(int value);
bool fromBcd(quint8 byte, int* value);

// One simulated LMX-207 unit: its configuration, real-time clock and event log, and the
// answers it gives about them. The fields are plain data; the answers mask them to the widths
// the line carries (commands 5 to 8 count only on an 8-command unit).
class SimUnit {
public:
    SimUnit();

    int commands = 8;                     // 4 or 8
    int address = 0;                      // 0 .. 65000
    std::array<quint8, 8> inputDelay{};   // per command, 0 .. 1
    std::array<quint8, 8> outputDelay{};  // per command, 0 .. 3
    std::array<quint8, 8> outputExtend{}; // per command, 0 .. 3
    std::vector<SimRecord> log;           // in sending order, at most 255

    // Input Delay 3ms for commands 1 and 8; Output Delay 0/2/4/50ms for 1-4, 2ms for 5-8;
    // Output Extend 100/20/5/0ms for 1-4, 0ms for 5-8.
    void setExampleSettings();

    // 9 bytes: answer byte, flags (bit 0 = 8 commands), address high/low, the packed codes.
    QByteArray configAnswer(quint8 answerByte) const;
    // Applies a 7-byte configuration block; a block with an address above 65000 is ignored.
    bool applyConfigBlock(const QByteArray& block);

    // The clock runs with real time from the moment it is set (unless frozen).
    QDateTime clock() const;
    bool setClock(const QDateTime& dateTime); // refused outside the years 2000 .. 2099
    void setClockFrozen(bool frozen);
    // 7 bytes: answer byte, then year, month, day, hour, minute, second in BCD.
    QByteArray dateTimeAnswer(quint8 answerByte) const;
    // date: 3 BCD bytes or empty (unchanged); time: 3 BCD bytes or empty (unchanged).
    // Any invalid BCD digit or impossible date or time refuses the whole write.
    bool applyDateTime(const QByteArray& date, const QByteArray& time);

    // Fills the log with count records (0..255), newest first, cycling through every event
    // code 1..38 and the invalid codes 0, 39, 128 and 255. Without newest, the time of the
    // newest record is that of the previous seeding (at first 2024-06-18 14:32:05.417).
    void seedLog(int count, const QDateTime& newest = QDateTime());
    // Answer byte, record count, records; at most maxRecords of the log are sent.
    QByteArray recordAnswer(quint8 answerByte, int maxRecords = 255) const;

private:
    QDateTime m_clockBase;
    QElapsedTimer m_clockRun;
    bool m_clockFrozen = false;
    QDateTime m_seedNewest{QDate(2024, 6, 18), QTime(14, 32, 5, 417), Qt::UTC};
};
