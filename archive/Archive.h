#pragma once

#include "archive/ArchiveTypes.h"

#include <QByteArray>
#include <QList>
#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <QVariant>

#include <functional>
#include <memory>
#include <optional>

// The logbook's database: one SQLite file (Qt SQL, QSQLITE) that keeps what the units told the
// tool, for years. An Archive is one connection, used by the thread that opened it alone: a window
// opens its own in each worker thread (each instance takes a connection name of its own), the
// service program writes through one of its own, and the command line uses one.
//
// The file lives at DefaultArchivePath() unless a path is given; it is created with mode 0600 from
// its first byte (the data folder 0700), in write-ahead-log mode, so readers keep reading while the
// service program writes, and every connection waits a while for a lock held by another before
// it gives up. Nothing is ever deleted from it. A write transaction takes the write lock at its
// start: SQLite answers a reader that tries to become a writer with "busy" at once, without
// waiting. Damage is known by SQLite's result codes (corrupt, not a database), never by texts.

// $XDG_DATA_HOME/lmx207/logbook.sqlite, or ~/.local/share/lmx207/logbook.sqlite when
// XDG_DATA_HOME is unset or empty.
QString DefaultArchivePath();
// Whether `path` names the user's default archive, the only one ever set aside.
bool IsDefaultArchivePath(const QString& path);
// The journal of failures to keep something: "logbook-journal.txt" beside the database.
QString ArchiveJournalPath(const QString& databasePath);
// The newest entries of the journal beside `databasePath`, oldest first, at most `limit`. An
// absent journal has none.
QList<JournalEntry> ReadArchiveJournal(const QString& databasePath, int limit = 200);
// Appends one line "<ISO time UTC>  <message>" to the journal, creating it with mode 0600 as
// platform/SafeFile's rules say (no link another account could have planted is followed). Keeps
// the file below a few hundred kilobytes by dropping its oldest half. Never throws; false when the
// line could not be written.
bool AppendArchiveJournal(const QString& databasePath, const QString& message);

// The current schema version; a database of an older version is upgraded step by step when
// opened for writing, one of a newer version is refused.
constexpr int kArchiveSchemaVersion = 1;

// Who kept a visit, and where.
struct VisitInfo {
    QString uuid;    // empty: a fresh random one
    PcTime started;  // zero: now
    QString pcUser;  // empty: the login name
    QString pcHost;  // empty: the host name
    QString port;    // device path, or the imported file or folder
    QString program; // "service" or "import"
};

class Archive {
public:
    enum class Mode { ReadOnly, ReadWrite };

    Archive();
    ~Archive();
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;

    // Opens the database at `path` (DefaultArchivePath() when empty). ReadWrite creates the
    // folder (0700) and file when absent (mode 0600 from the start) and the schema, or upgrades an
    // older one. A file that is not an archive (not SQLite, or an SQLite database of another
    // program that holds tables) or is damaged is, at the default path alone, renamed aside to
    // "<name>.damaged-<UTC time>" (never replacing a file) and a fresh one started, and the
    // journal says so; at any other path it is refused and left as it is. A schema version this
    // program does not know (below 1, above kArchiveSchemaVersion) is refused. ReadOnly opens an
    // existing archive without changing it. Returns false with
    // the reason in LastError() when the archive cannot be used. A server location
    // (ServerLocation() in ServerArchive.h) opens the team's archive on a PostgreSQL server
    // instead: ReadWrite creates or upgrades its tables, ReadOnly needs them there.
    bool Open(const QString& path, Mode mode);
    bool IsOpen() const;
    void Close();
    QString Path() const;
    // The last failure's text (the database's error, or what was wrong); empty after a success.
    QString LastError() const;
    // The path a damaged database was moved to by the last Open or SetAsideAndStartAgain, or empty.
    QString SetAsideAs() const;
    // Whether the last failure was the database's damage (SQLite's corrupt or not-a-database).
    bool LastErrorIsDamage() const;
    // Whether the last failure was a statement's (the database's: busy, damaged, full, ...), not
    // a refusal of what the writer was given.
    bool LastErrorFromDatabase() const;
    // For a damaged default archive: closes it, renames it aside as Open does and opens a fresh one
    // in its place (the journal says so). False, with the reason in LastError(), for any other
    // archive or when it cannot.
    bool SetAsideAndStartAgain();

    // --- queries (both modes) ------------------------------------------------------------------

    QList<UnitRow> Units();
    std::optional<UnitRow> Unit(qint64 id);
    // Visits, newest first.
    QList<VisitRow> Visits(int offset, int limit);
    qint64 VisitCount();

    // A page of events: the filter's events sorted by `sort` in `order` (then by row id the same
    // way), `limit` rows from `offset`. Deep pages are cheaper through EventPageAfter.
    QList<EventRow> EventPage(const EventFilter& filter, EventSort sort, Qt::SortOrder order, qint64 offset,
                              int limit);
    // The page after `last` (a row of the previous page) in the same filter, sort and order.
    QList<EventRow> EventPageAfter(const EventFilter& filter, EventSort sort, Qt::SortOrder order,
                                   const EventRow& last, int limit);
    // How many events the filter chooses.
    qint64 EventCount(const EventFilter& filter);
    // The filter's events counted per command and kind.
    CommandCounters EventCounters(const EventFilter& filter);
    // Each event the filter chooses, in the sort's order, handed to `sink` one at a time without
    // holding them all; `sink` returns false to stop. False on a database failure.
    bool ForEachEvent(const EventFilter& filter, EventSort sort, Qt::SortOrder order,
                      const std::function<bool(const EventRow&)>& sink);

    // A unit's configuration snapshots, oldest first.
    QList<ConfigSnapshot> ConfigHistory(qint64 unitId);
    // A unit's clock readings, oldest first.
    QList<ClockReading> ClockHistory(qint64 unitId);
    // Actions, newest first; of one unit, or all when unitId is empty.
    QList<ActionRow> Actions(std::optional<qint64> unitId, int offset, int limit);

    // The SQL text and bound values of EventPage, for a person (or a benchmark) to run the same
    // query elsewhere.
    QString EventPageSql(const EventFilter& filter, EventSort sort, Qt::SortOrder order, qint64 offset,
                         int limit, QList<QVariant>* values);

    // --- for the archive's own writers -----------------------------------------------------------

    QSqlDatabase& Database();
    // Runs `work` in one transaction: committed when it returns true, rolled back otherwise or on
    // a database failure (then LastError() says why). Inside another InTransaction the work joins
    // the outer transaction, which then commits or rolls back everything.
    // On SQLite it begins with BEGIN IMMEDIATE: the write lock is taken (waiting the busy timeout)
    // before anything is read.
    bool InTransaction(const std::function<bool()>& work);
    void SetLastError(const QString& text);
    // The failure of a statement: its text and its result code.
    void SetLastError(const QSqlError& error);

private:
    struct Private;
    std::unique_ptr<Private> d;
};
