#include "archive/Matching.h"

#include "archive/ArchiveFormat.h"
#include "records/RecordFormat.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <limits>

// The archive's readers of a link: which units, their events, what each read of their logs saw,
// the clock readings and the clock writes. The only SQL of the matching.

namespace {

bool UnitOfRow(Archive& archive, qint64 id, UnitRow* out, QString* error) {
    const std::optional<UnitRow> unit = archive.Unit(id);
    if (!unit) {
        *error = QStringLiteral("unit #%1 is not in the archive").arg(id);
        return false;
    }
    *out = *unit;
    return true;
}

// The unit a visit met last at each side, from the table `table` (reads or configuration answers).
bool UnitsOfVisit(Archive& archive, const char* table, qint64 visitId, std::optional<qint64> units[2],
                  QString* error) {
    QSqlQuery q(archive.Database());
    q.prepare(QStringLiteral("SELECT unit_id, side FROM %1 WHERE visit_id = ? ORDER BY id")
                  .arg(QLatin1String(table)));
    q.addBindValue(visitId);
    if (!q.exec()) {
        *error = q.lastError().text();
        archive.SetLastError(*error);
        return false;
    }
    while (q.next()) {
        const int side = q.value(1).toInt() == 0 ? 0 : 1;
        if (!units[side])
            units[side] = q.value(0).toLongLong();
    }
    return true;
}

std::optional<UnitRow> UnitNamed(Archive& archive, const QString& name, QString* error) {
    const QString n = name.trimmed();
    if (n.startsWith('#')) {
        bool ok = false;
        const qint64 id = n.mid(1).toLongLong(&ok);
        if (ok)
            if (std::optional<UnitRow> unit = archive.Unit(id))
                return unit;
        *error = QStringLiteral("no unit %1 in the archive").arg(n);
        return std::nullopt;
    }
    bool isNumber = false;
    const int address = n.toInt(&isNumber);
    std::optional<UnitRow> byName;
    int named = 0;
    const QList<UnitRow> units = archive.Units();
    if (!archive.LastError().isEmpty()) {
        *error = archive.LastError();
        return std::nullopt;
    }
    for (const UnitRow& unit : units) {
        if (isNumber && unit.address == address)
            return unit;
        if (unit.name == n) {
            byName = unit;
            ++named;
        }
    }
    if (named > 1) {
        *error = QStringLiteral("more than one unit is called \"%1\"; name it as #id").arg(n);
        return std::nullopt;
    }
    if (!byName)
        *error = QStringLiteral("no unit \"%1\" in the archive").arg(n);
    return byName;
}

} // namespace

bool LinkOfVisit(Archive& archive, qint64 visitId, LinkEnds* ends, QString* error) {
    archive.SetLastError(QString());
    QSqlQuery q(archive.Database());
    q.prepare(QStringLiteral("SELECT id FROM visits WHERE id = ?"));
    q.addBindValue(visitId);
    if (!q.exec()) {
        *error = q.lastError().text();
        archive.SetLastError(*error);
        return false;
    }
    if (!q.next()) {
        *error = QStringLiteral("visit %1 is not in the archive").arg(visitId);
        return false;
    }
    std::optional<qint64> units[2];
    if (!UnitsOfVisit(archive, "reads", visitId, units, error) ||
        !UnitsOfVisit(archive, "config_snapshots", visitId, units, error))
        return false;
    if (!units[0] || !units[1]) {
        *error = QStringLiteral("visit %1 met no %2 unit").arg(visitId).arg(units[0] ? "remote" : "local");
        return false;
    }
    // One unit at both ends (records of both sides filed under one unit): its log against itself
    // would show every command lost and every receive unwanted.
    if (*units[0] == *units[1]) {
        *error = QStringLiteral("visit %1 met the same unit at both sides (unit #%2): a link needs two units")
                     .arg(visitId)
                     .arg(*units[0]);
        return false;
    }
    if (!UnitOfRow(archive, *units[0], &ends->local, error) ||
        !UnitOfRow(archive, *units[1], &ends->remote, error))
        return false;
    ends->visitId = visitId;
    return true;
}

std::optional<qint64> VisitIdOf(Archive& archive, const QString& text) {
    archive.SetLastError(QString());
    bool isNumber = false;
    const qint64 number = text.trimmed().toLongLong(&isNumber);
    QSqlQuery q(archive.Database());
    q.prepare(isNumber ? QStringLiteral("SELECT id FROM visits WHERE id = ?")
                       : QStringLiteral("SELECT id FROM visits WHERE uuid = ?"));
    q.addBindValue(isNumber ? QVariant(number) : QVariant(text.trimmed().toLower()));
    if (!q.exec()) {
        archive.SetLastError(q.lastError().text());
        return std::nullopt;
    }
    if (!q.next())
        return std::nullopt;
    return q.value(0).toLongLong();
}

bool LinkOfUnits(Archive& archive, const QString& localName, const QString& remoteName, LinkEnds* ends,
                 QString* error) {
    archive.SetLastError(QString());
    const std::optional<UnitRow> local = UnitNamed(archive, localName, error);
    if (!local)
        return false;
    const std::optional<UnitRow> remote = UnitNamed(archive, remoteName, error);
    if (!remote)
        return false;
    if (local->id == remote->id) {
        *error = QStringLiteral("\"%1\" and \"%2\" are the same unit").arg(localName, remoteName);
        return false;
    }
    ends->local = *local;
    ends->remote = *remote;
    ends->visitId.reset();
    return true;
}

