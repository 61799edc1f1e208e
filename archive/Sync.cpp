#include "archive/Sync.h"

#include <QHash>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QUuid>
#include <QVariant>

namespace {

// The server's own identity: the laptop's sync state is kept per server, so a laptop pointed at
// a new (empty) server pushes everything again.
const char* const kIdentityTable = "archive_identity";

// The rows of a batch of events in one INSERT: few enough that the statement stays small.
constexpr int kEventBatch = 2000;

// SQLSTATE insufficient_privilege (the role may not write the table) and read_only_sql_transaction
// (a standby, or a role whose transactions are read-only).
bool IsRefusal(const QSqlError& e) {
    return e.nativeErrorCode() == QLatin1String("42501") || e.nativeErrorCode() == QLatin1String("25006");
}

struct Failure {
    QString text;
    bool refused = false;
};

bool Run(QSqlQuery& q, Failure* f) {
    if (q.exec())
        return true;
    f->text = q.lastError().text().trimmed();
    f->refused = IsRefusal(q.lastError());
    return false;
}

bool Run(QSqlDatabase& db, const QString& sql, const QVariantList& values, Failure* f,
         QSqlQuery* out = nullptr) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    // A statement without values runs as it is: a server prepares no CREATE.
    if (values.isEmpty()) {
        if (!q.exec(sql)) {
            f->text = q.lastError().text().trimmed();
            f->refused = IsRefusal(q.lastError());
            return false;
        }
        if (out)
            *out = std::move(q);
        return true;
    }
    if (!q.prepare(sql)) {
        f->text = q.lastError().text().trimmed();
        f->refused = IsRefusal(q.lastError());
        return false;
    }
    for (const QVariant& v : values)
        q.addBindValue(v);
    if (!Run(q, f))
        return false;
    if (out)
        *out = std::move(q);
    return true;
}

QVariant NullInt() {
    return QVariant(QMetaType(QMetaType::LongLong));
}

// Column `i` of the current row as a value to bind elsewhere: NULL as a typed null, and an empty
// text or byte string as empty, never as NULL (drivers bind a null QString or QByteArray as NULL).
QVariant Value(const QSqlQuery& q, int i) {
    if (q.isNull(i))
        return NullInt();
    const QVariant v = q.value(i);
    if (v.typeId() == QMetaType::QByteArray && v.toByteArray().isNull())
        return QVariant(QByteArray(""));
    if (v.typeId() == QMetaType::QString && v.toString().isNull())
        return QVariant(QString(QLatin1String("")));
    return v;
}

// One transaction on `db`; rolled back when `work` fails.
bool Transaction(QSqlDatabase& db, Failure* f, const std::function<bool()>& work) {
    if (!db.transaction()) {
        f->text = db.lastError().text().trimmed();
        return false;
    }
    if (work() && db.commit())
        return true;
    if (f->text.isEmpty())
        f->text = db.lastError().text().trimmed();
    db.rollback();
    return false;
}

// What a visit looks like on one side, compared with what it looked like when it last went either
// way: its addresses and how many rows of each kind it holds: reads with the events each added
// (a read and its events are kept in one transaction, so the events need no count of their own),
// configuration snapshots, clock readings, and actions with a decided "applied".
struct Prints {
    QHash<QString, QString> byUuid;
    QHash<QString, qint64> idOfUuid;
};

