#pragma once

#include <QSqlDatabase>
#include <QString>

// The archive's schema, and the one place that knows which database holds it: the laptop's
// SQLite file (QSQLITE) or the team's PostgreSQL server (QPSQL). Every other statement of the
// archive is SQL both take as it is (row values, COALESCE, CASE, length(), LIMIT/OFFSET, BIGINT,
// TEXT, INSERT ... RETURNING id, INSERT ... ON CONFLICT ... DO NOTHING/DO UPDATE); what differs is
// in Dialect.cpp under "SQLite-only" and "PostgreSQL-only".

// Which database holds an archive: chosen when the archive opens, from its location (a file
// path: SQLite; a server location: PostgreSQL), and told by the connection after.
enum class Dialect { Sqlite, Postgres };
// The Qt SQL driver of a dialect: "QSQLITE" or "QPSQL".
QString DriverOf(Dialect dialect);
// The dialect of a connection made with DriverOf(): the one place that reads a driver's name.
Dialect DialectOf(const QSqlDatabase& db);

// The connect options of a connection to a SQLite file: the busy timeout, and read-only for
// readers. (A server's come from its connection string: see OpenServerConnection.)
QString SqliteConnectOptions(bool readOnly);

// Creates the schema in an empty database or upgrades an older one to kArchiveSchemaVersion, and
// sets the connection up for writing (write-ahead log). False with *why when the database is
// damaged, foreign or newer than this program.
bool PrepareSchema(QSqlDatabase& db, QString* why);
// Checks that a database opened for reading holds an archive this program can read.
bool CheckSchema(QSqlDatabase& db, QString* why);

// `column` as a value the query planner does not take an index for: a grouping over a narrowed
// choice (one side, a unit, a date range) then sorts the rows chosen instead of walking a whole
// index in its order.
QString NotIndexed(const QString& column);

// The start of a statement that inserts a row unless one with the same key is there already:
// "INSERT OR IGNORE INTO", for the laptop's own writers (the service program's hand-over and
// import), which write SQLite alone. The sync, which writes both, says ON CONFLICT ... DO NOTHING.
QString InsertIgnoringDuplicates();

// A page cache of `megabytes` for this connection, for a large import (SQLite; a server keeps
// its own).
void UseLargeCache(QSqlDatabase& db, int megabytes);

// The id of the row `insert` (an INSERT without RETURNING, on a SQLite connection) made: the
// driver's lastInsertId(). Statements that also run on a server say RETURNING id instead.
qint64 LastInsertId(QSqlDatabase& db, const class QSqlQuery& insert);
