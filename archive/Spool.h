#pragma once

#include "archive/Archive.h"
#include "archive/ArchiveTypes.h"

#include <QByteArray>
#include <QString>

#include <map>
#include <memory>

class VisitRecorder;

// The spool: what the service program handed over, waiting for the archive. Every fact goes to the
// spool first and from there into the archive, so that a fact the archive cannot take now (another
// writer holding it beyond the busy timeout, damaged, full, not there) and a fact whose program
// ends before its write (a crash, kill -9) both go in later: at the next fact, on the hand-over's
// retry while the service program runs, or at the next start of either program.
//
// The spool is "logbook-spool.txt" beside the database, written by platform/SafeFile's rules (mode
// 0600 from creation, no link another account could have planted followed) and only while holding
// its lock (flock): one line per fact, "<key> <check> <fact>", appended and synced to the disk
// before the hand-over's thread goes on; <fact> is the fact in base 64, <check> the first 16 hex
// digits of the SHA-256 of "<key> <fact>", so that a line torn by a crash, or changed, is known
// and skipped. The spool is emptied only when all its facts are in.
//
// Exactly once: <key> is a fresh random UUID per fact, and the transaction that keeps the fact in
// the archive also adds its key to the archive's table spool_kept. A fact whose key is there is
// skipped: a crash between the archive's commit and the spool's truncation takes nothing in twice.
// The keys stay (a few dozen bytes a fact; facts come at a person's pace): a spool restored from a
// backup takes nothing in twice either. spool_kept is the laptop's own: a sync never copies it.

// One fact as a dialog handed it over.
struct HandedFact {
    enum Kind { Records, Config, Clock, ConfigWrite, ClockWrite, Clear, Password };
    Kind kind = Records;
    UnitSide side = UnitSide::Local;
    QString port;
    PcTime at;
    QByteArray bytes;
    int commandCount = 8;
    // The visit of the program's run that handed it over (its uuid set), joined by each of its facts.
    VisitInfo visit;
};

// "record answer", "configuration answer", ... as the journal names a fact.
QString HandedFactText(HandedFact::Kind kind);

// "logbook-spool.txt" beside the database.
QString ArchiveSpoolPath(const QString& databasePath);

// Appends `fact` to the spool beside `databasePath` and syncs it to the disk. *key is the fact's
// key. False with *error set to the system's reason when the spool cannot be written.
bool SpoolFact(const QString& databasePath, const HandedFact& fact, QString* key, QString* error);

// Keeps facts in one open, writable archive, through one VisitRecorder per visit (so a visit's
// facts are kept in their order, as the recorder's rules for units and "applied" need).
class FactKeeper {
public:
    explicit FactKeeper(Archive& archive);
    ~FactKeeper();
    FactKeeper(const FactKeeper&) = delete;
    FactKeeper& operator=(const FactKeeper&) = delete;

    enum class Result { Kept, KeptBefore, Failed, Refused };
    // Keeps `fact` in one transaction, and with it `key` (unless empty) in spool_kept; a fact whose
    // key is kept already is not kept again. Failed: the database could not take it now; Refused:
    // the fact is not one the archive keeps (a record answer cut short), now or ever. The reason
    // is the archive's LastError().
    Result Keep(const HandedFact& fact, const QString& key);
    // Forgets the visits' recorders (after the archive was closed or set aside).
    void Forget();

private:
    Archive& m_archive;
    std::map<QString, std::unique_ptr<VisitRecorder>> m_recorders;
};

// What MoveSpoolIn did.
struct SpoolRun {
    int kept = 0;    // facts taken into the archive now
    int waiting = 0; // facts still in the spool
    // `justSpooled` (below) no longer waits: taken in now, or refused (and journaled).
    bool justSpooledDone = false;
    QString error; // why the facts still wait
};

// Moves the facts of the spool beside `databasePath` into that archive, oldest first, each once,
// opening `archive` there for writing when it is not open there yet (through `keeper`, which keeps
// in `archive`). A damaged default archive is set aside and a new one started (the facts then go
// into the new one). Stops at the first fact the archive cannot take now; a fact it refuses goes
// to the journal as not kept and the rest go on. The spool is emptied when all are in. The journal tells each
// fact that went in after waiting (all but `justSpooled`, the key of the fact the caller spooled just now).
SpoolRun MoveSpoolIn(const QString& databasePath, Archive& archive, FactKeeper& keeper,
                     const QString& justSpooled = QString());

// For a program's start: when the spool beside the default archive holds facts, moves them in.
// Returns the facts still waiting.
int MoveDefaultSpoolIn();