bool VisitPrints(QSqlDatabase& db, const std::optional<qint64>& only, Prints* out, Failure* f) {
    const QString where = only ? QStringLiteral(" WHERE visit_id = %1").arg(*only) : QString();
    QHash<qint64, QStringList> parts;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    const QString visits =
        QStringLiteral(
            "SELECT id, uuid, COALESCE(local_address, -1), COALESCE(remote_address, -1) FROM visits") +
        (only ? QStringLiteral(" WHERE id = %1").arg(*only) : QString());
    if (!q.exec(visits)) {
        f->text = q.lastError().text().trimmed();
        return false;
    }
    QHash<qint64, QString> uuidOfId;
    while (q.next()) {
        const qint64 id = q.value(0).toLongLong();
        uuidOfId.insert(id, q.value(1).toString());
        parts[id] << q.value(2).toString() + ',' + q.value(3).toString();
    }
    const QStringList counts{
        QStringLiteral(
            "SELECT visit_id, COUNT(*), COALESCE(SUM(new_events), 0) FROM reads%1 GROUP BY visit_id"),
        QStringLiteral("SELECT visit_id, COUNT(*), 0 FROM config_snapshots%1 GROUP BY visit_id"),
        QStringLiteral("SELECT visit_id, COUNT(*), 0 FROM clock_readings%1 GROUP BY visit_id"),
        QStringLiteral("SELECT visit_id, COUNT(*), COUNT(applied) FROM actions%1 GROUP BY visit_id"),
    };
    for (qsizetype k = 0; k < counts.size(); ++k) {
        if (!q.exec(counts[k].arg(where))) {
            f->text = q.lastError().text().trimmed();
            return false;
        }
        while (q.next()) {
            QStringList& p = parts[q.value(0).toLongLong()];
            while (p.size() < k + 1)
                p << QStringLiteral("0,0");
            p << q.value(1).toString() + ',' + q.value(2).toString();
        }
    }
    for (auto it = uuidOfId.constBegin(); it != uuidOfId.constEnd(); ++it) {
        QStringList p = parts.value(it.key());
        while (p.size() < counts.size() + 1)
            p << QStringLiteral("0,0");
        out->byUuid.insert(it.value(), p.join('|'));
        out->idOfUuid.insert(it.value(), it.key());
    }
    return true;
}

// The units of `from` as units of `to` by the rule in Sync.h, created on `to` where missing.
bool MapUnits(QSqlDatabase& from, QSqlDatabase& to, QHash<qint64, qint64>* map, Failure* f) {
    return Transaction(to, f, [&] {
        QHash<int, qint64> byAddress;
        QHash<QString, qint64> byName;
        QHash<QString, qint64> byUuid;
        QSqlQuery t(to);
        if (!Run(to, QStringLiteral("SELECT id, uuid, name, address FROM units ORDER BY id"), {}, f, &t))
            return false;
        while (t.next()) {
            const qint64 id = t.value(0).toLongLong();
            byUuid.insert(t.value(1).toString(), id);
            if (!t.value(3).isNull())
                byAddress.insert(t.value(3).toInt(), id);
            else if (!t.value(2).toString().isEmpty() && !byName.contains(t.value(2).toString()))
                byName.insert(t.value(2).toString(), id);
        }
        QSqlQuery s(from);
        if (!Run(from,
                 QStringLiteral("SELECT id, uuid, name, address, side, command_count, created_utc FROM units "
                                "ORDER BY id"),
                 {}, f, &s))
            return false;
        while (s.next()) {
            const qint64 id = s.value(0).toLongLong();
            const QString uuid = s.value(1).toString();
            const QString name = s.value(2).toString();
            const QVariant nameValue = Value(s, 2);
            const QVariant address = s.value(3);
            std::optional<qint64> match;
            if (!address.isNull() && byAddress.contains(address.toInt()))
                match = byAddress.value(address.toInt());
            else if (address.isNull() && !name.isEmpty() && byName.contains(name))
                match = byName.value(name);
            else if (byUuid.contains(uuid))
                match = byUuid.value(uuid);
            if (!match) {
                QSqlQuery ins(to);
                if (!Run(to,
                         QStringLiteral(
                             "INSERT INTO units (uuid, name, address, side, command_count, created_utc, "
                             "event_count) VALUES (?, ?, ?, ?, ?, ?, 0) RETURNING id"),
                         {uuid, nameValue, address.isNull() ? QVariant(QMetaType(QMetaType::Int)) : address,
                          s.value(4).isNull() ? QVariant(QMetaType(QMetaType::Int)) : s.value(4),
                          s.value(5).isNull() ? QVariant(QMetaType(QMetaType::Int)) : s.value(5), s.value(6)},
                         f, &ins))
                    return false;
                if (!ins.next()) {
                    f->text = ins.lastError().text().trimmed();
                    return false;
                }
                match = ins.value(0).toLongLong();
                byUuid.insert(uuid, *match);
                if (!address.isNull())
                    byAddress.insert(address.toInt(), *match);
                else if (!name.isEmpty())
                    byName.insert(name, *match);
            }
            map->insert(id, *match);
        }
        return true;
    });
}

