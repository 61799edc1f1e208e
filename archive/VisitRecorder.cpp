#include "archive/VisitRecorder.h"

#include "archive/AuditTrail.h"

#include "archive/ArchiveFormat.h"
#include "archive/Dialect.h"
#include "config/ConfigFormat.h"
#include "records/RecordFormat.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QSysInfo>
#include <QUuid>

#include <cstdlib>

namespace {

int SideNumber(UnitSide side) {
    return side == UnitSide::Local ? 0 : 1;
}

// Text columns are NOT NULL: a null QString would bind as NULL.
QString Text(const QString& s) {
    return s.isNull() ? QStringLiteral("") : s;
}

QString NewUuid() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

QString LoginName() {
    return AccountUserName();
}

struct PendingConfigWrite {
    qint64 actionId = 0;
    ConfigSnapshot written;
};
struct PendingClockWrite {
    qint64 actionId = 0;
    QByteArray sent;
    PcTime at;
};
struct PendingClear {
    qint64 actionId = 0;
};

// What tells a read's bytes from another's: their SHA-256, in hexadecimal.
QString ContentHash(const QByteArray& content) {
    return QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex());
}

struct SideState {
    qint64 unitId = 0;          // the unit this side's facts belong to now, 0 for none yet
    bool namedByConfig = false; // a configuration answer of this visit told it
    qint64 provisionalUnit = 0; // a unit of this visit without an address, for records read first
    std::optional<PendingConfigWrite> configWrite;
    std::optional<PendingClockWrite> clockWrite;
    std::optional<PendingClear> clear;
    std::optional<ConfigSnapshot> lastConfig;
    qint64 lastConfigId = 0;
    QString lastClockText;
    int lastRecordCount = -1;
};

// Whether a date-and-time answer shows what a write sent, given the time passed since: the
// groups written (date, time or both) within two seconds.
bool ClockShowsWrite(const QByteArray& answer, const QByteArray& sent, const PcTime& writtenAt,
                     const PcTime& readAt) {
    if (answer.size() != 7)
        return false;
    const auto* a = reinterpret_cast<const unsigned char*>(answer.constData());
    const auto* s = reinterpret_cast<const unsigned char*>(sent.constData());
    const qsizetype n = sent.size();
    const bool hasDate = n >= 3 && s[0] != kClockGroupUnchanged;
    const qsizetype timeAt = hasDate ? 3 : 1;
    const bool hasTime = n >= timeAt + 3 && s[timeAt] != kClockGroupUnchanged;
    const qint64 elapsedMs = qMax<qint64>(0, readAt.utcMs - writtenAt.utcMs);
    const QDate readDate(2000 + FromBcd(a[1]), FromBcd(a[2]), FromBcd(a[3]));
    const QTime readTime(FromBcd(a[4]), FromBcd(a[5]), FromBcd(a[6]));
    if (!readDate.isValid() || !readTime.isValid())
        return false;
    constexpr qint64 kToleranceMs = 2000;
    if (hasDate && hasTime) {
        const QDateTime written(QDate(2000 + FromBcd(s[0]), FromBcd(s[1]), FromBcd(s[2])),
                                QTime(FromBcd(s[3]), FromBcd(s[4]), FromBcd(s[5])), Qt::UTC);
        if (!written.isValid())
            return false;
        const qint64 diff = QDateTime(readDate, readTime, Qt::UTC).toMSecsSinceEpoch() -
                            (written.toMSecsSinceEpoch() + elapsedMs);
        return std::llabs(diff) <= kToleranceMs + 1000; // the unit's clock counts whole seconds
    }
    if (hasTime) {
        const QTime written(FromBcd(s[timeAt]), FromBcd(s[timeAt + 1]), FromBcd(s[timeAt + 2]));
        if (!written.isValid())
            return false;
        constexpr qint64 day = 86400000;
        qint64 diff =
            (qint64(readTime.msecsSinceStartOfDay()) - written.msecsSinceStartOfDay() - elapsedMs) % day;
        if (diff < 0)
            diff += day;
        return qMin(diff, day - diff) <= kToleranceMs + 1000;
    }
    if (hasDate) {
        const QDate written(2000 + FromBcd(s[0]), FromBcd(s[1]), FromBcd(s[2]));
        const qint64 days = written.daysTo(readDate);
        return days >= 0 && days <= elapsedMs / 86400000 + 1;
    }
    return false; // nothing was written: neither group
}

} // namespace

