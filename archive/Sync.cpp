#include "archive/Sync.h"

#include "config/ConfigFormat.h"
#include "records/RecordFormat.h"

#include <QHash>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>
#include <QSysInfo>
#include <QUuid>
#include <QVariant>

#include <limits>

namespace {

// The server's own identity: the laptop's sync state is kept per server, so a laptop pointed at
// a new (empty) server pushes everything again.
const char* const kIdentityTable = "archive_identity";

// The events of a visit go in statements of kEventBatch rows (few enough that a statement stays
// small), kEventsPerTransaction to a transaction: the laptop's archive is held by a sync for a
// fraction of a second at a time, and a dialog's fact waits no longer than that.
constexpr int kEventBatch = 2000;
constexpr int kEventsPerTransaction = 20000;

// ---- What a row may hold ----------------------------------------------------------------------
// A server is written by every laptop's role (and read by a program that cannot tell a crafted row
// from a real one), so each row a sync takes is checked against what the tool itself can have
// written. The bounds come from the formats of the facts:
// PC times: UTC milliseconds up to the last one of year 9999.
constexpr qint64 kLatestMs = 253'402'300'799'999;
// A zone's offset from UTC in seconds: real zones lie within -12 h to +14 h; a day either way.
constexpr qint64 kWidestOffset = 86'400;
// A login name, host name, device path or imported file's path (PATH_MAX, 4096), or a line of
// text the dialog showed: far above any real one, far below what could hurt.
constexpr qint64 kLongestText = 4096;
// A unit's address: sent on the wire as 16 bits.
constexpr qint64 kHighestAddress = 0xFFFF;
// A read keeps a record answer (2 + 8 * 255 bytes: the count is one byte) or an imported record
// file (at most 256 KiB, the largest file the import takes).
constexpr qint64 kLargestRecordAnswer = 2 + kEventRecordLength * 255;
constexpr qint64 kLargestRead = 256 * 1024;
static_assert(kLargestRecordAnswer <= kLargestRead, "a record answer is a read the pull must take");
// A read of a record file cannot hold more records than it has 8-byte groups.
constexpr qint64 kMostRecordsOfARead = kLargestRead / kEventRecordLength;
// A configuration snapshot keeps a configuration answer (9 bytes) or the block a write sent (7),
// a clock reading a date-and-time answer (7), an action the bytes sent: at most a configuration
// block (a clock write sends its two groups, a clear and a password change nothing kept).
constexpr qint64 kClockAnswerLength = 7;
// The 24 delay codes as "c,c,...", each -1 to 3.
constexpr qint64 kLongestCodes = 24 * 3;
// "2026-12-07 09:05:07" and a little room.
constexpr qint64 kLongestClockText = 32;
// UnitTimeKey's 55 bits.
constexpr qint64 kLargestUnitTime = (qint64(1) << 55) - 1;
// All the bytes one visit keeps (answers, files, blocks): 256 imported record files of the
// largest size; a day at a link reads a few hundred kilobytes.
constexpr qint64 kLargestVisit = 64 * 1024 * 1024;
// Rows of each kind a visit holds: each read keeps at least 2 bytes, each other fact at least
// one row of the visit's bytes or none (a clear); a visit's events came from its reads' records.
constexpr qint64 kMostFactsOfAVisit = kLargestVisit / 2;
constexpr qint64 kMostEventsOfAVisit = kLargestVisit / kEventRecordLength;

enum class Type { Integer, Text, Bytes };

// A column of a table as a sync reads it: an integer in [least, most], or a text (characters) or
// byte string (bytes) of a length in [least, most]; `choices` the only texts it may hold.
struct Column {
    const char* name;
    Type type;
    bool nullable;
    qint64 least;
    qint64 most;
    QStringList choices = {};
};

Column Integer(const char* name, qint64 least, qint64 most, bool nullable = false) {
    return {name, Type::Integer, nullable, least, most};
}
Column Text(const char* name, qint64 least, qint64 most, QStringList choices = {}) {
    return {name, Type::Text, false, least, most, std::move(choices)};
}
Column Bytes(const char* name, qint64 least, qint64 most) {
    return {name, Type::Bytes, false, least, most};
}
Column Side() {
    return Integer("side", 0, 1);
}
Column PcUtc(const char* name = "pc_utc") {
    return Integer(name, 0, kLatestMs);
}
Column Offset(const char* name = "utc_offset") {
    return Integer(name, -kWidestOffset, kWidestOffset);
}
Column Port() {
    return Text("port", 0, kLongestText);
}
Column Address(const char* name) {
    return Integer(name, 0, kHighestAddress, true);
}
// A reference to another row (a unit, or a fact of the same visit): resolved by the copy.
Column Reference(const char* name, bool nullable) {
    return Integer(name, 1, std::numeric_limits<qint64>::max(), nullable);
}

const QList<Column>& VisitColumns() {
    static const QList<Column> columns{
        Text("uuid", 36, 36),
        PcUtc("started_utc"),
        Offset(),
        Text("pc_user", 0, kLongestText),
        Text("pc_host", 0, kLongestText),
        Port(),
        Text("program", 1, 64),
        Address("local_address"),
        Address("remote_address"),
    };
    return columns;
}

const QList<Column>& UnitColumns() {
    static const QList<Column> columns{
        Text("uuid", 36, 36),        Text("name", 0, kLongestText),        Address("address"),
        Integer("side", 0, 1, true), Integer("command_count", 4, 8, true), PcUtc("created_utc"),
    };
    return columns;
}

// A table of facts of a visit: its columns after visit_id, and those that make a row the same row.
struct FactTable {
    const char* name;
    QList<Column> columns;
    QStringList key;
};

const QList<FactTable>& FactTables() {
    static const QList<FactTable> tables{
        {"reads",
         {Reference("unit_id", false), Side(), PcUtc(), Offset(), Port(),
          Text("source", 1, 6, {"unit", "import"}), Text("content_hash", 64, 64),
          Bytes("answer", 2, kLargestRead), Integer("record_count", 0, kMostRecordsOfARead),
          Integer("new_events", 0, kMostRecordsOfARead)},
         {"unit_id", "side", "pc_utc", "content_hash"}},
        {"config_snapshots",
         {Reference("unit_id", false), Side(), PcUtc(), Offset(), Port(),
          Text("source", 1, 5, {"read", "write"}), Integer("address", 0, kHighestAddress),
          Integer("command_count", 4, 8), Text("codes", 0, kLongestCodes),
          Bytes("bytes", kConfigBlockLength, kConfigAnswerLength)},
         {"unit_id", "side", "pc_utc", "source"}},
        {"clock_readings",
         {Reference("unit_id", false), Side(), PcUtc(), Offset(), Port(),
          Text("unit_clock", 0, kLongestClockText), Integer("difference_ms", -kLatestMs, kLatestMs, true),
          Bytes("bytes", kClockAnswerLength, kClockAnswerLength)},
         {"unit_id", "side", "pc_utc"}},
        {"actions",
         {Reference("unit_id", true), Side(), PcUtc(), Offset(), Port(),
          Text("kind", 1, 15, {"config-write", "clock-write", "record-clear", "password-change"}),
          Bytes("sent", 0, kConfigBlockLength), Text("shown_before", 0, kLongestText),
          Reference("before_snapshot_id", true), Integer("applied", 0, 1, true),
          Reference("decided_by_id", true)},
         {"side", "pc_utc", "kind"}},
    };
    return tables;
}

const QList<Column>& EventColumns() {
    static const QList<Column> columns{
        Reference("unit_id", false),
        Side(),
        Integer("unit_time", 0, kLargestUnitTime),
        Integer("code", 0, 255),
        PcUtc("first_seen_utc"),
        Offset("first_seen_offset"),
        Reference("read_id", false),
    };
    return columns;
}

// The select list of `columns`: a text or byte string only when its length is within bounds,
// measured by the database before anything is sent ("<name>_length" beside it), so that a field
// of hundreds of megabytes is refused without being fetched.
QString SelectList(const QList<Column>& columns) {
    QStringList parts{QStringLiteral("id")};
    for (const Column& c : columns) {
        const QString name = QLatin1String(c.name);
        if (c.type == Type::Integer)
            parts << name;
        else
            parts << QStringLiteral("CASE WHEN length(%1) <= %2 THEN %1 END AS %1, length(%1) AS %1_length")
                         .arg(name)
                         .arg(c.most);
    }
    return parts.join(QStringLiteral(", "));
}

QVariant NullInt() {
    return QVariant(QMetaType(QMetaType::LongLong));
}

// The value of `c` in `row` as a value to bind elsewhere, or what is wrong with it. NULL is a
// typed null; an empty text or byte string stays empty, never NULL.
std::optional<QVariant> Checked(const Column& c, const QSqlRecord& row, QString* fault) {
    const QString name = QLatin1String(c.name);
    const QVariant v = row.value(name);
    if (c.type == Type::Integer) {
        if (v.isNull()) {
            if (c.nullable)
                return NullInt();
            *fault = QStringLiteral("%1 is empty").arg(name);
            return std::nullopt;
        }
        bool ok = false;
        const qint64 n = v.toLongLong(&ok);
        if (!ok || n < c.least || n > c.most) {
            *fault = QStringLiteral("%1 = %2 is outside %3 to %4")
                         .arg(name, v.toString().left(40))
                         .arg(c.least)
                         .arg(c.most);
            return std::nullopt;
        }
        return QVariant(n);
    }
    const QVariant length = row.value(name + QLatin1String("_length"));
    if (length.isNull()) {
        *fault = QStringLiteral("%1 is empty").arg(name);
        return std::nullopt;
    }
    const qint64 size = length.toLongLong();
    if (v.isNull() || size > c.most) {
        *fault = QStringLiteral("%1 holds %2 %3, more than the %4 it can hold")
                     .arg(name)
                     .arg(size)
                     .arg(c.type == Type::Text ? QLatin1String("characters") : QLatin1String("bytes"))
                     .arg(c.most);
        return std::nullopt;
    }
    if (c.type == Type::Bytes) {
        const QByteArray bytes = v.toByteArray();
        if (bytes.size() < c.least || bytes.size() > c.most) {
            *fault = QStringLiteral("%1 holds %2 bytes, not %3 to %4")
                         .arg(name)
                         .arg(bytes.size())
                         .arg(c.least)
                         .arg(c.most);
            return std::nullopt;
        }
        return QVariant(bytes.isNull() ? QByteArray("") : bytes);
    }
    const QString text = v.toString();
    const qsizetype characters = text.toUcs4().size();
    if (characters < c.least || characters > c.most || (!c.choices.isEmpty() && !c.choices.contains(text))) {
        *fault = c.choices.isEmpty()
                     ? QStringLiteral("%1 holds %2 characters, not %3 to %4")
                           .arg(name)
                           .arg(characters)
                           .arg(c.least)
                           .arg(c.most)
                     : QStringLiteral("%1 is none of %2").arg(name, c.choices.join(QStringLiteral(", ")));
        return std::nullopt;
    }
    return QVariant(text.isNull() ? QString(QLatin1String("")) : text);
}

// A row's values by column name, checked; std::nullopt with *fault naming the first bad column.
using Row = QHash<QString, QVariant>;
std::optional<Row> CheckedRow(const QList<Column>& columns, const QSqlRecord& record, QString* fault) {
    Row row;
    for (const Column& c : columns) {
        const std::optional<QVariant> v = Checked(c, record, fault);
        if (!v)
            return std::nullopt;
        row.insert(QLatin1String(c.name), *v);
    }
    return row;
}

// What the formats say beyond each column's bounds.
QString RowRule(const QString& table, const Row& row) {
    const auto uuidOk = [&] {
        return !QUuid::fromString(row.value(QStringLiteral("uuid")).toString()).isNull();
    };
    if (table == QLatin1String("visits") && !uuidOk())
        return QStringLiteral("its identifier is not a UUID");
    if (table == QLatin1String("units")) {
        if (!uuidOk())
            return QStringLiteral("its identifier is not a UUID");
        const QVariant count = row.value(QStringLiteral("command_count"));
        if (!count.isNull() && count.toInt() != 4 && count.toInt() != 8)
            return QStringLiteral("command_count = %1 is neither 4 nor 8").arg(count.toInt());
    }
    if (table == QLatin1String("reads")) {
        const qint64 records = row.value(QStringLiteral("record_count")).toLongLong();
        if (row.value(QStringLiteral("new_events")).toLongLong() > records)
            return QStringLiteral("new_events is more than record_count");
        // A unit's answer: its count byte, then that many records.
        if (row.value(QStringLiteral("source")).toString() == QLatin1String("unit") &&
            (records > 255 ||
             row.value(QStringLiteral("answer")).toByteArray().size() != RecordAnswerLength(int(records))))
            return QStringLiteral("a record answer of %1 bytes does not carry %2 records")
                .arg(row.value(QStringLiteral("answer")).toByteArray().size())
                .arg(records);
    }
    if (table == QLatin1String("config_snapshots")) {
        const bool read = row.value(QStringLiteral("source")).toString() == QLatin1String("read");
        if (row.value(QStringLiteral("bytes")).toByteArray().size() !=
            (read ? kConfigAnswerLength : kConfigBlockLength))
            return QStringLiteral("a configuration %1 is not %2 bytes")
                .arg(read ? QLatin1String("answer") : QLatin1String("block"))
                .arg(read ? kConfigAnswerLength : kConfigBlockLength);
        const int count = row.value(QStringLiteral("command_count")).toInt();
        if (count != 4 && count != 8)
            return QStringLiteral("command_count = %1 is neither 4 nor 8").arg(count);
    }
    return {};
}

// ---- Statements -------------------------------------------------------------------------------

// SQLSTATE insufficient_privilege (the role may not write the table) and read_only_sql_transaction
// (a standby, or a role whose transactions are read-only).
bool IsRefusal(const QSqlError& e) {
    return e.nativeErrorCode() == QLatin1String("42501") || e.nativeErrorCode() == QLatin1String("25006");
}

struct Failure {
    QString text;
    bool refused = false; // the role may not write
    bool badRow = false;  // a row of the visit is not one the tool can have written: the visit is refused
};

bool Failed(const QSqlError& e, Failure* f) {
    f->text = e.text().trimmed();
    f->refused = IsRefusal(e);
    return false;
}

bool BadRow(Failure* f, const QString& text) {
    f->text = text;
    f->badRow = true;
    return false;
}

// Runs `sql` with `values` bound in order (a statement without values runs as it is: a server
// prepares no CREATE); the result, forward only, in *out when given.
bool Run(QSqlDatabase& db, const QString& sql, const QVariantList& values, Failure* f,
         QSqlQuery* out = nullptr) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (values.isEmpty()) {
        if (!q.exec(sql))
            return Failed(q.lastError(), f);
    } else {
        if (!q.prepare(sql))
            return Failed(q.lastError(), f);
        for (const QVariant& v : values)
            q.addBindValue(v);
        if (!q.exec())
            return Failed(q.lastError(), f);
    }
    if (out)
        *out = std::move(q);
    return true;
}

