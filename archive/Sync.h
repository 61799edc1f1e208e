#pragma once

#include "archive/Archive.h"

#include <QString>
#include <QStringList>

#include <functional>

// The laptop's archive and the team's archive on a server, brought together. The laptop's SQLite
// archive stays the working copy; a sync copies to the server each visit the server lacks or holds
// less of, and to the laptop each visit other laptops pushed. Nothing is deleted on either side.
//
// What is the same thing on both sides:
// - a visit: its identifier (a UUID made when it started, unique across laptops);
// - a unit: its address code when a configuration read told it; else the name a user gave it on
//   import (among units without an address); else its identifier. Two laptops that read the unit
//   with address 12 share one unit; two that imported "Substation 4" without an address share one;
// - an event: (unit, unit-clock time to the millisecond, code): the same event read by two laptops
//   is one event, kept first by whichever visit reached that side first;
// - a record read, configuration snapshot, clock reading or action: its visit, unit, side and PC
//   time (and the answer's hash, the source or the kind).
// A visit's row and facts are copied in one transaction on the receiving side, its events in short
// transactions after them (so that a dialog writing the laptop's archive meanwhile waits a moment,
// not for the whole visit). A sync cut at any moment (the network, a server restart, Ctrl-C) leaves
// a visit whole or partly copied, and the next sync copies the rest; copying what is already there
// adds nothing. The laptop remembers, per server, what each visit looked like when it last went
// either way (a table "sync_state" beside the archive's own), so a sync after months away copies
// only what changed since.
//
// A server is written by every laptop's role: what a pull takes is checked row by row against
// what the tool can have written (values in range, references that resolve within the visit,
// fields no longer than the protocol carries, measured by the server before they are fetched; a
// visit's rows and bytes within what one visit can hold). A visit that fails is left out and named
// in the report, and the sync goes on. A visit made on this laptop is never changed by a pull (the
// laptop keeps the visits pulls brought in a table "sync_pulled").

struct SyncReport {
    int visitsPulled = 0;
    qint64 eventsPulled = 0; // new on the laptop
    int visitsPushed = 0;
    qint64 eventsPushed = 0; // new on the server
    int visitsToPush = 0;    // left unpushed (a role that may not write)
    QStringList refused;     // "visit <uuid> not pulled: <why>" (or "not pushed"), one per visit left out
};

enum class SyncOutcome {
    Done,
    WritesRefused, // pulled; the server refuses writes for this role and the laptop has visits to push
    Failed,        // *why says what; what was copied so far stays
};

// Creates the server's tables (or upgrades them) and its identity, in the archive `server`
// opened ReadWrite on a server location. False with *why.
bool InitServerArchive(Archive& server, QString* why);

// Pulls, then pushes; the push runs whatever the pull met (a visit refused, the pull stopped). `local` is the
// laptop's archive opened ReadWrite, `server` the server's opened (ReadOnly suffices: the sync writes through
// its connection). `progress` (when given) hears one line per step.
SyncOutcome SyncArchives(Archive& local, Archive& server, SyncReport* report, QString* why,
                         const std::function<void(const QString&)>& progress = {});
