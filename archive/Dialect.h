#pragma once

#include <QSqlDatabase>
#include <QString>

// The archive's schema, and the one place that knows the database is SQLite. Every other
// statement of the archive is portable SQL (row values, COALESCE, LIMIT/OFFSET, BIGINT, TEXT)
// that a PostgreSQL server (QPSQL) takes as it is; what SQLite alone understands is below, in
// Dialect.cpp under "SQLite-only", and a server would replace that part.

// The connect options of a connection: the busy timeout, and read-only for readers.
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

// The start of a statement that inserts a row unless one with the same key is there already
// ("INSERT OR IGNORE INTO" here; a server says ON CONFLICT DO NOTHING).
QString InsertIgnoringDuplicates();

// A page cache of `megabytes` for this connection, for a large import.
void UseLargeCache(QSqlDatabase& db, int megabytes);

// The id of the row the last INSERT on `db` made.
qint64 LastInsertId(QSqlDatabase& db, const class QSqlQuery& insert);