// The first column of the first row of `sql`.
std::optional<qint64> Scalar(QSqlDatabase& db, const QString& sql, const QVariantList& values, Failure* f) {
    QSqlQuery q(db);
    if (!Run(db, sql, values, f, &q))
        return std::nullopt;
    if (!q.next()) {
        Failed(q.lastError(), f);
        return std::nullopt;
    }
    return q.value(0).toLongLong();
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

// The rows of `sql` (which ends in "id > ? ORDER BY id LIMIT n", after `values`), page by page,
// each row to `row` until it says stop: a visit's rows never all in memory at once.
bool ForEachPage(QSqlDatabase& db, const QString& sql, const QVariantList& values, Failure* f,
                 const std::function<bool(const QSqlRecord&)>& row) {
    qint64 after = 0;
    for (;;) {
        QSqlQuery q(db);
        if (!Run(db, sql, QVariantList(values) << after, f, &q))
            return false;
        bool any = false;
        while (q.next()) {
            any = true;
            const QSqlRecord record = q.record();
            const qint64 id = record.value(QStringLiteral("id")).toLongLong();
            if (id <= after)
                return BadRow(f, QStringLiteral("the rows come back out of order"));
            after = id;
            if (!row(record))
                return false;
        }
        if (q.lastError().isValid())
            return Failed(q.lastError(), f);
        if (!any)
            return true;
    }
}

constexpr int kPage = 500;

// ---- What each side holds ---------------------------------------------------------------------

// What a visit looks like on one side, compared with what it looked like when it last went either
// way: its addresses and how many rows of each kind it holds: reads with the events each added
// (a read and its events are kept together, so the events need no count of their own),
// configuration snapshots, clock readings, and actions with a decided "applied".
struct Prints {
    QHash<QString, QString> byUuid;
    QHash<QString, qint64> idOfUuid;
};

bool VisitPrints(QSqlDatabase& db, const std::optional<qint64>& only, Prints* out, Failure* f) {
    const QString where = only ? QStringLiteral(" WHERE visit_id = %1").arg(*only) : QString();
    QHash<qint64, QStringList> parts;
    QSqlQuery q(db);
    // An identifier longer than a UUID is not fetched: the visit shows as one without.
    if (!Run(db,
             QStringLiteral(
                 "SELECT id, CASE WHEN length(uuid) <= 36 THEN uuid END, COALESCE(local_address, -1), "
                 "COALESCE(remote_address, -1) FROM visits") +
                 (only ? QStringLiteral(" WHERE id = %1").arg(*only) : QString()),
             {}, f, &q))
        return false;
    QHash<qint64, QString> uuidOfId;
    while (q.next()) {
        const qint64 id = q.value(0).toLongLong();
        const QString uuid = q.value(1).isNull() ? QStringLiteral("#%1").arg(id) : q.value(1).toString();
        uuidOfId.insert(id, uuid);
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
        if (!q.exec(counts[k].arg(where)))
            return Failed(q.lastError(), f);
        while (q.next()) {
            const qint64 id = q.value(0).toLongLong();
            if (!uuidOfId.contains(id))
                continue; // facts of no visit: nothing a sync copies
            QStringList& p = parts[id];
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

// The units of `from` as units of `to` by the rule in Sync.h, created on `to` where missing. A
// unit row that fails its checks is left out and its fault kept in *refused: the visits that
// refer to it are refused.
bool MapUnits(QSqlDatabase& from, QSqlDatabase& to, QHash<qint64, qint64>* map,
              QHash<qint64, QString>* refused, Failure* f) {
    return Transaction(to, f, [&] {
        QHash<int, qint64> byAddress;
        QHash<QString, qint64> byName;
        QHash<QString, qint64> byUuid;
        QSqlQuery t(to);
        // The server's texts no longer than a unit's can be (a longer one matches nothing).
        if (!Run(to,
                 QStringLiteral(
                     "SELECT id, CASE WHEN length(uuid) <= 36 THEN uuid END, CASE WHEN length(name) <= "
                     "%1 THEN name END, address FROM units ORDER BY id")
                     .arg(kLongestText),
                 {}, f, &t))
            return false;
        while (t.next()) {
            const qint64 id = t.value(0).toLongLong();
            byUuid.insert(t.value(1).toString(), id);
            if (!t.value(3).isNull())
                byAddress.insert(t.value(3).toInt(), id);
            else if (!t.value(2).toString().isEmpty() && !byName.contains(t.value(2).toString()))
                byName.insert(t.value(2).toString(), id);
        }
        return ForEachPage(
            from,
            QStringLiteral("SELECT %1 FROM units WHERE id > ? ORDER BY id LIMIT %2")
                .arg(SelectList(UnitColumns()))
                .arg(kPage),
            {}, f, [&](const QSqlRecord& record) {
                const qint64 id = record.value(QStringLiteral("id")).toLongLong();
                QString fault;
                std::optional<Row> unit = CheckedRow(UnitColumns(), record, &fault);
                if (unit && !(fault = RowRule(QStringLiteral("units"), *unit)).isEmpty())
                    unit.reset();
                if (!unit) {
                    refused->insert(id, fault);
                    return true;
                }
                const QString uuid = unit->value(QStringLiteral("uuid")).toString();
                const QString name = unit->value(QStringLiteral("name")).toString();
                const QVariant address = unit->value(QStringLiteral("address"));
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
                                 "INSERT INTO units (uuid, name, address, side, command_count, "
                                 "created_utc, event_count) VALUES (?, ?, ?, ?, ?, ?, 0) RETURNING id"),
                             {uuid, name, address, unit->value(QStringLiteral("side")),
                              unit->value(QStringLiteral("command_count")),
                              unit->value(QStringLiteral("created_utc"))},
                             f, &ins))
                        return false;
                    if (!ins.next())
                        return Failed(ins.lastError(), f);
                    match = ins.value(0).toLongLong();
                    byUuid.insert(uuid, *match);
                    if (!address.isNull())
                        byAddress.insert(address.toInt(), *match);
                    else if (!name.isEmpty())
                        byName.insert(name, *match);
                }
                map->insert(id, *match);
                return true;
            });
    });
}

