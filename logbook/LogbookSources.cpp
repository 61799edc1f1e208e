#include "logbook/LogbookSources.h"

#include "archive/Archive.h"
#include "archive/ArchiveFormat.h"
#include "archive/AuditTrail.h"
#include "logbook/LogbookLanguage.h"

#include <QDateTime>
#include <QHash>
#include <QSqlQuery>

QString UnitLabelText(const QString& name, std::optional<int> address, qint64 id, Lang lang) {
    if (!name.isEmpty())
        return name;
    if (address)
        return LbText(lang, "Address %1", "地址 %1").arg(*address);
    return LbText(lang, "Unit #%1", "装置 #%1").arg(id);
}

QString UnitLabelText(const UnitRow& unit, Lang lang) {
    return UnitLabelText(unit.name, unit.address, unit.id, lang);
}

QString SideLabel(UnitSide side, Lang lang) {
    return side == UnitSide::Local ? LbText(lang, "Local", "本地") : LbText(lang, "Remote", "对端");
}

EventSort SortOfEventColumn(int column) {
    switch (column) {
    case ColUnit:
        return EventSort::Unit;
    case ColSide:
        return EventSort::Side;
    case ColCode:
    case ColText: // texts are never stored: the text column sorts by its code
        return EventSort::Code;
    case ColFirstSeen:
        return EventSort::FirstSeen;
    case ColVisit:
        return EventSort::Visit;
    default:
        return EventSort::UnitTime;
    }
}

namespace {

QDateTime pcTimeOf(const PcTime& t) {
    return QDateTime::fromMSecsSinceEpoch(t.utcMs, Qt::OffsetFromUTC, t.offsetSeconds);
}

bool openArchive(Archive& archive, const QString& path, QString* error) {
    if (archive.Open(path, Archive::Mode::ReadOnly))
        return true;
    *error = archive.LastError();
    return false;
}

class CEventSource : public CPageSource {
public:
    explicit CEventSource(QString path) : m_path(std::move(path)) {}

    bool Open(QString* error) override { return openArchive(m_archive, m_path, error) && LoadUnits(error); }

    bool FetchRows(const PageQuery& query, qint64 offset, int limit, QList<QVariantList>* rows,
                   QString* error) override {
        const EventFilter filter = query.filter.value<EventFilter>();
        const EventSort sort = SortOfEventColumn(query.sortColumn);
        // A query always begins with its first page: the last rows kept are of the query before.
        if (offset == 0)
            m_lastOfPage.clear();
        const qint64 page = offset / limit;
        const auto before = m_lastOfPage.constFind(page - 1);
        const QList<EventRow> events =
            offset % limit == 0 && before != m_lastOfPage.constEnd()
                ? m_archive.EventPageAfter(filter, sort, query.order, *before, limit)
                : m_archive.EventPage(filter, sort, query.order, offset, limit);
        if (events.isEmpty() && !m_archive.LastError().isEmpty()) {
            *error = m_archive.LastError();
            return false;
        }
        if (!events.isEmpty() && offset % limit == 0)
            m_lastOfPage.insert(page, events.last());
        rows->reserve(events.size());
        bool unitsRead = false;
        for (const EventRow& e : events) {
            if (!m_units.contains(e.unitId) && !unitsRead) {
                unitsRead = true;
                QString ignored; // a unit the service program added since; without it, "Unit #id"
                LoadUnits(&ignored);
            }
            const UnitRow unit = m_units.value(e.unitId);
            QVariantList row(EventCells);
            row[CellUnitName] = unit.name;
            if (unit.address)
                row[CellUnitAddress] = *unit.address;
            row[CellUnitId] = e.unitId;
            row[CellSide] = int(e.side);
            row[CellUnitTime] = UnitTimeText(e.unitTime).replace(QLatin1Char('T'), QLatin1Char(' '));
            row[CellCode] = e.code;
            row[CellFirstSeen] = pcTimeOf(e.firstSeen);
            row[CellVisit] = e.visitId;
            rows->append(row);
        }
        return true;
    }

    bool FetchCount(const PageQuery& query, qint64* count, QVariant* summary, QString* error) override {
        const EventFilter filter = query.filter.value<EventFilter>();
        *count = m_archive.EventCount(filter);
        if (!m_archive.LastError().isEmpty()) {
            *error = m_archive.LastError();
            return false;
        }
        *summary = QVariant::fromValue(m_archive.EventCounters(filter));
        return true;
    }

private:
    bool LoadUnits(QString* error) {
        const QList<UnitRow> units = m_archive.Units();
        if (!m_archive.LastError().isEmpty()) {
            *error = m_archive.LastError();
            return false;
        }
        m_units.clear();
        for (const UnitRow& u : units)
            m_units.insert(u.id, u);
        return true;
    }

    QString m_path;
    Archive m_archive;
    QHash<qint64, UnitRow> m_units;
    QHash<qint64, EventRow> m_lastOfPage; // of the current query, by page
};

class CVisitSource : public CPageSource {
public:
    explicit CVisitSource(QString path) : m_path(std::move(path)) {}

    bool Open(QString* error) override { return openArchive(m_archive, m_path, error); }