namespace {

bool Failed(Archive& archive, const QSqlQuery& q, QString* error) {
    *error = q.lastError().text();
    archive.SetLastError(*error);
    return false;
}

// The spans of a unit's clock its reads saw: a record answer's oldest to newest valid record; an
// imported file (kept as text) by the events it first kept.
bool ReadSpans(Archive& archive, qint64 unitId, std::optional<qint64> asOf, QList<CoveredSpan>* spans,
               QString* error) {
    QSqlQuery q(archive.Database());
    q.prepare(QStringLiteral("SELECT r.id, r.answer, MIN(e.unit_time), MAX(e.unit_time) FROM reads r "
                             "LEFT JOIN events e ON e.read_id = r.id WHERE r.unit_id = ? AND r.visit_id <= ? "
                             "GROUP BY r.id, r.answer ORDER BY r.id"));
    q.addBindValue(unitId);
    q.addBindValue(asOf.value_or(std::numeric_limits<qint64>::max()));
    if (!q.exec())
        return Failed(archive, q, error);
    while (q.next()) {
        const QByteArray answer = q.value(1).toByteArray();
        std::optional<qint64> lo;
        std::optional<qint64> hi;
        const auto take = [&](qint64 key) {
            EventRow row;
            row.unitTime = key;
            if (const std::optional<qint64> ms = EventUnitMs(row)) {
                lo = std::min(lo.value_or(*ms), *ms);
                hi = std::max(hi.value_or(*ms), *ms);
            }
        };
        const auto* b = reinterpret_cast<const unsigned char*>(answer.constData());
        const bool isAnswer = answer.size() >= 2 && (b[0] == 0x78 || b[0] == 0x87) &&
                              answer.size() == 2 + kEventRecordLength * b[1];
        if (isAnswer) {
            for (int k = 0; k < b[1]; ++k)
                take(UnitTimeKey(b + 2 + kEventRecordLength * k));
        } else if (!q.value(2).isNull()) {
            take(q.value(2).toLongLong());
            take(q.value(3).toLongLong());
        }
        if (lo)
            spans->append({*lo, *hi});
    }
    return true;
}

// The clock writes to either unit, each placed on its unit's clock by the first reading of that
// unit after it in the same visit, else at the PC's local time of the write.
bool ReadClockWrites(Archive& archive, const LinkEnds& ends, const LinkEvents& e, std::optional<qint64> asOf,
                     QList<ClockWriteMark>* marks, QString* error) {
    QSqlQuery q(archive.Database());
    q.prepare(
        QStringLiteral("SELECT unit_id, visit_id, pc_utc, utc_offset FROM actions WHERE kind = 'clock-write' "
                       "AND unit_id IN (?, ?) AND visit_id <= ? ORDER BY pc_utc, id"));
    q.addBindValue(ends.local.id);
    q.addBindValue(ends.remote.id);
    q.addBindValue(asOf.value_or(std::numeric_limits<qint64>::max()));
    if (!q.exec())
        return Failed(archive, q, error);
    while (q.next()) {
        ClockWriteMark m;
        m.end = q.value(0).toLongLong() == ends.local.id ? UnitSide::Local : UnitSide::Remote;
        m.visitId = q.value(1).toLongLong();
        const qint64 utc = q.value(2).toLongLong();
        const double pcLocal = double(utc) + q.value(3).toDouble() * 1000.0;
        m.unitMs = pcLocal;
        for (const ClockReading& r : m.end == UnitSide::Local ? e.localClock : e.remoteClock)
            if (r.visitId == m.visitId && r.time.utcMs >= utc) {
                m.unitMs = pcLocal + double(r.differenceMs);
                break;
            }
        marks->append(m);
    }
    return true;
}

} // namespace

bool ReadLinkEvents(Archive& archive, const LinkEnds& ends, LinkEvents* events, QString* error,
                    std::optional<qint64> asOfVisit) {
    *events = LinkEvents();
    events->asOfVisit = asOfVisit;
    const qint64 last = asOfVisit.value_or(std::numeric_limits<qint64>::max());
    for (int end = 0; end < 2; ++end) {
        const UnitRow& unit = end == 0 ? ends.local : ends.remote;
        QList<EventRow>& rows = end == 0 ? events->local : events->remote;
        EventFilter filter;
        filter.unitId = unit.id;
        if (!archive.ForEachEvent(filter, EventSort::UnitTime, Qt::AscendingOrder,
                                  [&rows, last](const EventRow& row) {
                                      if (row.visitId <= last)
                                          rows.append(row);
                                      return true;
                                  })) {
            *error = archive.LastError();
            return false;
        }
        QList<ClockReading> readings = archive.ClockHistory(unit.id);
        readings.removeIf([last](const ClockReading& r) { return r.visitId > last; });
        (end == 0 ? events->localClock : events->remoteClock) = readings;
        if (!ReadSpans(archive, unit.id, asOfVisit, end == 0 ? &events->localCovered : &events->remoteCovered,
                       error))
            return false;
    }
    return ReadClockWrites(archive, ends, *events, asOfVisit, &events->clockWrites, error);
}