// ---- One visit --------------------------------------------------------------------------------

// The local table of visits a pull brought: a visit that is on the laptop and not in it was made
// here, and no pull changes it.
const char* const kPulledTable = "sync_pulled";

// A visit on its way from `from` to `to`.
struct VisitCopy {
    QSqlDatabase& from;
    QSqlDatabase& to;
    qint64 fromVisit;
    const QHash<qint64, qint64>& units;
    const QHash<qint64, QString>& refusedUnits;
    bool pulling; // `from` is the server: every row is checked before any of the visit is kept
    VisitCopy(QSqlDatabase& fromDb, QSqlDatabase& toDb, qint64 visit, const QHash<qint64, qint64>& unitMap,
              const QHash<qint64, QString>& refused, bool pull)
        : from(fromDb), to(toDb), fromVisit(visit), units(unitMap), refusedUnits(refused), pulling(pull) {}
    qint64 toVisit = 0;
    bool fresh = false;                        // new on `to`: nothing of it there to look up
    QHash<QString, QHash<qint64, qint64>> ids; // per table, row ids on `from` to row ids on `to`
    QSet<qint64> touchedUnits;                 // units on `to` whose events grew
    qint64 newEvents = 0;
};

// The unit on `to` of the unit id `value` on `from` (a typed null for none).
std::optional<QVariant> UnitOn(const VisitCopy& c, const QVariant& value, Failure* f) {
    if (value.isNull())
        return value;
    const qint64 id = value.toLongLong();
    if (c.units.contains(id))
        return QVariant(c.units.value(id));
    if (c.refusedUnits.contains(id))
        BadRow(f, QStringLiteral("its unit #%1 is refused: %2").arg(id).arg(c.refusedUnits.value(id)));
    else
        BadRow(f, c.pulling ? QStringLiteral("it refers to unit #%1, which the server does not hold").arg(id)
                            : QStringLiteral("a unit was added while syncing: sync again"));
    return std::nullopt;
}