    bool FetchRows(const PageQuery&, qint64 offset, int limit, QList<QVariantList>* rows,
                   QString* error) override {
        const QList<VisitRow> visits = m_archive.Visits(int(offset), limit);
        if (visits.isEmpty() && !m_archive.LastError().isEmpty()) {
            *error = m_archive.LastError();
            return false;
        }
        for (const VisitRow& v : visits) {
            QVariantList row(VisitCells);
            row[VisitId] = v.id;
            row[VisitStarted] = pcTimeOf(v.started);
            row[VisitUser] = v.pcUser;
            row[VisitHost] = v.pcHost;
            row[VisitPort] = v.port;
            row[VisitProgram] = v.program;
            if (v.localAddress)
                row[VisitLocal] = *v.localAddress;
            if (v.remoteAddress)
                row[VisitRemote] = *v.remoteAddress;
            row[VisitRecordReads] = v.recordReads;
            row[VisitNewEvents] = v.newEvents;
            row[VisitConfigReads] = v.configReads;
            row[VisitClockReadings] = v.clockReadings;
            row[VisitActions] = v.actions;
            rows->append(row);
        }
        return true;
    }

    bool FetchCount(const PageQuery&, qint64* count, QVariant*, QString* error) override {
        *count = m_archive.VisitCount();
        if (!m_archive.LastError().isEmpty()) {
            *error = m_archive.LastError();
            return false;
        }
        return true;
    }

private:
    QString m_path;
    Archive m_archive;
};

} // namespace

PageSourceFactory MakeEventSourceFactory(const QString& path) {
    return [path] { return std::make_unique<CEventSource>(path); };
}

PageSourceFactory MakeVisitSourceFactory(const QString& path) {
    return [path] { return std::make_unique<CVisitSource>(path); };
}

QList<UnitRow> LoadUnits(const QString& path, QString* error) {
    Archive archive;
    if (!openArchive(archive, path, error))
        return {};
    QList<UnitRow> units = archive.Units();
    *error = archive.LastError();
    return units;
}

UnitHistory LoadUnitHistory(const QString& path, qint64 unitId, QString* error) {
    Archive archive;
    if (!openArchive(archive, path, error))
        return {};
    UnitHistory h;
    h.snapshots = archive.ConfigHistory(unitId);
    if (archive.LastError().isEmpty())
        h.clock = archive.ClockHistory(unitId);
    *error = archive.LastError();
    return h;
}

QList<ActionEntry> LoadActions(const QString& path, int limit, bool* more, QString* error) {
    Archive archive;
    *more = false;
    if (!openArchive(archive, path, error))
        return {};
    QList<ActionRow> rows = archive.Actions(std::nullopt, 0, limit + 1);
    if (!archive.LastError().isEmpty()) {
        *error = archive.LastError();
        return {};
    }
    if (rows.size() > limit) {
        *more = true;
        rows.resize(limit);
    }
    QHash<qint64, UnitRow> units;
    for (const UnitRow& u : archive.Units())
        units.insert(u.id, u);
    QHash<qint64, QList<ConfigSnapshot>> histories;
    QList<ActionEntry> out;
    out.reserve(rows.size());
    for (const ActionRow& a : rows) {
        ActionEntry e;
        e.row = a;
        if (a.unitId) {
            const UnitRow u = units.value(*a.unitId);
            e.unitName = u.name;
            e.unitAddress = u.address;
        }
        if (a.kind == QLatin1String("config-write") && a.unitId) {
            auto h = histories.find(*a.unitId);
            if (h == histories.end())
                h = histories.insert(*a.unitId, archive.ConfigHistory(*a.unitId));
            // What the dialog showed: the unit's last configuration answer at that side before it.
            for (const ConfigSnapshot& s : *h)
                if (s.source == QLatin1String("read") && s.side == a.side && s.time.utcMs <= a.time.utcMs) {
                    e.before = s;
                    e.hasBefore = true;
                }
            e.hasWritten = SnapshotFromBlock(a.sent, e.hasBefore ? e.before.commandCount : 8, &e.written);
        }
        out << e;
    }
    DecideActions(archive, &out);
    // Who: the user and host of each action's visit.
    QHash<qint64, QString> users;
    QSqlQuery q(archive.Database());
    q.prepare(QStringLiteral("SELECT pc_user, pc_host FROM visits WHERE id = ?"));
    for (ActionEntry& e : out) {
        auto u = users.find(e.row.visitId);
        if (u == users.end()) {
            q.bindValue(0, e.row.visitId);
            QString who;
            if (q.exec() && q.next())
                who = q.value(0).toString() +
                      (q.value(1).toString().isEmpty() ? QString() : '@' + q.value(1).toString());
            u = users.insert(e.row.visitId, who);
        }
        e.user = *u;
    }
    *error = archive.LastError();
    return out;
}

void DecideActions(Archive& archive, QList<ActionEntry>* actions) {
    QList<ActionRow> rows;
    for (const ActionEntry& e : *actions)
        rows << e.row;
    const QHash<qint64, LaterReadBack> later = DecideByLaterReads(archive, rows);
    for (ActionEntry& e : *actions) {
        if (e.row.applied) {
            e.decidedBy = e.row.visitId;
        } else if (const auto d = later.constFind(e.row.id); d != later.constEnd()) {
            e.row.applied = d->applied;
            e.decidedBy = d->visitId;
        }
    }
}