struct VisitRecorder::Private {
    Archive& archive;
    VisitInfo info;
    qint64 visitId = 0;
    QString lastError;
    SideState sides[2];
    // The event inserts, prepared once: by rows a statement, and the one for invalid records.
    QHash<int, QSqlQuery> insertEvents;
    std::optional<QSqlQuery> insertInvalid;

    QSqlDatabase& db() { return archive.Database(); }

    bool Fail(const QSqlQuery& q) {
        lastError = q.lastError().text();
        archive.SetLastError(q.lastError());
        return false;
    }
    bool FailDropping(std::optional<QSqlQuery>* q) {
        Fail(**q);
        q->reset();
        return false;
    }
    bool Fail(const QString& text) {
        lastError = text;
        archive.SetLastError(text);
        return false;
    }

    // The visit row, created with the first fact (inside that fact's transaction).
    bool EnsureVisit(const QString& port, const PcTime& at) {
        if (visitId != 0)
            return true;
        if (info.uuid.isEmpty())
            info.uuid = NewUuid();
        if (info.started.utcMs == 0)
            info.started = at.utcMs ? at : PcTimeNow();
        if (info.pcUser.isEmpty())
            info.pcUser = LoginName();
        if (info.pcHost.isEmpty())
            info.pcHost = QSysInfo::machineHostName();
        if (info.port.isEmpty())
            info.port = port;
        if (info.program.isEmpty())
            info.program = QStringLiteral("service");
        QSqlQuery q(db());
        // A visit kept in part before (its facts that waited in the spool come later) goes on.
        q.prepare(QStringLiteral("SELECT id FROM visits WHERE uuid = ?"));
        q.addBindValue(info.uuid);
        if (!q.exec())
            return Fail(q);
        if (q.next()) {
            visitId = q.value(0).toLongLong();
            return true;
        }
        q.prepare(QStringLiteral(
            "INSERT INTO visits (uuid, started_utc, utc_offset, pc_user, pc_host, port, program) "
            "VALUES (?, ?, ?, ?, ?, ?, ?)"));
        for (const QVariant& v :
             QVariantList{info.uuid, info.started.utcMs, info.started.offsetSeconds, Text(info.pcUser),
                          Text(info.pcHost), Text(info.port), info.program})
            q.addBindValue(v);
        if (!q.exec())
            return Fail(q);
        visitId = LastInsertId(db(), q);
        return true;
    }

    // A fact in one transaction; the visit and the side states are as before when it fails.
    bool Fact(const QString& port, const PcTime& at, const std::function<bool()>& work) {
        const qint64 visitBefore = visitId;
        SideState before[2] = {sides[0], sides[1]};
        const bool ok = archive.InTransaction([&] { return EnsureVisit(port, at) && work(); });
        if (!ok) {
            // The prepared statements go too: the failure may be the connection's.
            insertEvents.clear();
            insertInvalid.reset();
            visitId = visitBefore;
            sides[0] = before[0];
            sides[1] = before[1];
            if (lastError.isEmpty())
                lastError = archive.LastError();
            return false;
        }
        lastError.clear();
        return true;
    }

    std::optional<qint64> NewUnit(std::optional<int> address, const QString& name, UnitSide side,
                                  std::optional<int> commandCount, const PcTime& at) {
        QSqlQuery q(db());
        q.prepare(QStringLiteral("INSERT INTO units (uuid, name, address, side, command_count, created_utc, "
                                 "event_count, home_visit_id) VALUES (?, ?, ?, ?, ?, ?, 0, ?)"));
        q.addBindValue(NewUuid());
        q.addBindValue(Text(name));
        q.addBindValue(address ? QVariant(*address) : QVariant(QMetaType(QMetaType::Int)));
        q.addBindValue(SideNumber(side));
        q.addBindValue(commandCount ? QVariant(*commandCount) : QVariant(QMetaType(QMetaType::Int)));
        q.addBindValue(at.utcMs);
        q.addBindValue(visitId);
        if (!q.exec()) {
            Fail(q);
            return std::nullopt;
        }
        return LastInsertId(db(), q);
    }

