#include "archive/Dialect.h"

#include "archive/Archive.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

// ==== SQLite-only ====================================================================================
// The pragmas, the connect options, the auto-numbered key column and the binary column type. A
// PostgreSQL server takes "BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY", "BYTEA", INSERT ...
// RETURNING id, and needs none of the pragmas.
namespace {

const char* const kIdColumn = "INTEGER PRIMARY KEY"; // SQLite: the row id, numbered by the database
const char* const kBlob = "BLOB";

bool SqliteSetUpForWriting(QSqlDatabase& db, QString* why) {
    QSqlQuery q(db);
    // A writer's page cache of 16 MB keeps the event indexes' hot pages in memory.
    for (const char* pragma :
         {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=NORMAL", "PRAGMA cache_size=-16000"}) {
        if (!q.exec(QString::fromLatin1(pragma))) {
            *why = q.lastError().text();
            return false;
        }
    }
    return true;
}

// The query planner's figures for the event indexes, as ANALYZE finds them on an archive of a
// million events of 500 units: without them SQLite takes the index of a filter column (side, a few
// codes) and sorts half the archive for a first page, where walking the sort's index and stopping
// after one page costs nothing. Written once with the schema, so that the plan is the same for a
// small archive and a large one.
bool SqliteWritePlannerFigures(QSqlDatabase& db, QString* why) {
    QSqlQuery q(db);
    for (const char* sql :
         {"ANALYZE events", "DELETE FROM sqlite_stat1 WHERE tbl = 'events'",
          "INSERT INTO sqlite_stat1 (tbl, idx, stat) VALUES ('events', 'events_identity', '1000000 2000 1 "
          "1'), "
          "('events', 'events_time', '1000000 2 1'), ('events', 'events_code', '1000000 25000'), "
          "('events', 'events_side', '1000000 500000'), ('events', 'events_visit', '1000000 250')",
          "ANALYZE sqlite_master"}) {
        if (!q.exec(QString::fromLatin1(sql))) {
            *why = q.lastError().text();
            return false;
        }
    }
    return true;
}

bool SqliteTableExists(QSqlDatabase& db, const QString& table, bool* exists, QString* why) {
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE type = 'table' AND name = ?"));
    q.addBindValue(table);
    if (!q.exec() || !q.next()) {
        *why = q.lastError().text();
        return false;
    }
    *exists = q.value(0).toInt() > 0;
    return true;
}

} // namespace

QString SqliteConnectOptions(bool readOnly) {
    return readOnly ? QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000;QSQLITE_OPEN_READONLY")
                    : QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000");
}

qint64 LastInsertId(QSqlDatabase&, const QSqlQuery& insert) {
    return insert.lastInsertId().toLongLong();
}

QString NotIndexed(const QString& column) {
    return '+' + column;
} // SQLite's unary plus

QString InsertIgnoringDuplicates() {
    return QStringLiteral("INSERT OR IGNORE INTO");
}

void UseLargeCache(QSqlDatabase& db, int megabytes) {
    QSqlQuery q(db);
    q.exec(QStringLiteral("PRAGMA cache_size=-%1").arg(megabytes * 1000));
}
// ==== end of SQLite-only =============================================================================

namespace {

// Version 1: visits, units, reads (answers and imported files as received), events,
// configuration snapshots, clock readings and actions.
QStringList SchemaVersion1() {
    const QString id = QString::fromLatin1(kIdColumn);
    const QString blob = QString::fromLatin1(kBlob);
    return {
        QStringLiteral(
            "CREATE TABLE visits (id %1, uuid VARCHAR(36) NOT NULL UNIQUE, started_utc BIGINT NOT NULL, "
            "utc_offset INTEGER NOT NULL, pc_user TEXT NOT NULL, pc_host TEXT NOT NULL, "
            "port TEXT NOT NULL, program TEXT NOT NULL, local_address INTEGER, remote_address INTEGER)")
            .arg(id),
        QStringLiteral("CREATE INDEX visits_started ON visits (started_utc)"),
        QStringLiteral("CREATE TABLE units (id %1, uuid VARCHAR(36) NOT NULL UNIQUE, name TEXT NOT NULL, "
                       "address INTEGER, side INTEGER, command_count INTEGER, created_utc BIGINT NOT NULL, "
                       "event_count BIGINT NOT NULL, home_visit_id BIGINT)")
            .arg(id),
        QStringLiteral("CREATE UNIQUE INDEX units_address ON units (address)"),
        QStringLiteral("CREATE INDEX units_name ON units (name)"),
        QStringLiteral("CREATE TABLE reads (id %1, visit_id BIGINT NOT NULL, unit_id BIGINT NOT NULL, "
                       "side INTEGER NOT NULL, pc_utc BIGINT NOT NULL, utc_offset INTEGER NOT NULL, "
                       "port TEXT NOT NULL, source TEXT NOT NULL, content_hash VARCHAR(64) NOT NULL, "
                       "answer %2 NOT NULL, record_count INTEGER NOT NULL, new_events INTEGER NOT NULL)")
            .arg(id, blob),
        QStringLiteral("CREATE INDEX reads_visit ON reads (visit_id)"),
        QStringLiteral("CREATE INDEX reads_unit_hash ON reads (unit_id, content_hash)"),
        QStringLiteral(
            "CREATE TABLE events (id %1, unit_id BIGINT NOT NULL, side INTEGER NOT NULL, "
            "unit_time BIGINT NOT NULL, code INTEGER NOT NULL, first_seen_utc BIGINT NOT NULL, "
            "first_seen_offset INTEGER NOT NULL, visit_id BIGINT NOT NULL, read_id BIGINT NOT NULL)")
            .arg(id),
        QStringLiteral("CREATE UNIQUE INDEX events_identity ON events (unit_id, unit_time, code)"),
        QStringLiteral("CREATE INDEX events_time ON events (unit_time, code)"),
        // Each of these ends in the row id, the order the archive first kept the events: new
        // events go to the end of their group, so the indexes cost little to keep.
        QStringLiteral("CREATE INDEX events_code ON events (code)"),
        QStringLiteral("CREATE INDEX events_side ON events (side)"),
        QStringLiteral("CREATE INDEX events_visit ON events (visit_id)"),
        QStringLiteral(
            "CREATE TABLE config_snapshots (id %1, visit_id BIGINT NOT NULL, unit_id BIGINT NOT NULL, "
            "side INTEGER NOT NULL, pc_utc BIGINT NOT NULL, utc_offset INTEGER NOT NULL, "
            "port TEXT NOT NULL, source TEXT NOT NULL, address INTEGER NOT NULL, "
            "command_count INTEGER NOT NULL, codes TEXT NOT NULL, bytes %2 NOT NULL)")
            .arg(id, blob),
        QStringLiteral("CREATE INDEX config_unit ON config_snapshots (unit_id, pc_utc)"),
        QStringLiteral("CREATE INDEX config_visit ON config_snapshots (visit_id)"),
        QStringLiteral(
            "CREATE TABLE clock_readings (id %1, visit_id BIGINT NOT NULL, unit_id BIGINT NOT NULL, "
            "side INTEGER NOT NULL, pc_utc BIGINT NOT NULL, utc_offset INTEGER NOT NULL, "
            "port TEXT NOT NULL, unit_clock TEXT NOT NULL, difference_ms BIGINT, bytes %2 NOT NULL)")
            .arg(id, blob),
        QStringLiteral("CREATE INDEX clock_unit ON clock_readings (unit_id, pc_utc)"),
        QStringLiteral("CREATE INDEX clock_visit ON clock_readings (visit_id)"),
        QStringLiteral(
            "CREATE TABLE actions (id %1, visit_id BIGINT NOT NULL, unit_id BIGINT, "
            "side INTEGER NOT NULL, pc_utc BIGINT NOT NULL, utc_offset INTEGER NOT NULL, "
            "port TEXT NOT NULL, kind TEXT NOT NULL, sent %2 NOT NULL, shown_before TEXT NOT NULL, "
            "before_snapshot_id BIGINT, applied INTEGER, decided_by_id BIGINT)")
            .arg(id, blob),
        QStringLiteral("CREATE INDEX actions_unit ON actions (unit_id, pc_utc)"),
        QStringLiteral("CREATE INDEX actions_visit ON actions (visit_id)"),
    };
}

// The statements that take a database of version n - 1 to version n; index 0 is unused.
QList<QStringList> Upgrades() {
    return {QStringList(), SchemaVersion1()};
}

bool ReadVersion(QSqlDatabase& db, int* version, QString* why) {
    bool exists = false;
    if (!SqliteTableExists(db, QStringLiteral("schema_version"), &exists, why))
        return false;
    if (!exists) {
        *version = 0;
        return true;
    }
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("SELECT version FROM schema_version")) || !q.next()) {
        *why = q.lastError().isValid() ? q.lastError().text()
                                       : QStringLiteral("not an archive: no schema version");
        return false;
    }
    *version = q.value(0).toInt();
    return true;
}

} // namespace