// The row on `to` of a fact of this visit in `table` on `from` (a typed null for none).
std::optional<QVariant> FactOn(const VisitCopy& c, const QString& table, const QVariant& value, Failure* f) {
    if (value.isNull())
        return value;
    const auto ids = c.ids.constFind(table);
    if (ids == c.ids.constEnd() || !ids->contains(value.toLongLong())) {
        BadRow(f, QStringLiteral("it refers to %1 #%2, not one of this visit's")
                      .arg(table)
                      .arg(value.toLongLong()));
        return std::nullopt;
    }
    return QVariant(ids->value(value.toLongLong()));
}

// The row's references to units and to other facts of the visit, as rows of `to`.
bool Resolve(const VisitCopy& c, const QString& table, Row* row, Failure* f) {
    const std::optional<QVariant> unit = UnitOn(c, row->value(QStringLiteral("unit_id")), f);
    if (!unit)
        return false;
    row->insert(QStringLiteral("unit_id"), *unit);
    if (table != QLatin1String("actions"))
        return true;
    const std::optional<QVariant> before =
        FactOn(c, QStringLiteral("config_snapshots"), row->value(QStringLiteral("before_snapshot_id")), f);
    // A write is decided by reading back what it wrote: a configuration, the clock, the records.
    const QString kind = row->value(QStringLiteral("kind")).toString();
    const QString by = kind == QLatin1String("config-write")  ? QStringLiteral("config_snapshots")
                       : kind == QLatin1String("clock-write") ? QStringLiteral("clock_readings")
                                                              : QStringLiteral("reads");
    const std::optional<QVariant> decided =
        before ? FactOn(c, by, row->value(QStringLiteral("decided_by_id")), f) : std::nullopt;
    if (!decided)
        return false;
    row->insert(QStringLiteral("before_snapshot_id"), *before);
    row->insert(QStringLiteral("decided_by_id"), *decided);
    return true;
}