    std::optional<qint64> UnitWithAddress(int address, bool* failed) {
        QSqlQuery q(db());
        q.prepare(QStringLiteral("SELECT id FROM units WHERE address = ?"));
        q.addBindValue(address);
        if (!q.exec()) {
            *failed = true;
            Fail(q);
            return std::nullopt;
        }
        if (q.next())
            return q.value(0).toLongLong();
        return std::nullopt;
    }

    bool Exec(const QString& sql, const QVariantList& values) {
        QSqlQuery q(db());
        q.prepare(sql);
        for (const QVariant& v : values)
            q.addBindValue(v);
        return q.exec() || Fail(q);
    }

    // The unit holding most of the sampled events (the same log read again, or grown), if one.
    std::optional<qint64> UnitByOverlap(const QList<QPair<qint64, int>>& events) {
        if (events.isEmpty())
            return std::nullopt;
        QSqlQuery q(db());
        q.prepare(QStringLiteral("SELECT unit_id FROM events WHERE unit_time = ? AND code = ?"));
        QHash<qint64, int> hits;
        const qsizetype step = qMax<qsizetype>(1, events.size() / 16);
        for (qsizetype i = 0; i < events.size(); i += step) {
            q.addBindValue(events[i].first);
            q.addBindValue(events[i].second);
            if (!q.exec())
                return std::nullopt;
            while (q.next())
                ++hits[q.value(0).toLongLong()];
        }
        qint64 best = 0;
        int bestHits = 0;
        bool tie = false;
        for (auto it = hits.cbegin(); it != hits.cend(); ++it) {
            if (it.value() > bestHits) {
                best = it.key();
                bestHits = it.value();
                tie = false;
            } else if (it.value() == bestHits) {
                tie = true;
            }
        }
        if (bestHits == 0 || tie)
            return std::nullopt;
        return best;
    }

    // The unit a side's fact belongs to when no configuration answer has told it: the side's unit
    // so far, else (for records) the unit that holds the same events, else a unit of this visit
    // without an address.
    std::optional<qint64> CurrentUnit(UnitSide side, const PcTime& at,
                                      const QList<QPair<qint64, int>>* events) {
        SideState& s = sides[SideNumber(side)];
        if (s.unitId)
            return s.unitId;
        if (events) {
            if (const auto unit = UnitByOverlap(*events)) {
                s.unitId = *unit;
                return s.unitId;
            }
        }
        if (!s.provisionalUnit) {
            const auto unit = NewUnit(std::nullopt, QString(), side, std::nullopt, at);
            if (!unit)
                return std::nullopt;
            s.provisionalUnit = *unit;
        }
        s.unitId = s.provisionalUnit;
        return s.unitId;
    }

    // Moves everything of unit `from` to unit `to`, each event kept once, and removes `from`.
    bool MergeUnit(qint64 from, qint64 to) {
        const QString same = QStringLiteral("(SELECT 1 FROM events t WHERE t.unit_id = ? AND t.unit_time = "
                                            "events.unit_time AND t.code = events.code)");
        if (!Exec(
                QStringLiteral("UPDATE events SET unit_id = ? WHERE unit_id = ? AND NOT EXISTS %1").arg(same),
                {to, from, to}))
            return false;
        if (!Exec(QStringLiteral("DELETE FROM events WHERE unit_id = ?"), {from}))
            return false;
        for (const char* table : {"reads", "config_snapshots", "clock_readings", "actions"})
            if (!Exec(QStringLiteral("UPDATE %1 SET unit_id = ? WHERE unit_id = ?").arg(QLatin1String(table)),
                      {to, from}))
                return false;
        if (!Exec(QStringLiteral(
                      "UPDATE units SET event_count = (SELECT COUNT(*) FROM events WHERE unit_id = ?) "
                      "WHERE id = ?"),
                  {to, to}))
            return false;
        return Exec(QStringLiteral("DELETE FROM units WHERE id = ?"), {from});
    }