bool PrepareSchema(QSqlDatabase& db, QString* why) {
    if (!SqliteSetUpForWriting(db, why))
        return false;
    int version = 0;
    if (!ReadVersion(db, &version, why))
        return false;
    if (version > kArchiveSchemaVersion) {
        *why = QStringLiteral("the archive was written by a newer program (schema %1)").arg(version);
        return false;
    }
    if (version == kArchiveSchemaVersion)
        return true;
    if (version == 0) {
        bool visits = false;
        if (!SqliteTableExists(db, QStringLiteral("visits"), &visits, why))
            return false;
        if (visits) {
            *why = QStringLiteral("not an archive: tables without a schema version");
            return false;
        }
    }
    if (!db.transaction()) {
        *why = db.lastError().text();
        return false;
    }
    QSqlQuery q(db);
    const QList<QStringList> upgrades = Upgrades();
    if (version == 0 && !q.exec(QStringLiteral("CREATE TABLE schema_version (version INTEGER NOT NULL)"))) {
        *why = q.lastError().text();
        db.rollback();
        return false;
    }
    for (int v = version + 1; v <= kArchiveSchemaVersion; ++v) {
        for (const QString& sql : upgrades[v]) {
            if (!q.exec(sql)) {
                *why = q.lastError().text();
                db.rollback();
                return false;
            }
        }
    }
    if (version == 0 && !SqliteWritePlannerFigures(db, why)) {
        db.rollback();
        return false;
    }
    const bool stamped =
        version == 0
            ? q.exec(QStringLiteral("INSERT INTO schema_version (version) VALUES (%1)")
                         .arg(kArchiveSchemaVersion))
            : q.exec(QStringLiteral("UPDATE schema_version SET version = %1").arg(kArchiveSchemaVersion));
    if (!stamped || !db.commit()) {
        *why = stamped ? db.lastError().text() : q.lastError().text();
        db.rollback();
        return false;
    }
    return true;
}

bool CheckSchema(QSqlDatabase& db, QString* why) {
    int version = 0;
    if (!ReadVersion(db, &version, why))
        return false;
    if (version == 0) {
        *why = QStringLiteral("not an archive: no schema version");
        return false;
    }
    if (version > kArchiveSchemaVersion) {
        *why = QStringLiteral("the archive was written by a newer program (schema %1)").arg(version);
        return false;
    }
    return true;
}