QString KeyOf(const QVariantList& values) {
    QStringList parts;
    for (const QVariant& v : values)
        parts << (v.isNull() ? QStringLiteral("\\N") : v.toString());
    return parts.join(QChar(0x1f));
}

// What a pull may take of a visit before it reads any of its rows: its rows and bytes within
// what one visit of the tool can hold, counted by the server.
bool CheckVisitSize(VisitCopy& c, Failure* f) {
    const QList<QPair<const char*, const char*>> bytesOf{
        {"reads", "answer"}, {"config_snapshots", "bytes"}, {"clock_readings", "bytes"}, {"actions", "sent"}};
    qint64 rows = 0;
    qint64 bytes = 0;
    for (const auto& [table, column] : bytesOf) {
        QSqlQuery q(c.from);
        if (!Run(c.from,
                 QStringLiteral("SELECT COUNT(*), COALESCE(SUM(length(%1)), 0) FROM %2 WHERE visit_id = ?")
                     .arg(QLatin1String(column), QLatin1String(table)),
                 {c.fromVisit}, f, &q))
            return false;
        if (!q.next())
            return Failed(q.lastError(), f);
        rows += q.value(0).toLongLong();
        bytes += q.value(1).toLongLong();
    }
    const std::optional<qint64> events =
        Scalar(c.from, QStringLiteral("SELECT COUNT(*) FROM events WHERE visit_id = ?"), {c.fromVisit}, f);
    if (!events)
        return false;
    if (rows > kMostFactsOfAVisit || bytes > kLargestVisit || *events > kMostEventsOfAVisit)
        return BadRow(f, QStringLiteral("it holds %1 facts of %2 bytes and %3 events, more than a visit can "
                                        "(%4 bytes, %5 events)")
                             .arg(rows)
                             .arg(bytes)
                             .arg(*events)
                             .arg(kLargestVisit)
                             .arg(kMostEventsOfAVisit));
    return true;
}

// The visit's row on `to`: added, or its addresses filled in where `to` lacks them.
bool CopyVisitRow(VisitCopy& c, Failure* f) {
    QSqlQuery v(c.from);
    if (!Run(c.from, QStringLiteral("SELECT %1 FROM visits WHERE id = ?").arg(SelectList(VisitColumns())),
             {c.fromVisit}, f, &v))
        return false;
    if (!v.next())
        return v.lastError().isValid() ? Failed(v.lastError(), f)
                                       : BadRow(f, QStringLiteral("the visit went missing while syncing"));
    QString fault;
    std::optional<Row> visit = CheckedRow(VisitColumns(), v.record(), &fault);
    if (visit && !(fault = RowRule(QStringLiteral("visits"), *visit)).isEmpty())
        visit.reset();
    if (!visit)
        return BadRow(f, QStringLiteral("its row: %1").arg(fault));
    const QVariant local = visit->value(QStringLiteral("local_address"));
    const QVariant remote = visit->value(QStringLiteral("remote_address"));
    const QString uuid = visit->value(QStringLiteral("uuid")).toString();
    QSqlQuery t(c.to);
    if (!Run(c.to, QStringLiteral("SELECT id FROM visits WHERE uuid = ?"), {uuid}, f, &t))
        return false;
    if (t.next()) {
        c.toVisit = t.value(0).toLongLong();
        return Run(c.to,
                   QStringLiteral("UPDATE visits SET local_address = COALESCE(local_address, ?), "
                                  "remote_address = COALESCE(remote_address, ?) WHERE id = ?"),
                   {local, remote, c.toVisit}, f);
    }
    QVariantList values;
    for (const Column& column : VisitColumns())
        values << visit->value(QLatin1String(column.name));
    QSqlQuery ins(c.to);
    if (!Run(c.to,
             QStringLiteral(
                 "INSERT INTO visits (uuid, started_utc, utc_offset, pc_user, pc_host, port, program, "
                 "local_address, remote_address) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?) RETURNING id"),
             values, f, &ins))
        return false;
    if (!ins.next())
        return Failed(ins.lastError(), f);
    c.toVisit = ins.value(0).toLongLong();
    c.fresh = true;
    return !c.pulling ||
           Run(c.to,
               QStringLiteral("INSERT INTO %1 (visit_uuid) VALUES (?)").arg(QLatin1String(kPulledTable)),
               {uuid}, f);
}

// The columns that make a row of `table` the same row, a text only within its bounds (a longer
// one, which no copy can have written, matches nothing).
QString KeyList(const FactTable& table) {
    QStringList parts;
    for (const QString& key : table.key)
        for (const Column& c : table.columns)
            if (key == QLatin1String(c.name))
                parts << (c.type == Type::Integer
                              ? key
                              : QStringLiteral("CASE WHEN length(%1) <= %2 THEN %1 END AS %1")
                                    .arg(key)
                                    .arg(c.most));
    return parts.join(QStringLiteral(", "));
}

