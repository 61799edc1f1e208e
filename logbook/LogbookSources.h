#pragma once

#include "platform/Lang.h"

// What the logbook's windows read from the archive, in the terms they show. Each call opens its
// own read-only connection to the archive at `path` on the calling thread, reads, and closes it
// again, so any worker thread may call it. A failure gives an empty answer and the reason in
// *error.

#include "archive/ArchiveTypes.h"
#include "logbook/PagedTableModel.h"

class Archive;

#include <QList>
#include <QMetaType>
#include <QString>

// A unit as a person reads it: its name, else "Address N" / "地址 N", else "Unit #id" / "装置 #id".
QString UnitLabelText(const QString& name, std::optional<int> address, qint64 id, Lang lang);
QString UnitLabelText(const UnitRow& unit, Lang lang);
QString SideLabel(UnitSide side, Lang lang); // "Local" / "本地", "Remote" / "对端"

// The event table's columns, in order, and the sort each stands for.
enum EventColumn { ColUnit, ColSide, ColUnitTime, ColCode, ColText, ColFirstSeen, ColVisit, EventColumns };
EventSort SortOfEventColumn(int column);
// The cells of an event row as the source hands them to the table.
enum EventCell {
    CellUnitName,
    CellUnitAddress,
    CellUnitId,
    CellSide,
    CellUnitTime,
    CellCode,
    CellFirstSeen,
    CellVisit,
    EventCells
};

// The event table's source: PageQuery::filter holds an EventFilter; pages come by keyset after
// the page before when that page was read, else by offset; the summary is the CommandCounters.
PageSourceFactory MakeEventSourceFactory(const QString& path);

// The visit table's source, newest first (the sort is ignored): cells as VisitCell.
enum VisitCell {
    VisitId,
    VisitStarted,
    VisitUser,
    VisitHost,
    VisitPort,
    VisitProgram,
    VisitLocal,
    VisitRemote,
    VisitRecordReads,
    VisitNewEvents,
    VisitConfigReads,
    VisitClockReadings,
    VisitActions,
    VisitCells
};
PageSourceFactory MakeVisitSourceFactory(const QString& path);

QList<UnitRow> LoadUnits(const QString& path, QString* error);

// A unit's configuration snapshots and clock readings, oldest first.
struct UnitHistory {
    QList<ConfigSnapshot> snapshots;
    QList<ClockReading> clock;
};
UnitHistory LoadUnitHistory(const QString& path, qint64 unitId, QString* error);

// An action with what the audit table shows beside it: the unit's label parts, and for a
// configuration write the configuration read before it (what the dialog showed) and the one it
// wrote.
struct ActionEntry {
    ActionRow row;
    QString unitName;
    std::optional<int> unitAddress;
    bool hasBefore = false, hasWritten = false;
    ConfigSnapshot before, written;
    // Who sent it: the PC user and host of its visit.
    QString user;
    // The visit whose read-back decided "applied": its own, or a later one when its own read
    // nothing back (0 while not known).
    qint64 decidedBy = 0;
};
// Fills in "applied" of the writes whose own visit left it open from the first read-back in a
// later visit (DecideByLaterReads), and the deciding visit of each.
void DecideActions(Archive& archive, QList<ActionEntry>* actions);
// The newest `limit` actions, newest first; *more tells whether older ones exist.
QList<ActionEntry> LoadActions(const QString& path, int limit, bool* more, QString* error);

Q_DECLARE_METATYPE(EventFilter)
Q_DECLARE_METATYPE(CommandCounters)
