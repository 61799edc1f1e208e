#pragma once

#include "archive/Archive.h"
#include "archive/ArchiveTypes.h"

#include <QByteArray>
#include <QString>

#include <QList>
#include <QPair>

#include <memory>
#include <optional>

// Keeps the facts of one visit (one run of the service program) in an open, writable Archive,
// each fact in one transaction. The dialogs reach it through the hand-over calls (HandOver.h),
// which run it on a thread of its own; tests and the benchmark call it directly.
//
// Which unit a fact belongs to:
// - A configuration answer tells the address of the unit at its side: from then on in this visit
//   that side's facts belong to the unit known by that address (created when new). A read that
//   shows the address a configuration write of this visit just sent is the same unit with its new
//   address.
// - Records read at a side before any configuration answer of this visit told its unit belong to
//   the unit that already holds any of those events at that side (the same log read again, or
//   grown); failing that, to a unit of this visit without an address, which the side's next
//   configuration answer in the visit then names (its events move to the unit with that address,
//   each kept once).
// - An event is one (unit, unit-clock time to the millisecond, event code): a record answer adds
//   only the events its unit does not hold yet, so reading a log twice, or a log that has grown,
//   adds only what is new, and two units never share an event row.
// "Applied" of a write is decided by the read-back that follows in this visit: the side's next
// configuration answer (same address and codes as the block sent), the next date-and-time answer
// (the clock within two seconds of what was sent, plus the time since), the next record answer
// after a clear (none of the events the archive held before it).
class VisitRecorder {
public:
    // The visit row is created with the first fact kept.
    VisitRecorder(Archive& archive, const VisitInfo& info);
    ~VisitRecorder();
    VisitRecorder(const VisitRecorder&) = delete;
    VisitRecorder& operator=(const VisitRecorder&) = delete;

    // A complete record answer (answer byte, N, N records) as received. *newEvents (when given)
    // is the number of events it added.
    bool RecordAnswer(UnitSide side, const QString& port, const PcTime& at, const QByteArray& answer,
                      int* newEvents = nullptr);
    // A 9-byte configuration answer.
    bool ConfigAnswer(UnitSide side, const QString& port, const PcTime& at, const QByteArray& answer);
    // A 7-byte date-and-time answer.
    bool ClockAnswer(UnitSide side, const QString& port, const PcTime& at, const QByteArray& answer);
    // The 7-byte configuration block sent after the unit's invitation; commandCount is what the
    // dialog held (4 or 8).
    bool ConfigWrite(UnitSide side, const QString& port, const PcTime& at, const QByteArray& block,
                     int commandCount);
    // The date and time groups sent after the unit's invitation (2, 4 or 6 bytes).
    bool ClockWrite(UnitSide side, const QString& port, const PcTime& at, const QByteArray& sent);
    // A record clear sent to the unit (the clear deletes nothing here).
    bool RecordClear(UnitSide side, const QString& port, const PcTime& at);
    // The login password was changed (never the password itself).
    bool PasswordChange(const PcTime& at);

    // For the import: the unit called `name` (or, when `name` is an address code 0 to 65000, the
    // unit known by that address), created with that name when there is none.
    std::optional<qint64> UnitNamed(const QString& name, UnitSide side, const PcTime& at);
    // For the import, the rule of records read before a configuration answer: the unit that holds
    // most of these events already (the same log read again, or grown), if one.
    std::optional<qint64> UnitHolding(const QList<QPair<qint64, int>>& events);
    // An imported record file: its bytes and its events (unit-clock key, code; code -1 for an
    // invalid record whose code the text does not tell). A file whose bytes this unit was given
    // before adds nothing and sets *unchanged.
    bool ImportedFile(qint64 unitId, UnitSide side, const QString& path, const PcTime& at,
                      const QByteArray& content, const QList<QPair<qint64, int>>& events, int* newEvents,
                      bool* unchanged);

    // The visit's row id, 0 until the first fact is kept.
    qint64 VisitId() const;
    QString VisitUuid() const;
    QString LastError() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// Now, as the archive keeps PC times.
PcTime PcTimeNow();