// The rows of `table` of the visit that `to` lacks, each checked and its references resolved;
// an action `to` holds undecided takes the decision `from` made since.
bool CopyFacts(VisitCopy& c, const FactTable& table, Failure* f) {
    const QString name = QLatin1String(table.name);
    QStringList columns;
    for (const Column& column : table.columns)
        columns << QLatin1String(column.name);
    QHash<QString, qint64> existing;
    QSqlQuery e(c.to);
    if (!c.fresh &&
        !Run(c.to, QStringLiteral("SELECT id, %1 FROM %2 WHERE visit_id = ?").arg(KeyList(table), name),
             {c.toVisit}, f, &e))
        return false;
    while (!c.fresh && e.next()) {
        QVariantList key;
        for (const QString& k : table.key)
            key << e.value(k);
        existing.insert(KeyOf(key), e.value(0).toLongLong());
    }
    // Prepared once for the table's rows of this visit.
    QSqlQuery ins(c.to);
    if (!ins.prepare(QStringLiteral("INSERT INTO %1 (visit_id, %2) VALUES (?%3) RETURNING id")
                         .arg(name, columns.join(", "), QStringLiteral(", ?").repeated(columns.size()))))
        return Failed(ins.lastError(), f);
    QHash<qint64, qint64>& map = c.ids[name];
    return ForEachPage(
        c.from,
        QStringLiteral("SELECT %1 FROM %2 WHERE visit_id = ? AND id > ? ORDER BY id LIMIT %3")
            .arg(SelectList(table.columns), name)
            .arg(kPage),
        {c.fromVisit}, f, [&](const QSqlRecord& record) {
            const qint64 fromId = record.value(QStringLiteral("id")).toLongLong();
            QString fault;
            std::optional<Row> row = CheckedRow(table.columns, record, &fault);
            if (row && !(fault = RowRule(name, *row)).isEmpty())
                row.reset();
            if (!row)
                return BadRow(f, QStringLiteral("%1 #%2: %3").arg(name).arg(fromId).arg(fault));
            if (!Resolve(c, name, &*row, f)) {
                f->text = QStringLiteral("%1 #%2: %3").arg(name).arg(fromId).arg(f->text);
                return false;
            }
            QVariantList key;
            for (const QString& k : table.key)
                key << row->value(k);
            const auto found = existing.constFind(KeyOf(key));
            if (found != existing.constEnd()) {
                map.insert(fromId, *found);
                // A write's "applied" is decided by a read-back that may come after a sync.
                const QVariant applied = row->value(QStringLiteral("applied"));
                return name != QLatin1String("actions") || applied.isNull() ||
                       Run(c.to,
                           QStringLiteral(
                               "UPDATE actions SET applied = ?, decided_by_id = ? WHERE id = ? AND "
                               "applied IS NULL"),
                           {applied, row->value(QStringLiteral("decided_by_id")), *found}, f);
            }
            ins.bindValue(0, c.toVisit);
            for (qsizetype k = 0; k < columns.size(); ++k)
                ins.bindValue(int(k) + 1, row->value(columns[k]));
            if (!ins.exec() || !ins.next())
                return Failed(ins.lastError(), f);
            map.insert(fromId, ins.value(0).toLongLong());
            existing.insert(KeyOf(key), ins.value(0).toLongLong());
            return true;
        });
}

// An event of the visit, checked, with its unit resolved; its read is checked by the caller.
std::optional<Row> CheckedEvent(const VisitCopy& c, const QSqlRecord& record, Failure* f) {
    QString fault;
    std::optional<Row> row = CheckedRow(EventColumns(), record, &fault);
    const qint64 id = record.value(QStringLiteral("id")).toLongLong();
    if (!row) {
        BadRow(f, QStringLiteral("events #%1: %2").arg(id).arg(fault));
        return std::nullopt;
    }
    const std::optional<QVariant> unit = UnitOn(c, row->value(QStringLiteral("unit_id")), f);
    if (!unit) {
        f->text = QStringLiteral("events #%1: %2").arg(id).arg(f->text);
        return std::nullopt;
    }
    row->insert(QStringLiteral("unit_id"), *unit);
    return row;
}

QString EventPageSql() {
    return QStringLiteral("SELECT %1 FROM events WHERE visit_id = ? AND id > ? ORDER BY id LIMIT %2")
        .arg(SelectList(EventColumns()))
        .arg(kEventBatch);
}

// Before a pull keeps anything of the visit: each of its events is one a read of the visit
// carried, and no read has more events than records.
bool CheckEvents(VisitCopy& c, Failure* f) {
    QHash<qint64, qint64> recordsLeft;
    if (!ForEachPage(
            c.from,
            QStringLiteral("SELECT id, record_count FROM reads WHERE visit_id = ? AND id > ? ORDER BY id "
                           "LIMIT %1")
                .arg(kEventBatch),
            {c.fromVisit}, f, [&](const QSqlRecord& r) {
                recordsLeft.insert(r.value(0).toLongLong(), r.value(1).toLongLong());
                return true;
            }))
        return false;
    return ForEachPage(c.from, EventPageSql(), {c.fromVisit}, f, [&](const QSqlRecord& record) {
        const std::optional<Row> row = CheckedEvent(c, record, f);
        if (!row)
            return false;
        const qint64 read = row->value(QStringLiteral("read_id")).toLongLong();
        if (!recordsLeft.contains(read))
            return BadRow(f, QStringLiteral("events #%1: it refers to reads #%2, not one of this visit's")
                                 .arg(record.value(QStringLiteral("id")).toLongLong())
                                 .arg(read));
        if (--recordsLeft[read] < 0)
            return BadRow(f, QStringLiteral("reads #%1 has more events than records").arg(read));
        return true;
    });
}

// The events this visit kept first, in transactions of kEventsPerTransaction on `to`, so that a
// writer waiting for the laptop's archive waits a moment, not for the whole visit; an event `to`
// holds already stays as it is.
bool CopyEvents(VisitCopy& c, Failure* f) {
    QString rows;
    int inBatch = 0;
    int inTransaction = 0;
    auto flush = [&] {
        if (inBatch == 0)
            return true;
        QSqlQuery ins(c.to);
        // Every value is a number checked above: written into the statement as it is.
        if (!ins.exec(QStringLiteral("INSERT INTO events (unit_id, side, unit_time, code, first_seen_utc, "
                                     "first_seen_offset, read_id, visit_id) VALUES ") +
                      rows + QStringLiteral(" ON CONFLICT (unit_id, unit_time, code) DO NOTHING")))
            return Failed(ins.lastError(), f);
        c.newEvents += qMax(0, ins.numRowsAffected());
        rows.clear();
        inBatch = 0;
        return true;
    };
    if (!c.to.transaction())
        return Failed(c.to.lastError(), f);
    const bool ok = ForEachPage(c.from, EventPageSql(), {c.fromVisit}, f, [&](const QSqlRecord& record) {
        std::optional<Row> row = CheckedEvent(c, record, f);
        if (!row)
            return false;
        const std::optional<QVariant> read =
            FactOn(c, QStringLiteral("reads"), row->value(QStringLiteral("read_id")), f);
        if (!read)
            return false;
        row->insert(QStringLiteral("read_id"), *read);
        c.touchedUnits.insert(row->value(QStringLiteral("unit_id")).toLongLong());
        rows += QLatin1String(inBatch ? ",(" : "(");
        QStringList values;
        for (const Column& column : EventColumns())
            values << QString::number(row->value(QLatin1String(column.name)).toLongLong());
        rows += values.join(',') + ',' + QString::number(c.toVisit) + ')';
        if (++inBatch == kEventBatch && !flush())
            return false;
        if (++inTransaction == kEventsPerTransaction) {
            inTransaction = 0;
            if (!c.to.commit() || !c.to.transaction())
                return Failed(c.to.lastError(), f);
        }
        return true;
    });
    if (ok && flush() && c.to.commit())
        return true;
    if (f->text.isEmpty())
        f->text = c.to.lastError().text().trimmed();
    c.to.rollback();
    return false;
}