// A table of facts of a visit: its columns after visit_id, and those that make a row the same row.
struct FactTable {
    const char* name;
    QStringList columns;
    QStringList key;
};

const QList<FactTable>& FactTables() {
    static const QList<FactTable> tables{
        {"reads",
         {"unit_id", "side", "pc_utc", "utc_offset", "port", "source", "content_hash", "answer",
          "record_count", "new_events"},
         {"unit_id", "side", "pc_utc", "content_hash"}},
        {"config_snapshots",
         {"unit_id", "side", "pc_utc", "utc_offset", "port", "source", "address", "command_count", "codes",
          "bytes"},
         {"unit_id", "side", "pc_utc", "source"}},
        {"clock_readings",
         {"unit_id", "side", "pc_utc", "utc_offset", "port", "unit_clock", "difference_ms", "bytes"},
         {"unit_id", "side", "pc_utc"}},
        {"actions",
         {"unit_id", "side", "pc_utc", "utc_offset", "port", "kind", "sent", "shown_before",
          "before_snapshot_id", "applied", "decided_by_id"},
         {"side", "pc_utc", "kind"}},
    };
    return tables;
}

QString KeyOf(const QVariantList& values) {
    QStringList parts;
    for (const QVariant& v : values)
        parts << (v.isNull() ? QStringLiteral("\\N") : v.toString());
    return parts.join(QChar(0x1f));
}

struct Copied {
    qint64 newEvents = 0;
};