    // The statement that inserts `rows` events of one unit and one read at once, each unless its
    // unit holds it already (the unique index (unit, unit time, code) turns it away). An event
    // binds its time and code alone; what all of them share is bound once, after them. The types
    // are written out for a server that would otherwise take the values for text.
    static QString InsertEventsSql(int rows) {
        QStringList values{QStringLiteral("(CAST(? AS BIGINT), CAST(? AS INTEGER))")};
        for (int i = 1; i < rows; ++i)
            values << QStringLiteral("(?, ?)");
        return QStringLiteral("WITH new_events (unit_time, code) AS (VALUES %1) ")
                   .arg(values.join(QStringLiteral(", "))) +
               InsertIgnoringDuplicates() +
               QStringLiteral(
                   " events (unit_id, side, unit_time, code, first_seen_utc, first_seen_offset, visit_id, "
                   "read_id) SELECT CAST(? AS BIGINT), CAST(? AS INTEGER), unit_time, code, "
                   "CAST(? AS BIGINT), CAST(? AS INTEGER), CAST(? AS BIGINT), CAST(? AS BIGINT) FROM "
                   "new_events");
    }

    // The archive closed and opened again since the statements were prepared: they belong to a
    // connection that is gone (its driver, which they point to, was deleted with it).
    void DropStatementsOfAnotherConnection() {
        if (!insertEvents.isEmpty() && insertEvents.cbegin()->driver() != db().driver())
            insertEvents.clear();
        if (insertInvalid && insertInvalid->driver() != db().driver())
            insertInvalid.reset();
    }

    // The statement for `rows` events, prepared once while this recorder lives (preparing one of
    // a few hundred values costs as much as inserting its rows).
    QSqlQuery* InsertEventsStatement(int rows) {
        auto it = insertEvents.find(rows);
        if (it == insertEvents.end()) {
            QSqlQuery q(db());
            if (!q.prepare(InsertEventsSql(rows))) {
                Fail(q);
                return nullptr;
            }
            it = insertEvents.insert(rows, q);
        }
        return &it.value();
    }

    // Adds the events a unit does not hold yet; *added and *known count both kinds.
    bool InsertEvents(qint64 unitId, UnitSide side, qint64 readId, const PcTime& at,
                      const QList<QPair<qint64, int>>& events, int* added, int* known) {
        const int sideNo = SideNumber(side);
        *added = 0;
        *known = 0;
        DropStatementsOfAnotherConnection();
        QList<QPair<qint64, int>> coded;
        QList<QPair<qint64, int>> invalid;
        coded.reserve(events.size());
        for (const auto& e : events)
            (e.second < 0 ? invalid : coded) << e;
        // Many rows a statement: a read of 255 records takes four.
        constexpr int kRowsPerStatement = 64;
        for (qsizetype first = 0; first < coded.size(); first += kRowsPerStatement) {
            const int rows = int(qMin<qsizetype>(kRowsPerStatement, coded.size() - first));
            QSqlQuery* q = InsertEventsStatement(rows);
            if (!q)
                return false;
            for (int i = 0; i < rows; ++i) {
                q->addBindValue(coded[first + i].first);
                q->addBindValue(coded[first + i].second);
            }
            for (const QVariant& v : {QVariant(unitId), QVariant(sideNo), QVariant(at.utcMs),
                                      QVariant(at.offsetSeconds), QVariant(visitId), QVariant(readId)})
                q->addBindValue(v);
            if (!q->exec())
                return Fail(*q);
            const int inserted = q->numRowsAffected();
            *added += inserted;
            *known += rows - inserted;
        }
        // An imported invalid record (its code lost in the text) is the same as any invalid record
        // of that time.
        if (!invalid.isEmpty() && !insertInvalid) {
            insertInvalid.emplace(db());
            if (!insertInvalid->prepare(QStringLiteral(
                    "INSERT INTO events (unit_id, side, unit_time, code, first_seen_utc, first_seen_offset, "
                    "visit_id, read_id) SELECT ?, ?, ?, ?, ?, ?, ?, ? WHERE NOT EXISTS (SELECT 1 FROM "
                    "events WHERE unit_id = ? AND unit_time = ? AND (code = 0 OR code > 38))")))
                return FailDropping(&insertInvalid);
        }
        for (const auto& e : invalid) {
            for (const QVariant& v : {QVariant(unitId), QVariant(sideNo), QVariant(e.first), QVariant(0),
                                      QVariant(at.utcMs), QVariant(at.offsetSeconds), QVariant(visitId),
                                      QVariant(readId), QVariant(unitId), QVariant(e.first)})
                insertInvalid->addBindValue(v);
            if (!insertInvalid->exec())
                return Fail(*insertInvalid);
            if (insertInvalid->numRowsAffected() > 0)
                ++*added;
            else
                ++*known;
        }
        if (*added > 0)
            return Exec(QStringLiteral("UPDATE units SET event_count = event_count + ? WHERE id = ?"),
                        {*added, unitId});
        return true;
    }