// Copies the visit to `to`: a pull checks all of it first; then the visit's row and its facts go
// in one transaction, its events in short ones after, and the units' event counts are counted
// again. A cut between leaves the visit partly copied and the sync state as it was, so that the
// next sync completes it.
bool CopyVisit(VisitCopy& c, Failure* f) {
    if (c.pulling && (!CheckVisitSize(c, f) || !CheckEvents(c, f)))
        return false;
    if (!Transaction(c.to, f, [&] {
            if (!CopyVisitRow(c, f))
                return false;
            for (const FactTable& table : FactTables())
                if (!CopyFacts(c, table, f))
                    return false;
            return true;
        }))
        return false;
    if (!CopyEvents(c, f))
        return false;
    return Transaction(c.to, f, [&] {
        for (qint64 unit : c.touchedUnits)
            if (!Run(c.to,
                     QStringLiteral("UPDATE units SET event_count = (SELECT COUNT(*) FROM events e WHERE "
                                    "e.unit_id = ?) WHERE id = ?"),
                     {unit, unit}, f))
                return false;
        return true;
    });
}

// ---- The sync's state on the laptop -------------------------------------------------------------

bool EnsureStateTables(QSqlDatabase& local, Failure* f) {
    if (!Run(local,
             QStringLiteral(
                 "CREATE TABLE IF NOT EXISTS sync_state (server_uuid VARCHAR(36) NOT NULL, "
                 "visit_uuid VARCHAR(36) NOT NULL, local_print TEXT NOT NULL, server_print TEXT NOT "
                 "NULL, PRIMARY KEY (server_uuid, visit_uuid))"),
             {}, f))
        return false;
    QSqlQuery probe(local);
    if (probe.exec(QStringLiteral("SELECT 1 FROM %1 LIMIT 1").arg(QLatin1String(kPulledTable))))
        return true;
    // First made by this version: the visits synced before that another host made came by a pull.
    return Transaction(local, f, [&] {
        return Run(local,
                   QStringLiteral("CREATE TABLE %1 (visit_uuid VARCHAR(36) NOT NULL PRIMARY KEY)")
                       .arg(QLatin1String(kPulledTable)),
                   {}, f) &&
               Run(local,
                   QStringLiteral(
                       "INSERT INTO %1 (visit_uuid) SELECT uuid FROM visits WHERE pc_host <> ? AND uuid "
                       "IN (SELECT visit_uuid FROM sync_state)")
                       .arg(QLatin1String(kPulledTable)),
                   {QSysInfo::machineHostName()}, f);
    });
}

