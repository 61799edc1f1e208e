#pragma once

#include <QByteArray>
#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

// The facts the logbook keeps of the units: the rows the archive's queries give, and the filter
// the event queries take. Plain values, no database in sight: a window fills a filter on the UI
// thread and hands it to a worker thread's Archive.

// Which end of the optical link a unit was at when the tool talked to it: the local unit hangs on
// the PC's cable, the remote unit answers through it.
enum class UnitSide { Local, Remote };

// "local" / "remote": the text kept in the database and used on the command line.
QString SideText(UnitSide side);
// "local" or "remote" (any case) to a side; std::nullopt for anything else.
std::optional<UnitSide> SideFromText(const QString& text);

// The time on the PC when something was kept: UTC milliseconds since 1970 and the local zone's
// offset from UTC in seconds at that moment.
struct PcTime {
    qint64 utcMs = 0;
    int offsetSeconds = 0;
};

// A unit known to the archive. A unit is known by its address code once a configuration read
// told it; units that an import named, or whose records were read before any configuration read
// told their address, carry a name and no address.
struct UnitRow {
    qint64 id = 0;
    QString uuid;
    QString name;                    // empty unless a user named the unit (import --unit)
    std::optional<int> address;      // 0 to 65000 when a configuration read told it
    std::optional<UnitSide> side;    // where the unit was seen last
    std::optional<int> commandCount; // 4 or 8 when a configuration read told it
    qint64 eventCount = 0;
};

// One run of the service program (or one import): who ran it where, which units it met, and what
// it read and changed.
struct VisitRow {
    qint64 id = 0;
    QString uuid; // unique across laptops, so that a later merge of archives adds each visit once
    PcTime started;
    QString pcUser;
    QString pcHost;
    QString port;    // device path of the serial port first used, or the imported file or folder
    QString program; // "service" for the service program, "import" for an import
    std::optional<int> localAddress;
    std::optional<int> remoteAddress;
    int recordReads = 0;   // complete record answers kept (and files imported)
    qint64 newEvents = 0;  // events this visit saw first
    int configReads = 0;   // configuration answers kept
    int clockReadings = 0; // date-and-time answers kept
    int actions = 0;       // writes, clears and password changes sent
};

// The kinds of events a filter can choose, by what the event code says. Every code is of
// exactly one kind.
enum EventKind : unsigned {
    KindSend = 1u << 0,    // odd codes 1 to 15: command k sent
    KindReceive = 1u << 1, // odd codes 17 to 31: command k received
    KindReturn = 1u << 2,  // even codes 2 to 32: the return of a sent or received command
    KindAlarm = 1u << 3,   // codes 33, 34: receive alarm and its return
    KindFibreA = 1u << 4,  // codes 35, 36: fibre A interruption and its return
    KindFibreB = 1u << 5,  // codes 37, 38: fibre B interruption and its return
    KindInvalid = 1u << 6, // code 0 and codes 39 to 255
    KindAll = (1u << 7) - 1,
};

// What the event queries choose. Every criterion narrows the choice; the defaults choose all.
struct EventFilter {
    std::optional<qint64> unitId; // one unit, or all
    std::optional<UnitSide> side; // events read while their unit was local or remote, or both
    std::optional<int> command;   // 1 to 8: the codes of that command (sent, received, returns)
    unsigned kinds = KindAll;     // a set of EventKind; an event shows when its code is of a chosen kind
    QDate from;                   // the unit's clock, first day shown (null: no lower bound)
    QDate to;                     // the unit's clock, last day shown (null: no upper bound)
    QString text;                 // part of the event text, in either language (empty: any)
};

// The columns the event queries sort by. Unit sorts by unit, then unit time and code; UnitTime by
// unit time, then code; Side, Code and Visit by theirs, then in the order the archive first kept
// the events; FirstSeen in that order alone. Every sort ends on the event's row id, so pages never
// overlap or skip a row.
enum class EventSort { Unit, Side, UnitTime, Code, FirstSeen, Visit };

// One event: one (unit, unit-clock time to the millisecond, event code).
struct EventRow {
    qint64 id = 0;
    qint64 unitId = 0;
    QString unitLabel; // the unit's name, else "Address N", else "Unit #id"
    UnitSide side = UnitSide::Local;
    qint64 unitTime = 0; // the unit's clock as a sortable key: see UnitTimeKey() in ArchiveFormat.h
    int code = 0;
    PcTime firstSeen;   // when the archive first kept it
    qint64 visitId = 0; // the visit that first kept it
    QString visitUuid;
};

// The events of a filter counted by what their code says. Index 0 is command 1.
struct CommandCounters {
    std::array<qint64, 8> sent{};     // odd codes 1 to 15
    std::array<qint64, 8> received{}; // odd codes 17 to 31
    std::array<qint64, 8> returns{};  // even codes 2 to 16 and 18 to 32
    qint64 alarms = 0;                // codes 33, 34
    qint64 interruptionsA = 0;        // codes 35, 36
    qint64 interruptionsB = 0;        // codes 37, 38
    qint64 invalid = 0;               // code 0, codes 39 to 255
};

// A unit's configuration as one answer or one write showed it.
struct ConfigSnapshot {
    qint64 id = 0;
    qint64 unitId = 0;
    qint64 visitId = 0;
    UnitSide side = UnitSide::Local;
    PcTime time;
    QString source; // "read" (the unit's answer) or "write" (the block the tool sent)
    int address = 0;
    int commandCount = 8; // 4 or 8; a write takes the count of the read before it
    // The 24 delay codes: [row][command - 1], rows input delay, output delay, output extend;
    // -1 for commands 5 to 8 of a 4-command unit.
    std::array<std::array<int, 8>, 3> codes{};
    QByteArray bytes; // the answer (9 bytes) or the block (7 bytes) as on the wire
};

// What differs between two snapshots of a unit.
struct ConfigDifference {
    bool address = false;
    bool commandCount = false;
    std::array<std::array<bool, 8>, 3> codes{}; // [row][command - 1]
    bool any() const;
};

// One date-and-time answer: the unit's clock (wall time without a zone, as the unit keeps it)
// against the PC's local time when it arrived.
struct ClockReading {
    qint64 id = 0;
    qint64 unitId = 0;
    qint64 visitId = 0;
    UnitSide side = UnitSide::Local;
    PcTime time;
    QString unitClock;       // "2026-12-07 09:05:07" as the unit's BCD bytes say
    qint64 differenceMs = 0; // unit clock minus PC local clock
    QByteArray bytes;        // the 7-byte answer as received
};

// Something the tool sent that changes a unit, or the password change.
struct ActionRow {
    qint64 id = 0;
    qint64 visitId = 0;
    std::optional<qint64> unitId;
    UnitSide side = UnitSide::Local;
    PcTime time;
    QString port;
    QString kind;        // "config-write", "clock-write", "record-clear", "password-change"
    QByteArray sent;     // the bytes sent after the invitation (block, date/time groups); empty otherwise
    QString shownBefore; // what the dialog showed before: the configuration read before the write
    std::optional<bool> applied; // decided from the read-back that followed in the visit; unknown until then
};

// One failure to keep something, from the journal beside the database.
struct JournalEntry {
    QString time; // ISO 8601 UTC
    QString message;
};