    std::optional<qint64> InsertRead(qint64 unitId, UnitSide side, const QString& port, const PcTime& at,
                                     const QString& source, const QByteArray& content, int recordCount,
                                     QString contentHash = QString()) {
        if (contentHash.isEmpty())
            contentHash = ContentHash(content);
        QSqlQuery q(db());
        q.prepare(
            QStringLiteral("INSERT INTO reads (visit_id, unit_id, side, pc_utc, utc_offset, port, source, "
                           "content_hash, answer, record_count, new_events) VALUES (?, ?, ?, ?, ?, ?, ?, ?, "
                           "?, ?, 0)"));
        for (const QVariant& v : QVariantList{visitId, unitId, SideNumber(side), at.utcMs, at.offsetSeconds,
                                              Text(port), source, contentHash, content, recordCount})
            q.addBindValue(v);
        if (!q.exec()) {
            Fail(q);
            return std::nullopt;
        }
        return LastInsertId(db(), q);
    }

    bool TouchUnit(qint64 unitId, UnitSide side) {
        return Exec(QStringLiteral("UPDATE units SET side = ? WHERE id = ?"), {SideNumber(side), unitId});
    }

    std::optional<qint64> InsertAction(std::optional<qint64> unitId, UnitSide side, const QString& port,
                                       const PcTime& at, const QString& kind, const QByteArray& sent,
                                       const QString& shownBefore, qint64 beforeSnapshot) {
        QSqlQuery q(db());
        q.prepare(QStringLiteral(
            "INSERT INTO actions (visit_id, unit_id, side, pc_utc, utc_offset, port, kind, sent, "
            "shown_before, before_snapshot_id) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
        const QVariant nullId{QMetaType(QMetaType::LongLong)};
        for (const QVariant& v :
             QVariantList{visitId, unitId ? QVariant(*unitId) : nullId, SideNumber(side), at.utcMs,
                          at.offsetSeconds, Text(port), kind, sent.isNull() ? QByteArray("") : sent,
                          Text(shownBefore), beforeSnapshot ? QVariant(beforeSnapshot) : nullId})
            q.addBindValue(v);
        if (!q.exec()) {
            Fail(q);
            return std::nullopt;
        }
        return LastInsertId(db(), q);
    }

    bool Decide(qint64 actionId, bool applied, qint64 decidedBy) {
        return Exec(QStringLiteral("UPDATE actions SET applied = ?, decided_by_id = ? WHERE id = ?"),
                    {applied ? 1 : 0, decidedBy, actionId});
    }

    std::optional<qint64> InsertSnapshot(qint64 unitId, UnitSide side, const QString& port, const PcTime& at,
                                         const ConfigSnapshot& s) {
        QSqlQuery q(db());
        q.prepare(
            QStringLiteral("INSERT INTO config_snapshots (visit_id, unit_id, side, pc_utc, utc_offset, port, "
                           "source, address, command_count, codes, bytes) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, "
                           "?, ?)"));
        for (const QVariant& v :
             QVariantList{visitId, unitId, SideNumber(side), at.utcMs, at.offsetSeconds, Text(port), s.source,
                          s.address, s.commandCount, CodesText(s.codes), s.bytes})
            q.addBindValue(v);
        if (!q.exec()) {
            Fail(q);
            return std::nullopt;
        }
        return LastInsertId(db(), q);
    }
};

VisitRecorder::VisitRecorder(Archive& archive, const VisitInfo& info)
    : d(std::make_unique<Private>(Private{archive, info, 0, QString(), {}, {}, {}})) {}
VisitRecorder::~VisitRecorder() = default;

qint64 VisitRecorder::VisitId() const {
    return d->visitId;
}
QString VisitRecorder::VisitUuid() const {
    return d->info.uuid;
}
QString VisitRecorder::LastError() const {
    return d->lastError;
}

namespace {
QList<QPair<qint64, int>> EventsOfAnswer(const QByteArray& answer) {
    QList<QPair<qint64, int>> events;
    const auto* b = reinterpret_cast<const unsigned char*>(answer.constData());
    const int n = b[1];
    QSet<QPair<qint64, int>> seen;
    events.reserve(n);
    for (int k = 0; k < n; ++k) {
        const unsigned char* rec = b + 2 + kEventRecordLength * k;
        const QPair<qint64, int> e{UnitTimeKey(rec), rec[6]};
        if (!seen.contains(e)) {
            seen.insert(e);
            events << e;
        }
    }
    return events;
}
} // namespace

bool VisitRecorder::RecordAnswer(UnitSide side, const QString& port, const PcTime& at,
                                 const QByteArray& answer, int* newEvents) {
    if (answer.size() < 2 || answer.size() != RecordAnswerLength(static_cast<unsigned char>(answer[1])))
        return d->Fail(QStringLiteral("a record answer of %1 bytes is not complete").arg(answer.size()));
    const QList<QPair<qint64, int>> events = EventsOfAnswer(answer);
    int added = 0;
    const bool ok = d->Fact(port, at, [&] {
        SideState& s = d->sides[SideNumber(side)];
        const auto unit = d->CurrentUnit(side, at, &events);
        if (!unit)
            return false;
        const auto readId = d->InsertRead(*unit, side, port, at, QStringLiteral("unit"), answer,
                                          static_cast<unsigned char>(answer[1]));
        if (!readId)
            return false;
        int known = 0;
        if (!d->InsertEvents(*unit, side, *readId, at, events, &added, &known))
            return false;
        if (!d->Exec(QStringLiteral("UPDATE reads SET new_events = ? WHERE id = ?"), {added, *readId}) ||
            !d->TouchUnit(*unit, side))
            return false;
        if (s.clear) {
            // A log cleared shows none of the events held before; a new one since may show.
            if (!d->Decide(s.clear->actionId, known == 0, *readId))
                return false;
            s.clear.reset();
        }
        s.lastRecordCount = static_cast<unsigned char>(answer[1]);
        return true;
    });
    if (newEvents)
        *newEvents = ok ? added : 0;
    return ok;
}

bool VisitRecorder::ConfigAnswer(UnitSide side, const QString& port, const PcTime& at,
                                 const QByteArray& answer) {
    ConfigSnapshot snap;
    if (!SnapshotFromAnswer(answer, &snap))
        return d->Fail(
            QStringLiteral("a configuration answer of %1 bytes is not complete").arg(answer.size()));
    return d->Fact(port, at, [&] {
        SideState& s = d->sides[SideNumber(side)];
        bool failed = false;
        std::optional<qint64> target = d->UnitWithAddress(snap.address, &failed);
        if (failed)
            return false;
        if (!target && s.unitId) {
            // The side's unit so far takes the address when it has none yet, or when a write of
            // this visit has just given it this one.
            QSqlQuery q(d->db());
            q.prepare(QStringLiteral("SELECT address FROM units WHERE id = ?"));
            q.addBindValue(s.unitId);
            if (!q.exec() || !q.next())
                return d->Fail(q);
            const bool unaddressed = q.value(0).isNull();
            const bool readdressed = s.configWrite && s.configWrite->written.address == snap.address;
            if (unaddressed || readdressed) {
                if (!d->Exec(QStringLiteral("UPDATE units SET address = ? WHERE id = ?"),
                             {snap.address, s.unitId}))
                    return false;
                target = s.unitId;
            }
        }
        if (!target) {
            target = d->NewUnit(snap.address, QString(), side, snap.commandCount, at);
            if (!target)
                return false;
        }
        if (s.provisionalUnit && s.provisionalUnit != *target) {
            if (!d->MergeUnit(s.provisionalUnit, *target))
                return false;
        }
        s.provisionalUnit = 0;
        s.unitId = *target;
        s.namedByConfig = true;
        if (!d->Exec(QStringLiteral("UPDATE units SET side = ?, command_count = ? WHERE id = ?"),
                     {SideNumber(side), snap.commandCount, *target}) ||
            !d->Exec(QStringLiteral("UPDATE visits SET %1 = ? WHERE id = ?")
                         .arg(side == UnitSide::Local ? QLatin1String("local_address")
                                                      : QLatin1String("remote_address")),
                     {snap.address, d->visitId}))
            return false;
        const auto snapId = d->InsertSnapshot(*target, side, port, at, snap);
        if (!snapId)
            return false;
        if (s.configWrite) {
            const ConfigDifference diff = DiffConfigs(s.configWrite->written, snap);
            bool same = !diff.address;
            for (int row = 0; row < 3; ++row)
                for (int k = 0; k < snap.commandCount; ++k)
                    same = same && !diff.codes[row][k];
            if (!d->Decide(s.configWrite->actionId, same, *snapId))
                return false;
            s.configWrite.reset();
        }
        s.lastConfig = snap;
        s.lastConfigId = *snapId;
        return true;
    });
}

bool VisitRecorder::ClockAnswer(UnitSide side, const QString& port, const PcTime& at,
                                const QByteArray& answer) {
    if (answer.size() != 7)
        return d->Fail(
            QStringLiteral("a date-and-time answer of %1 bytes is not complete").arg(answer.size()));
    return d->Fact(port, at, [&] {
        SideState& s = d->sides[SideNumber(side)];
        const auto unit = d->CurrentUnit(side, at, nullptr);
        if (!unit)
            return false;
        const auto diff = ClockDifferenceMs(answer, at);
        QSqlQuery q(d->db());
        q.prepare(
            QStringLiteral("INSERT INTO clock_readings (visit_id, unit_id, side, pc_utc, utc_offset, port, "
                           "unit_clock, difference_ms, bytes) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"));
        for (const QVariant& v :
             QVariantList{d->visitId, *unit, SideNumber(side), at.utcMs, at.offsetSeconds, Text(port),
                          ClockAnswerText(answer),
                          diff ? QVariant(*diff) : QVariant(QMetaType(QMetaType::LongLong)), answer})
            q.addBindValue(v);
        if (!q.exec())
            return d->Fail(q);
        const qint64 readingId = LastInsertId(d->db(), q);
        if (s.clockWrite) {
            if (!d->Decide(s.clockWrite->actionId,
                           ClockShowsWrite(answer, s.clockWrite->sent, s.clockWrite->at, at), readingId))
                return false;
            s.clockWrite.reset();
        }
        s.lastClockText = ClockAnswerText(answer);
        return d->TouchUnit(*unit, side);
    });
}

bool VisitRecorder::ConfigWrite(UnitSide side, const QString& port, const PcTime& at, const QByteArray& block,
                                int commandCount) {
    ConfigSnapshot snap;
    if (!SnapshotFromBlock(block, commandCount, &snap))
        return d->Fail(QStringLiteral("a configuration block of %1 bytes is not one").arg(block.size()));
    return d->Fact(port, at, [&] {
        SideState& s = d->sides[SideNumber(side)];
        const auto unit = d->CurrentUnit(side, at, nullptr);
        if (!unit)
            return false;
        const auto snapId = d->InsertSnapshot(*unit, side, port, at, snap);
        if (!snapId)
            return false;
        const QString before = s.lastConfig ? ConfigSummary(*s.lastConfig) : QString();
        const auto action = d->InsertAction(*unit, side, port, at, QStringLiteral("config-write"), block,
                                            before, s.lastConfigId);
        if (!action)
            return false;
        s.configWrite = PendingConfigWrite{*action, snap};
        return d->TouchUnit(*unit, side);
    });
}

bool VisitRecorder::ClockWrite(UnitSide side, const QString& port, const PcTime& at, const QByteArray& sent) {
    return d->Fact(port, at, [&] {
        SideState& s = d->sides[SideNumber(side)];
        const auto unit = d->CurrentUnit(side, at, nullptr);
        if (!unit)
            return false;
        const auto action =
            d->InsertAction(*unit, side, port, at, QStringLiteral("clock-write"), sent, s.lastClockText, 0);
        if (!action)
            return false;
        s.clockWrite = PendingClockWrite{*action, sent, at};
        return d->TouchUnit(*unit, side);
    });
}

bool VisitRecorder::RecordClear(UnitSide side, const QString& port, const PcTime& at) {
    return d->Fact(port, at, [&] {
        SideState& s = d->sides[SideNumber(side)];
        const auto unit = d->CurrentUnit(side, at, nullptr);
        if (!unit)
            return false;
        const QString before =
            s.lastRecordCount >= 0 ? RecordHeaderText(s.lastRecordCount, false) : QString();
        const auto action =
            d->InsertAction(*unit, side, port, at, QStringLiteral("record-clear"), QByteArray(), before, 0);
        if (!action)
            return false;
        s.clear = PendingClear{*action};
        return d->TouchUnit(*unit, side);
    });
}

bool VisitRecorder::PasswordChange(const PcTime& at) {
    return d->Fact(QString(), at, [&] {
        return d
            ->InsertAction(std::nullopt, UnitSide::Local, QString(), at, QStringLiteral("password-change"),
                           QByteArray(), QString(), 0)
            .has_value();
    });
}

bool VisitRecorder::ImportedFile(qint64 unitId, UnitSide side, const QString& path, const PcTime& at,
                                 const QByteArray& content, const QList<QPair<qint64, int>>& events,
                                 int* newEvents, bool* unchanged) {
    *newEvents = 0;
    *unchanged = false;
    // The same file imported before into this unit adds nothing, not even a visit.
    const QString hash = ContentHash(content);
    {
        QSqlQuery q(d->db());
        q.prepare(QStringLiteral("SELECT COUNT(*) FROM reads WHERE unit_id = ? AND content_hash = ?"));
        q.addBindValue(unitId);
        q.addBindValue(hash);
        if (!q.exec() || !q.next())
            return d->Fail(q);
        if (q.value(0).toInt() > 0) {
            *unchanged = true;
            return true;
        }
    }
    return d->Fact(path, at, [&] {
        const auto readId = d->InsertRead(unitId, side, path, at, QStringLiteral("import"), content,
                                          int(events.size()), hash);
        if (!readId)
            return false;
        int known = 0;
        if (!d->InsertEvents(unitId, side, *readId, at, events, newEvents, &known))
            return false;
        return d->Exec(QStringLiteral("UPDATE reads SET new_events = ? WHERE id = ?"),
                       {*newEvents, *readId}) &&
               d->TouchUnit(unitId, side);
    });
}

std::optional<qint64> VisitRecorder::UnitHolding(const QList<QPair<qint64, int>>& events) {
    return d->UnitByOverlap(events);
}

std::optional<qint64> VisitRecorder::UnitNamed(const QString& name, UnitSide side, const PcTime& at) {
    QSqlQuery q(d->db());
    q.prepare(QStringLiteral("SELECT id FROM units WHERE name = ? ORDER BY id"));
    q.addBindValue(name);
    if (!q.exec()) {
        d->Fail(q);
        return std::nullopt;
    }
    if (q.next())
        return q.value(0).toLongLong();
    bool isNumber = false;
    const int address = name.toInt(&isNumber);
    if (isNumber && address >= 0 && address <= 65000) {
        bool failed = false;
        if (const auto unit = d->UnitWithAddress(address, &failed))
            return unit;
        if (failed)
            return std::nullopt;
    }
    std::optional<qint64> created;
    if (!d->Fact(QString(), at, [&] {
            created = d->NewUnit(std::nullopt, name, side, std::nullopt, at);
            return created.has_value();
        }))
        return std::nullopt;
    return created;
}

PcTime PcTimeNow() {
    const QDateTime now = QDateTime::currentDateTime();
    return {now.toMSecsSinceEpoch(), now.offsetFromUtc()};
}