// Copies the visit `uuid` (row `fromVisit` of `from`) to `to`, in one transaction on `to`: the
// visit row, each fact `to` lacks, and the events it kept first that `to` lacks.
bool CopyVisit(QSqlDatabase& from, QSqlDatabase& to, qint64 fromVisit, const QHash<qint64, qint64>& units,
               Copied* copied, Failure* f) {
    return Transaction(to, f, [&] {
        QSqlQuery v(from);
        if (!Run(from,
                 QStringLiteral("SELECT uuid, started_utc, utc_offset, pc_user, pc_host, port, program, "
                                "local_address, remote_address FROM visits WHERE id = ?"),
                 {fromVisit}, f, &v))
            return false;
        if (!v.next()) {
            f->text = QStringLiteral("a visit went missing while syncing");
            return false;
        }
        const QVariant local = v.value(7).isNull() ? QVariant(QMetaType(QMetaType::Int)) : v.value(7);
        const QVariant remote = v.value(8).isNull() ? QVariant(QMetaType(QMetaType::Int)) : v.value(8);
        qint64 toVisit = 0;
        bool fresh = false; // the visit is new on `to`: nothing of it is there to look up
        QSqlQuery t(to);
        if (!Run(to, QStringLiteral("SELECT id FROM visits WHERE uuid = ?"), {v.value(0)}, f, &t))
            return false;
        if (t.next()) {
            toVisit = t.value(0).toLongLong();
            if (!Run(to,
                     QStringLiteral("UPDATE visits SET local_address = COALESCE(local_address, ?), "
                                    "remote_address = COALESCE(remote_address, ?) WHERE id = ?"),
                     {local, remote, toVisit}, f))
                return false;
        } else {
            QSqlQuery ins(to);
            if (!Run(to,
                     QStringLiteral(
                         "INSERT INTO visits (uuid, started_utc, utc_offset, pc_user, pc_host, port, "
                         "program, local_address, remote_address) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?) "
                         "RETURNING id"),
                     {Value(v, 0), Value(v, 1), Value(v, 2), Value(v, 3), Value(v, 4), Value(v, 5),
                      Value(v, 6), local, remote},
                     f, &ins))
                return false;
            if (!ins.next()) {
                f->text = ins.lastError().text().trimmed();
                return false;
            }
            toVisit = ins.value(0).toLongLong();
            fresh = true;
        }

        // Row ids of `from` to row ids of `to`, per table.
        QHash<QString, QHash<qint64, qint64>> ids;
        for (const FactTable& table : FactTables()) {
            const QString name = QLatin1String(table.name);
            QHash<QString, qint64> existing;
            QSqlQuery e(to);
            if (!fresh && !Run(to,
                               QStringLiteral("SELECT id, %1 FROM %2 WHERE visit_id = ?")
                                   .arg(table.key.join(", "), name),
                               {toVisit}, f, &e))
                return false;
            while (!fresh && e.next()) {
                QVariantList key;
                for (qsizetype k = 0; k < table.key.size(); ++k)
                    key << e.value(int(k) + 1);
                existing.insert(KeyOf(key), e.value(0).toLongLong());
            }
            QSqlQuery s(from);
            if (!Run(from,
                     QStringLiteral("SELECT id, %1 FROM %2 WHERE visit_id = ? ORDER BY id")
                         .arg(table.columns.join(", "), name),
                     {fromVisit}, f, &s))
                return false;
            QStringList marks;
            for (qsizetype c = 0; c <= table.columns.size(); ++c)
                marks << QStringLiteral("?");
            // Prepared once for the table's rows of this visit.
            QSqlQuery ins(to);
            if (!ins.prepare(QStringLiteral("INSERT INTO %1 (visit_id, %2) VALUES (%3) RETURNING id")
                                 .arg(name, table.columns.join(", "), marks.join(", ")))) {
                f->text = ins.lastError().text().trimmed();
                f->refused = IsRefusal(ins.lastError());
                return false;
            }
            QHash<qint64, qint64>& map = ids[name];
            while (s.next()) {
                QVariantList values;
                for (qsizetype c = 0; c < table.columns.size(); ++c) {
                    const QString& column = table.columns[c];
                    QVariant value = Value(s, int(c) + 1);
                    if (column == QLatin1String("unit_id") && !value.isNull()) {
                        if (!units.contains(value.toLongLong())) {
                            f->text = QStringLiteral("a unit was added while syncing: sync again");
                            return false;
                        }
                        value = units.value(value.toLongLong());
                    } else if (column == QLatin1String("before_snapshot_id") && !value.isNull()) {
                        value = ids[QStringLiteral("config_snapshots")].value(value.toLongLong());
                    } else if (column == QLatin1String("decided_by_id") && !value.isNull()) {
                        const QString kind =
                            s.value(int(table.columns.indexOf(QStringLiteral("kind"))) + 1).toString();
                        const char* by = kind == QLatin1String("config-write")  ? "config_snapshots"
                                         : kind == QLatin1String("clock-write") ? "clock_readings"
                                                                                : "reads";
                        value = ids[QLatin1String(by)].value(value.toLongLong());
                    }
                    if (value.isNull())
                        value = NullInt();
                    values << value;
                }
                QVariantList key;
                for (const QString& k : table.key)
                    key << values[table.columns.indexOf(k)];
                const qint64 fromId = s.value(0).toLongLong();
                auto found = existing.constFind(KeyOf(key));
                if (found != existing.constEnd()) {
                    map.insert(fromId, *found);
                    // A write's "applied" is decided by a read-back that may come after a sync.
                    if (name == QLatin1String("actions") && !values[9].isNull() &&
                        !Run(to,
                             QStringLiteral(
                                 "UPDATE actions SET applied = ?, decided_by_id = ? WHERE id = ? AND "
                                 "applied IS NULL"),
                             {values[9], values[10], *found}, f))
                        return false;
                    continue;
                }
                ins.bindValue(0, toVisit);
                for (qsizetype c = 0; c < values.size(); ++c)
                    ins.bindValue(int(c) + 1, values[c]);
                if (!Run(ins, f))
                    return false;
                if (!ins.next()) {
                    f->text = ins.lastError().text().trimmed();
                    return false;
                }
                const qint64 toId = ins.value(0).toLongLong();
                map.insert(fromId, toId);
                existing.insert(KeyOf(key), toId);
            }
        }

        // The events this visit kept first, in batches; an event `to` holds already stays as it is.
        const QHash<qint64, qint64>& reads = ids[QStringLiteral("reads")];
        QSet<qint64> touched;
        QSqlQuery ev(from);
        if (!Run(from,
                 QStringLiteral(
                     "SELECT unit_id, side, unit_time, code, first_seen_utc, first_seen_offset, read_id "
                     "FROM events WHERE visit_id = ? ORDER BY id"),
                 {fromVisit}, f, &ev))
            return false;
        QString rows;
        int inBatch = 0;
        auto flush = [&] {
            if (inBatch == 0)
                return true;
            QSqlQuery ins(to);
            const QString sql =
                QStringLiteral("INSERT INTO events (unit_id, side, unit_time, code, first_seen_utc, "
                               "first_seen_offset, visit_id, read_id) VALUES ") +
                rows + QStringLiteral(" ON CONFLICT (unit_id, unit_time, code) DO NOTHING");
            if (!ins.exec(sql)) {
                f->text = ins.lastError().text().trimmed();
                f->refused = IsRefusal(ins.lastError());
                return false;
            }
            copied->newEvents += qMax(0, ins.numRowsAffected());
            rows.clear();
            inBatch = 0;
            return true;
        };
        while (ev.next()) {
            const qint64 fromUnit = ev.value(0).toLongLong();
            if (!units.contains(fromUnit)) {
                f->text = QStringLiteral("a unit was added while syncing: sync again");
                return false;
            }
            const qint64 unit = units.value(fromUnit);
            touched.insert(unit);
            // Every value is a number read from a database: written into the statement as it is.
            if (inBatch)
                rows += ',';
            const qint64 row[8] = {unit,
                                   ev.value(1).toLongLong(),
                                   ev.value(2).toLongLong(),
                                   ev.value(3).toLongLong(),
                                   ev.value(4).toLongLong(),
                                   ev.value(5).toLongLong(),
                                   toVisit,
                                   reads.value(ev.value(6).toLongLong())};
            rows += '(';
            for (int c = 0; c < 8; ++c) {
                if (c)
                    rows += ',';
                rows += QString::number(row[c]);
            }
            rows += ')';
            if (++inBatch == kEventBatch && !flush())
                return false;
        }
        if (ev.lastError().isValid()) {
            f->text = ev.lastError().text().trimmed();
            return false;
        }
        if (!flush())
            return false;
        for (qint64 unit : touched)
            if (!Run(to,
                     QStringLiteral("UPDATE units SET event_count = (SELECT COUNT(*) FROM events e WHERE "
                                    "e.unit_id = ?) WHERE id = ?"),
                     {unit, unit}, f))
                return false;
        return true;
    });
}