// Whether the visit `uuid` is on the laptop because it was made here (no pull brought it).
std::optional<bool> MadeHere(QSqlDatabase& local, const QString& uuid, Failure* f) {
    const std::optional<qint64> here =
        Scalar(local, QStringLiteral("SELECT COUNT(*) FROM visits WHERE uuid = ?"), {uuid}, f);
    const std::optional<qint64> pulled =
        here ? Scalar(local,
                      QStringLiteral("SELECT COUNT(*) FROM %1 WHERE visit_uuid = ?")
                          .arg(QLatin1String(kPulledTable)),
                      {uuid}, f)
             : std::nullopt;
    if (!pulled)
        return std::nullopt;
    return *here > 0 && *pulled == 0;
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

// The print of the visit `uuid` on `db` as it is now.
std::optional<QString> PrintNow(QSqlDatabase& db, const QString& uuid, Failure* f) {
    const std::optional<qint64> id =
        Scalar(db, QStringLiteral("SELECT id FROM visits WHERE uuid = ?"), {uuid}, f);
    Prints p;
    if (!id || !VisitPrints(db, *id, &p, f))
        return std::nullopt;
    return p.byUuid.value(uuid);
}

bool ServerIdentity(QSqlDatabase& server, QString* uuid, Failure* f) {
    QSqlQuery q(server);
    if (!Run(server,
             QStringLiteral("SELECT CASE WHEN length(uuid) <= 36 THEN uuid END FROM %1")
                 .arg(QLatin1String(kIdentityTable)),
             {}, f, &q))
        return false;
    if (!q.next() || q.value(0).isNull()) {
        f->text = QStringLiteral("the server's archive has no identity: run lmx207-logbook server init");
        return false;
    }
    *uuid = q.value(0).toString();
    return true;
}

bool MayWrite(QSqlDatabase& server, bool* may, QString* role, Failure* f) {
    QSqlQuery q(server);
    if (!Run(server,
             QStringLiteral(
                 "SELECT current_user, has_table_privilege('visits', 'INSERT') AND "
                 "has_table_privilege('units', 'INSERT') AND has_table_privilege('events', 'INSERT')"),
             {}, f, &q))
        return false;
    if (!q.next())
        return Failed(q.lastError(), f);
    *role = q.value(0).toString().left(64);
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
                 {}, &f))
            return false;
        const std::optional<qint64> count =
            Scalar(db, QStringLiteral("SELECT COUNT(*) FROM %1").arg(QLatin1String(kIdentityTable)), {}, &f);
        if (!count)
            return false;
        return *count > 0 ||
               Run(db, QStringLiteral("INSERT INTO %1 (uuid) VALUES (?)").arg(QLatin1String(kIdentityTable)),
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
    if (!EnsureStateTables(local, &f) || !LoadState(local, serverUuid, &state, &f))
        return fail(QStringLiteral("the local archive cannot be written"));

    // Pull: each visit that changed on the server since it last went either way. A visit that
    // fails its checks is named and left; a pull that stops (the server or the laptop's archive
    // failing) stops the pull alone: the laptop's own visits still go up.
    QSet<QString> recheck; // visits made here that changed on the server
    const bool pulled = [&] {
        Prints serverPrints;
        if (!VisitPrints(server, std::nullopt, &serverPrints, &f)) {
            fail(QStringLiteral("the server's archive cannot be read"));
            return false;
        }
        QStringList toPull;
        for (auto it = serverPrints.byUuid.constBegin(); it != serverPrints.byUuid.constEnd(); ++it)
            if (state.value(it.key()).server != it.value())
                toPull << it.key();
        say(QStringLiteral("%1 visit(s) to pull").arg(toPull.size()));
        if (toPull.isEmpty())
            return true;
        QHash<qint64, qint64> units;
        QHash<qint64, QString> refusedUnits;
        if (!MapUnits(server, local, &units, &refusedUnits, &f)) {
            fail(QStringLiteral("the server's units cannot be kept here"));
            return false;
        }
        std::sort(toPull.begin(), toPull.end(), [&](const QString& a, const QString& b) {
            return serverPrints.idOfUuid.value(a) < serverPrints.idOfUuid.value(b);
        });
        for (const QString& uuid : toPull) {
            const qint64 serverId = serverPrints.idOfUuid.value(uuid);
            auto refuse = [&](const QString& reason) {
                report->refused << QStringLiteral("visit %1 not pulled: %2").arg(uuid, reason);
            };
            if (uuid.startsWith('#')) {
                refuse(QStringLiteral("its identifier is longer than a UUID"));
                continue;
            }
            const std::optional<bool> madeHere = MadeHere(local, uuid, &f);
            if (!madeHere) {
                fail(QStringLiteral("the local archive cannot be read"));
                return false;
            }
            if (*madeHere) {
                // Never changed by a pull: the push below tells whether the server holds more of it.
                recheck.insert(uuid);
                continue;
            }
            f = Failure();
            VisitCopy copy(server, local, serverId, units, refusedUnits, true);
            if (!CopyVisit(copy, &f)) {
                if (!f.badRow) {
                    fail(QStringLiteral("visit %1 cannot be pulled").arg(uuid));
                    return false;
                }
                refuse(f.text);
                continue;
            }
            const std::optional<QString> after = PrintNow(local, uuid, &f);
            const State saved{after.value_or(QString()), serverPrints.byUuid.value(uuid)};
            if (!after || !SaveState(local, serverUuid, uuid, saved, &f)) {
                fail(QStringLiteral("the local archive cannot be written"));
                return false;
            }
            state.insert(uuid, saved);
            ++report->visitsPulled;
            report->eventsPulled += copy.newEvents;
        }
        return true;
    }();
    const QString pullStopped = pulled ? QString() : *why;
    f = Failure();
    // The push's outcome, and the pull's when it stopped.
    auto finish = [&](SyncOutcome pushed) {
        if (pullStopped.isEmpty())
            return pushed;
        *why = pushed == SyncOutcome::Done ? pullStopped : pullStopped + QStringLiteral("; ") + *why;
        return SyncOutcome::Failed;
    };

    // Push: each visit that changed here since it last went either way.
    Prints localPrints;
    if (!VisitPrints(local, std::nullopt, &localPrints, &f))
        return finish(fail(QStringLiteral("the local archive cannot be read")));
    QStringList toPush;
    QSet<QString> changed;
    for (auto it = localPrints.byUuid.constBegin(); it != localPrints.byUuid.constEnd(); ++it) {
        if (state.value(it.key()).local != it.value())
            changed.insert(it.key());
        if (changed.contains(it.key()) || recheck.contains(it.key()))
            toPush << it.key();
    }
    // Oldest first, so that a cut push leaves the server with the older history complete.
    std::sort(toPush.begin(), toPush.end(), [&](const QString& a, const QString& b) {
        return localPrints.idOfUuid.value(a) < localPrints.idOfUuid.value(b);
    });
    say(QStringLiteral("%1 visit(s) to push").arg(toPush.size()));
    if (toPush.isEmpty())
        return finish(SyncOutcome::Done);
    bool may = false;
    QString role;
    if (!MayWrite(server, &may, &role, &f))
        return finish(fail(QStringLiteral("the server's permissions cannot be read")));
    if (!may) {
        report->visitsToPush = int(toPush.size());
        *why = QStringLiteral(
                   "the server refuses writes for this role (user \"%1\"): %2 visit(s) stay unpushed; "
                   "pulling works, pushing needs a role that may write")
                   .arg(role)
                   .arg(toPush.size());
        return finish(SyncOutcome::WritesRefused);
    }
    QHash<qint64, qint64> units;
    QHash<qint64, QString> refusedUnits;
    if (!MapUnits(local, server, &units, &refusedUnits, &f))
        return finish(fail(QStringLiteral("the units cannot be kept on the server")));
    for (const QString& uuid : toPush) {
        f = Failure();
        VisitCopy copy(local, server, localPrints.idOfUuid.value(uuid), units, refusedUnits, false);
        if (!CopyVisit(copy, &f)) {
            if (!f.badRow)
                return finish(fail(QStringLiteral("visit %1 cannot be pushed").arg(uuid)));
            report->refused << QStringLiteral("visit %1 not pushed: %2").arg(uuid, f.text);
            continue;
        }
        const std::optional<QString> after = PrintNow(server, uuid, &f);
        if (!after)
            return finish(fail(QStringLiteral("the server's archive cannot be read")));
        // Once all of a visit made here is up, the server holds as much of it as the laptop, or
        // more: what some other role added, which stays there and is named at each sync.
        if (*after != localPrints.byUuid.value(uuid)) {
            report->refused << QStringLiteral(
                                   "visit %1 not pulled: it was made on this laptop, and the server "
                                   "holds facts of it that this laptop did not push")
                                   .arg(uuid);
            continue;
        }
        if (!changed.contains(uuid))
            continue;
        if (!SaveState(local, serverUuid, uuid, {localPrints.byUuid.value(uuid), *after}, &f))
            return finish(fail(QStringLiteral("the local archive cannot be written")));
        ++report->visitsPushed;
        report->eventsPushed += copy.newEvents;
    }
    return finish(SyncOutcome::Done);
}