bool EnsureStateTable(QSqlDatabase& local, Failure* f) {
    return Run(
        local,
        QStringLiteral("CREATE TABLE IF NOT EXISTS sync_state (server_uuid VARCHAR(36) NOT NULL, "
                       "visit_uuid VARCHAR(36) NOT NULL, local_print TEXT NOT NULL, server_print TEXT NOT "
                       "NULL, PRIMARY KEY (server_uuid, visit_uuid))"),
        {}, f);
}

struct State {
    QString local;
    QString server;
};

bool LoadState(QSqlDatabase& local, const QString& server, QHash<QString, State>* state, Failure* f) {
    QSqlQuery q(local);
    if (!Run(local,
             QStringLiteral(
                 "SELECT visit_uuid, local_print, server_print FROM sync_state WHERE server_uuid = ?"),
             {server}, f, &q))
        return false;
    while (q.next())
        state->insert(q.value(0).toString(), {q.value(1).toString(), q.value(2).toString()});
    return true;
}

bool SaveState(QSqlDatabase& local, const QString& server, const QString& visit, const State& s, Failure* f) {
    return Run(
        local,
        QStringLiteral("INSERT INTO sync_state (server_uuid, visit_uuid, local_print, server_print) VALUES "
                       "(?, ?, ?, ?) ON CONFLICT (server_uuid, visit_uuid) DO UPDATE SET local_print = "
                       "excluded.local_print, server_print = excluded.server_print"),
        {server, visit, s.local, s.server}, f);
}

bool ServerIdentity(QSqlDatabase& server, QString* uuid, Failure* f) {
    QSqlQuery q(server);
    if (!Run(server, QStringLiteral("SELECT uuid FROM %1").arg(QLatin1String(kIdentityTable)), {}, f, &q))
        return false;
    if (!q.next()) {
        f->text = QStringLiteral("the server's archive has no identity: run lmx207-logbook server init");
        return false;
    }
    *uuid = q.value(0).toString();
    return true;
}

bool MayWrite(QSqlDatabase& server, bool* may, QString* role, Failure* f) {
    QSqlQuery q(server);
    if (!Run(server,
             QStringLiteral("SELECT current_user, has_table_privilege('visits', 'INSERT') AND "
                            "has_table_privilege('units', "
                            "'INSERT') AND has_table_privilege('events', 'INSERT')"),
             {}, f, &q) ||
        !q.next())
        return false;
    *role = q.value(0).toString();
    *may = q.value(1).toBool();
    return true;
}

} // namespace

bool InitServerArchive(Archive& server, QString* why) {
    Failure f;
    QSqlDatabase& db = server.Database();
    const bool ok = Transaction(db, &f, [&] {
        QSqlQuery q(db);
        if (!Run(db,
                 QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (uuid VARCHAR(36) NOT NULL)")
                     .arg(QLatin1String(kIdentityTable)),
                 {}, &f) ||
            !Run(db, QStringLiteral("SELECT COUNT(*) FROM %1").arg(QLatin1String(kIdentityTable)), {}, &f,
                 &q) ||
            !q.next())
            return false;
        if (q.value(0).toInt() > 0)
            return true;
        return Run(db, QStringLiteral("INSERT INTO %1 (uuid) VALUES (?)").arg(QLatin1String(kIdentityTable)),
                   {QUuid::createUuid().toString(QUuid::WithoutBraces)}, &f);
    });
    if (!ok)
        *why = f.text;
    return ok;
}

SyncOutcome SyncArchives(Archive& localArchive, Archive& serverArchive, SyncReport* report, QString* why,
                         const std::function<void(const QString&)>& progress) {
    QSqlDatabase& local = localArchive.Database();
    QSqlDatabase& server = serverArchive.Database();
    auto say = [&](const QString& line) {
        if (progress)
            progress(line);
    };
    Failure f;
    auto fail = [&](const QString& what) {
        *why = what + QStringLiteral(": ") + f.text;
        return f.refused ? SyncOutcome::WritesRefused : SyncOutcome::Failed;
    };
    QString serverUuid;
    QHash<QString, State> state;
    if (!ServerIdentity(server, &serverUuid, &f))
        return fail(QStringLiteral("the server's archive cannot be read"));
    if (!EnsureStateTable(local, &f) || !LoadState(local, serverUuid, &state, &f))
        return fail(QStringLiteral("the local archive cannot be written"));

    // Pull: each visit that changed on the server since it last went either way.
    Prints serverPrints;
    if (!VisitPrints(server, std::nullopt, &serverPrints, &f))
        return fail(QStringLiteral("the server's archive cannot be read"));
    QStringList toPull;
    for (auto it = serverPrints.byUuid.constBegin(); it != serverPrints.byUuid.constEnd(); ++it)
        if (state.value(it.key()).server != it.value())
            toPull << it.key();
    say(QStringLiteral("%1 visit(s) to pull").arg(toPull.size()));
    if (!toPull.isEmpty()) {
        QHash<qint64, qint64> units;
        if (!MapUnits(server, local, &units, &f))
            return fail(QStringLiteral("the server's units cannot be kept here"));
        for (const QString& uuid : toPull) {
            Copied copied;
            if (!CopyVisit(server, local, serverPrints.idOfUuid.value(uuid), units, &copied, &f))
                return fail(QStringLiteral("visit %1 cannot be pulled").arg(uuid));
            Prints after;
            const qint64 localId = [&] {
                QSqlQuery q(local);
                Failure ignored;
                return Run(local, QStringLiteral("SELECT id FROM visits WHERE uuid = ?"), {uuid}, &ignored,
                           &q) &&
                               q.next()
                           ? q.value(0).toLongLong()
                           : qint64(0);
            }();
            if (!VisitPrints(local, localId, &after, &f) ||
                !SaveState(local, serverUuid, uuid,
                           {after.byUuid.value(uuid), serverPrints.byUuid.value(uuid)}, &f))
                return fail(QStringLiteral("the local archive cannot be written"));
            state.insert(uuid, {after.byUuid.value(uuid), serverPrints.byUuid.value(uuid)});
            ++report->visitsPulled;
            report->eventsPulled += copied.newEvents;
        }
    }

    // Push: each visit that changed here since it last went either way.
    Prints localPrints;
    if (!VisitPrints(local, std::nullopt, &localPrints, &f))
        return fail(QStringLiteral("the local archive cannot be read"));
    QStringList toPush;
    for (auto it = localPrints.byUuid.constBegin(); it != localPrints.byUuid.constEnd(); ++it)
        if (state.value(it.key()).local != it.value())
            toPush << it.key();
    // Oldest first, so that a cut push leaves the server with the older history complete.
    std::sort(toPush.begin(), toPush.end(), [&](const QString& a, const QString& b) {
        return localPrints.idOfUuid.value(a) < localPrints.idOfUuid.value(b);
    });
    say(QStringLiteral("%1 visit(s) to push").arg(toPush.size()));
    if (toPush.isEmpty())
        return SyncOutcome::Done;
    bool may = false;
    QString role;
    if (!MayWrite(server, &may, &role, &f))
        return fail(QStringLiteral("the server's permissions cannot be read"));
    if (!may) {
        report->visitsToPush = int(toPush.size());
        *why = QStringLiteral(
                   "the server refuses writes for this role (user \"%1\"): %2 visit(s) stay unpushed; "
                   "pulling works, pushing needs a role that may write")
                   .arg(role)
                   .arg(toPush.size());
        return SyncOutcome::WritesRefused;
    }
    QHash<qint64, qint64> units;
    if (!MapUnits(local, server, &units, &f))
        return fail(QStringLiteral("the units cannot be kept on the server"));
    for (const QString& uuid : toPush) {
        Copied copied;
        if (!CopyVisit(local, server, localPrints.idOfUuid.value(uuid), units, &copied, &f))
            return fail(QStringLiteral("visit %1 cannot be pushed").arg(uuid));
        Prints after;
        QSqlQuery q(server);
        if (!Run(server, QStringLiteral("SELECT id FROM visits WHERE uuid = ?"), {uuid}, &f, &q) ||
            !q.next() || !VisitPrints(server, q.value(0).toLongLong(), &after, &f))
            return fail(QStringLiteral("the server's archive cannot be read"));
        if (!SaveState(local, serverUuid, uuid, {localPrints.byUuid.value(uuid), after.byUuid.value(uuid)},
                       &f))
            return fail(QStringLiteral("the local archive cannot be written"));
        ++report->visitsPushed;
        report->eventsPushed += copied.newEvents;
    }
    return SyncOutcome::Done;
}
