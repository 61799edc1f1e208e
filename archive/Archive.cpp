#include "archive/Archive.h"

#include "archive/ArchiveFormat.h"
#include "archive/Dialect.h"
#include "archive/ServerArchive.h"
#include "platform/SafeFile.h"

#include <QAtomicInteger>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimeZone>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QAtomicInteger<quint64> g_connectionCounter;

constexpr qint64 kJournalLimitBytes = 256 * 1024;

QString NowIsoUtc() {
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
}

// SQLite's primary result codes that mean the file is damaged or no database (sqlite3.h); QSQLITE
// gives the extended code as the native error code, its low byte the primary one.
constexpr int kSqliteCorrupt = 11;
constexpr int kSqliteNotADb = 26;

bool IsDamageCode(const QSqlError& error) {
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok);
    return ok && ((code & 0xff) == kSqliteCorrupt || (code & 0xff) == kSqliteNotADb);
}

bool IsSqlite(const QSqlDatabase& db) {
    return DialectOf(db) == Dialect::Sqlite;
}

int SideNumber(UnitSide side) {
    return side == UnitSide::Local ? 0 : 1;
}
UnitSide SideOfNumber(int n) {
    return n == 0 ? UnitSide::Local : UnitSide::Remote;
}

// The columns of an event row, in the order RowOfQuery reads them.
const char* const kEventColumns =
    "e.id, e.unit_id, e.side, e.unit_time, e.code, e.first_seen_utc, e.first_seen_offset, e.visit_id";

// The sort columns of each EventSort, the row id last.
QStringList SortColumns(EventSort sort) {
    switch (sort) {
    case EventSort::Unit:
        return {"e.unit_id", "e.unit_time", "e.code", "e.id"};
    case EventSort::Side:
        return {"e.side", "e.id"};
    case EventSort::UnitTime:
        return {"e.unit_time", "e.code", "e.id"};
    case EventSort::Code:
        return {"e.code", "e.id"};
    case EventSort::FirstSeen:
        return {"e.id"};
    case EventSort::Visit:
        return {"e.visit_id", "e.id"};
    }
    return {"e.id"};
}

QVariantList SortValues(EventSort sort, const EventRow& r) {
    switch (sort) {
    case EventSort::Unit:
        return {r.unitId, r.unitTime, r.code, r.id};
    case EventSort::Side:
        return {SideNumber(r.side), r.id};
    case EventSort::UnitTime:
        return {r.unitTime, r.code, r.id};
    case EventSort::Code:
        return {r.code, r.id};
    case EventSort::FirstSeen:
        return {r.id};
    case EventSort::Visit:
        return {r.visitId, r.id};
    }
    return {r.id};
}

} // namespace

QString DefaultArchivePath() {
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/lmx207/logbook.sqlite");
}

QString ArchiveJournalPath(const QString& databasePath) {
    const QString db = databasePath.isEmpty() ? DefaultArchivePath() : databasePath;
    return QFileInfo(db).absolutePath() + QStringLiteral("/logbook-journal.txt");
}

bool IsDefaultArchivePath(const QString& path) {
    return !path.isEmpty() &&
           QFileInfo(path).absoluteFilePath() == QFileInfo(DefaultArchivePath()).absoluteFilePath();
}

QList<JournalEntry> ReadArchiveJournal(const QString& databasePath, int limit) {
    QList<JournalEntry> entries;
    const FileReading file = ReadOwnFile(ArchiveJournalPath(databasePath), 4 * kJournalLimitBytes);
    if (file.status != FileReading::Read)
        return entries;
    const QList<QByteArray> lines = file.bytes.split('\n');
    for (const QByteArray& raw : lines) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty())
            continue;
        const qsizetype gap = line.indexOf(QStringLiteral("  "));
        JournalEntry e;
        e.time = gap < 0 ? QString() : line.left(gap);
        e.message = gap < 0 ? line : line.mid(gap + 2);
        entries << e;
    }
    if (limit >= 0 && entries.size() > limit)
        entries = entries.mid(entries.size() - limit);
    return entries;
}

bool AppendArchiveJournal(const QString& databasePath, const QString& message) {
    try {
        const QString path = ArchiveJournalPath(databasePath);
        if (!MakeOwnFolder(QFileInfo(path).absolutePath(), nullptr))
            return false;
        if (QFileInfo(path).size() > kJournalLimitBytes) {
            const FileReading old = ReadOwnFile(path, 4 * kJournalLimitBytes);
            if (old.status == FileReading::Read) {
                QByteArray rest = old.bytes.mid(old.bytes.size() / 2);
                rest = rest.mid(rest.indexOf('\n') + 1);
                ReplaceFile(path, rest, 0600, InPlaceWrite::Never, nullptr);
            }
        }
        QString text = message;
        text.replace('\n', ' ');
        const QByteArray line = (NowIsoUtc() + QStringLiteral("  ") + text + '\n').toUtf8();
        return AppendOwnFile(path, line, false, nullptr);
    } catch (...) {
        return false;
    }
}

struct Archive::Private {
    QString connectionName;
    QSqlDatabase db;
    QString path;
    QString lastError;
    bool lastErrorIsDamage = false;
    bool lastErrorFromDatabase = false;
    QString setAsideAs;
    Mode mode = Mode::ReadOnly;
    int transactionDepth = 0;
    QHash<qint64, QString> unitLabels;
    QHash<qint64, QString> visitUuids;

    bool Fail(const QSqlError& error) {
        lastError = error.text();
        lastErrorIsDamage = IsDamageCode(error);
        lastErrorFromDatabase = true;
        return false;
    }
    bool Exec(QSqlQuery& q) { return q.exec() || Fail(q.lastError()); }
    bool Exec(const QString& sql) {
        QSqlQuery q(db);
        return q.exec(sql) || Fail(q.lastError());
    }
};

Archive::Archive() : d(std::make_unique<Private>()) {
    d->connectionName = QStringLiteral("lmx207-archive-%1").arg(++g_connectionCounter);
}

Archive::~Archive() {
    Close();
}

bool Archive::IsOpen() const {
    return d->db.isValid() && d->db.isOpen();
}
QString Archive::Path() const {
    return d->path;
}
QString Archive::LastError() const {
    return d->lastError;
}
QString Archive::SetAsideAs() const {
    return d->setAsideAs;
}
QSqlDatabase& Archive::Database() {
    return d->db;
}
void Archive::SetLastError(const QString& text) {
    d->lastError = text;
    d->lastErrorIsDamage = false;
    d->lastErrorFromDatabase = false;
}
void Archive::SetLastError(const QSqlError& error) {
    d->Fail(error);
}
bool Archive::LastErrorIsDamage() const {
    return d->lastErrorIsDamage;
}
bool Archive::LastErrorFromDatabase() const {
    return d->lastErrorFromDatabase;
}

void Archive::Close() {
    if (d->db.isValid()) {
        d->db.close();
        d->db = QSqlDatabase();
        QSqlDatabase::removeDatabase(d->connectionName);
    }
    d->unitLabels.clear();
    d->visitUuids.clear();
}

namespace {

QString NotSqliteText() {
    return QStringLiteral("not an SQLite database");
}

// Whether the open file `fd` begins with SQLite's 16-byte header.
bool HasSqliteHeader(int fd) {
    char header[16];
    return ::pread(fd, header, sizeof header, 0) == ssize_t(sizeof header) &&
           QByteArray(header, 16) == QByteArray("SQLite format 3\0", 16);
}

// What makes the file at `path` no archive of this program, or empty when it may be one: a file
// that is not SQLite (present, not empty, without SQLite's header), an SQLite database with tables
// but no schema version, or one SQLite finds damaged. Reads the file without changing it.
// *asideable: the file is this account's own regular file, which may be set aside; a link not
// followed, a folder or another account's file never is.
QString ForeignReason(const QString& path, const QString& connectionName, bool* asideable) {
    *asideable = false;
    QString why;
    const int fd = OpenOwnFile(path, O_RDONLY, &why);
    if (fd < 0)
        return why;
    *asideable = true;
    const bool empty = ::lseek(fd, 0, SEEK_END) == 0;
    const bool sqlite = HasSqliteHeader(fd);
    ::close(fd);
    if (empty)
        return {};
    if (!sqlite)
        return NotSqliteText();
    {
        QSqlDatabase probe = QSqlDatabase::addDatabase(DriverOf(Dialect::Sqlite), connectionName);
        probe.setDatabaseName(path);
        probe.setConnectOptions(SqliteConnectOptions(true));
        if (probe.open()) {
            QSqlQuery q(probe);
            QStringList tables;
            if (q.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table'")))
                while (q.next())
                    tables << q.value(0).toString();
            if (q.lastError().isValid()) {
                // Only damage makes it no archive; any other failure is the opening's to report.
                if (IsDamageCode(q.lastError()))
                    why = q.lastError().text();
            } else if (!tables.isEmpty() && !tables.contains(QStringLiteral("schema_version"))) {
                why = QStringLiteral("an SQLite database of another program");
            }
        } else if (IsDamageCode(probe.lastError())) {
            why = probe.lastError().text();
        }
        probe.close();
    }
    QSqlDatabase::removeDatabase(connectionName);
    return why;
}

// Whether the open database `db` is damaged: a statement over its pages fails with a damage code
// or the quick check finds a fault.
bool LooksDamaged(QSqlDatabase& db) {
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("PRAGMA quick_check(1)")) || !q.next())
        return IsDamageCode(q.lastError());
    return q.value(0).toString() != QLatin1String("ok");
}

// Renames the damaged database (and its log files) aside, never over an existing file.
QString SetAside(const QString& path) {
    const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddTHHmmssZ"));
    QString target;
    if (!MoveAside(path, path + QStringLiteral(".damaged-") + stamp, &target))
        return {};
    for (const char* suffix : {"-wal", "-shm"})
        if (QFileInfo::exists(path + suffix) && !MoveAside(path + suffix, target + suffix, nullptr))
            QFile::remove(path + suffix); // a log of the damaged file must not meet the new one
    return target;
}

} // namespace

bool Archive::Open(const QString& pathIn, Mode mode) {
    Close();
    d->lastError.clear();
    d->lastErrorIsDamage = false;
    d->setAsideAs.clear();
    d->mode = mode;
    d->path = pathIn.isEmpty() ? DefaultArchivePath() : pathIn;
    const QString& path = d->path;
    if (IsServerLocation(path)) {
        // A server: created and upgraded by ReadWrite (lmx207-logbook server init), never set aside.
        d->db = QSqlDatabase::addDatabase(DriverOf(Dialect::Postgres), d->connectionName);
        QString why;
        if (!d->db.isValid())
            why = QStringLiteral("the Qt PostgreSQL driver (QPSQL) is missing: install libqt6sql6-psql");
        else if (OpenServerConnection(d->db, ConninfoOfLocation(path), &why) &&
                 (mode == Mode::ReadWrite ? PrepareSchema(d->db, &why) : CheckSchema(d->db, &why)))
            return true;
        d->lastError = why;
        Close();
        return false;
    }
    if (mode == Mode::ReadOnly && !QFileInfo::exists(path)) {
        d->lastError = QStringLiteral("%1: no archive there").arg(path);
        return false;
    }
    const bool isDefault = IsDefaultArchivePath(path);
    const auto setAside = [&](const QString& why) {
        d->setAsideAs = SetAside(path);
        if (d->setAsideAs.isEmpty()) {
            d->lastError = QStringLiteral("%1 is damaged (%2) and cannot be renamed aside").arg(path, why);
            return false;
        }
        AppendArchiveJournal(path, QStringLiteral("%1 was damaged (%2): kept as %3, a new archive started")
                                       .arg(path, why, d->setAsideAs));
        return true;
    };
    if (mode == Mode::ReadWrite) {
        const QString folder = QFileInfo(path).absolutePath();
        QString why;
        if (!MakeOwnFolder(folder, &why)) {
            d->lastError = QStringLiteral("%1: the folder cannot be used: %2").arg(folder, why);
            return false;
        }
        if (QFileInfo::exists(path) || QFileInfo(path).isSymLink()) {
            bool asideable = false;
            why = ForeignReason(path, d->connectionName, &asideable);
            if (!why.isEmpty() && !asideable) {
                d->lastError = QStringLiteral("%1 cannot be used: %2").arg(path, why);
                return false;
            }
            if (!why.isEmpty() && !isDefault) {
                d->lastError =
                    QStringLiteral("%1 is not an archive of this program (%2): left as it is").arg(path, why);
                return false;
            }
            if (!why.isEmpty() && !setAside(why))
                return false;
        }
        // Created here, 0600 from its first byte; SQLite then writes a new database into the empty
        // file, and gives its -wal and -shm files the same mode.
        const int fd = OpenOwnFile(path, O_RDWR | O_CREAT, &why);
        if (fd < 0) {
            d->lastError = QStringLiteral("%1 cannot be used: %2").arg(path, why);
            return false;
        }
        ::close(fd);
    }
    if (mode == Mode::ReadOnly) {
        // A reader is told what a file that is no database is, before SQLite fails on it with
        // whatever its first statement meets.
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        struct stat st;
        if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
            !HasSqliteHeader(fd)) {
            ::close(fd);
            d->lastError = QStringLiteral("%1 is not an archive of this program (%2): left as it is")
                               .arg(path, NotSqliteText());
            return false;
        }
        if (fd >= 0)
            ::close(fd);
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        d->db = QSqlDatabase::addDatabase(DriverOf(Dialect::Sqlite), d->connectionName);
        if (!d->db.isValid()) {
            d->lastError =
                QStringLiteral("the Qt SQLite driver (QSQLITE) is missing: install libqt6sql6-sqlite");
            Close();
            return false;
        }
        d->db.setDatabaseName(path);
        d->db.setConnectOptions(SqliteConnectOptions(mode == Mode::ReadOnly));
        if (!d->db.open()) {
            d->Fail(d->db.lastError());
            Close();
            return false;
        }
        QString why;
        const bool ok = mode == Mode::ReadWrite ? PrepareSchema(d->db, &why) : CheckSchema(d->db, &why);
        if (ok)
            return true;
        const bool damaged = LooksDamaged(d->db);
        d->lastError = why;
        d->lastErrorIsDamage = damaged;
        Close();
        if (mode == Mode::ReadOnly || attempt > 0 || !damaged || !isDefault || !setAside(why))
            return false;
        const int fd = OpenOwnFile(path, O_RDWR | O_CREAT | O_EXCL, &why);
        if (fd < 0) {
            d->lastError = QStringLiteral("%1 cannot be used: %2").arg(path, why);
            return false;
        }
        ::close(fd);
    }
    return false;
}

bool Archive::SetAsideAndStartAgain() {
    const QString path = d->path;
    if (!IsDefaultArchivePath(path) || d->mode != Mode::ReadWrite) {
        d->lastError = QStringLiteral("%1 is damaged: only the default archive is set aside").arg(path);
        return false;
    }
    const QString why = d->lastError;
    Close();
    const QString aside = SetAside(path);
    if (aside.isEmpty()) {
        d->lastError = QStringLiteral("%1 is damaged (%2) and cannot be renamed aside").arg(path, why);
        return false;
    }
    AppendArchiveJournal(
        path, QStringLiteral("%1 was damaged (%2): kept as %3, a new archive started").arg(path, why, aside));
    const bool opened = Open(path, Mode::ReadWrite);
    if (d->setAsideAs.isEmpty())
        d->setAsideAs = aside;
    return opened;
}

namespace {

// One statement of a transaction's frame, its failure kept in *failed.
bool Run(QSqlDatabase& db, const char* sql, QSqlError* failed) {
    QSqlQuery q(db);
    if (q.exec(QString::fromLatin1(sql)))
        return true;
    *failed = q.lastError();
    return false;
}

} // namespace

bool Archive::InTransaction(const std::function<bool()>& work) {
    if (!IsOpen()) {
        d->lastError = QStringLiteral("the archive is not open");
        return false;
    }
    if (d->transactionDepth > 0) {
        // Inside an outer transaction: its end commits or rolls back this work too.
        try {
            return work();
        } catch (...) {
            d->lastError = QStringLiteral("unexpected failure while writing");
            return false;
        }
    }
    // SQLite: BEGIN IMMEDIATE takes the write lock now, waiting the busy timeout for another
    // writer; a plain BEGIN would read first and then get "busy" at once at its first write.
    const bool sqlite = IsSqlite(d->db);
    QSqlError failed;
    if (sqlite ? !Run(d->db, "BEGIN IMMEDIATE", &failed) : !d->db.transaction()) {
        d->Fail(sqlite ? failed : d->db.lastError());
        return false;
    }
    bool ok = false;
    ++d->transactionDepth;
    try {
        ok = work();
    } catch (...) {
        ok = false;
        d->lastError = QStringLiteral("unexpected failure while writing");
    }
    --d->transactionDepth;
    if (ok && (sqlite ? Run(d->db, "COMMIT", &failed) : d->db.commit()))
        return true;
    if (ok)
        d->Fail(sqlite ? failed : d->db.lastError());
    if (sqlite)
        Run(d->db, "ROLLBACK", &failed);
    else
        d->db.rollback();
    return false;
}

// --- queries ---------------------------------------------------------------------------------------

QList<UnitRow> Archive::Units() {
    QList<UnitRow> units;
    QSqlQuery q(d->db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral(
            "SELECT id, uuid, name, address, side, command_count, event_count FROM units ORDER BY id"))) {
        d->Fail(q.lastError());
        return units;
    }
    while (q.next()) {
        UnitRow u;
        u.id = q.value(0).toLongLong();
        u.uuid = q.value(1).toString();
        u.name = q.value(2).toString();
        if (!q.value(3).isNull())
            u.address = q.value(3).toInt();
        if (!q.value(4).isNull())
            u.side = SideOfNumber(q.value(4).toInt());
        if (!q.value(5).isNull())
            u.commandCount = q.value(5).toInt();
        u.eventCount = q.value(6).toLongLong();
        d->unitLabels.insert(u.id, UnitLabel(u));
        units << u;
    }
    d->lastError.clear();
    return units;
}

std::optional<UnitRow> Archive::Unit(qint64 id) {
    for (const UnitRow& u : Units())
        if (u.id == id)
            return u;
    return std::nullopt;
}

qint64 Archive::VisitCount() {
    QSqlQuery q(d->db);
    if (!q.exec(QStringLiteral("SELECT COUNT(*) FROM visits")) || !q.next()) {
        d->Fail(q.lastError());
        return 0;
    }
    return q.value(0).toLongLong();
}

QList<VisitRow> Archive::Visits(int offset, int limit) {
    QList<VisitRow> visits;
    QSqlQuery q(d->db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral(
        "SELECT v.id, v.uuid, v.started_utc, v.utc_offset, v.pc_user, v.pc_host, v.port, v.program, "
        "v.local_address, v.remote_address, "
        "(SELECT COUNT(*) FROM reads r WHERE r.visit_id = v.id), "
        "(SELECT COALESCE(SUM(r.new_events), 0) FROM reads r WHERE r.visit_id = v.id), "
        "(SELECT COUNT(*) FROM config_snapshots c WHERE c.visit_id = v.id AND c.source = 'read'), "
        "(SELECT COUNT(*) FROM clock_readings k WHERE k.visit_id = v.id), "
        "(SELECT COUNT(*) FROM actions a WHERE a.visit_id = v.id) "
        "FROM visits v ORDER BY v.started_utc DESC, v.id DESC LIMIT ? OFFSET ?"));
    q.addBindValue(limit);
    q.addBindValue(offset);
    if (!d->Exec(q))
        return visits;
    while (q.next()) {
        VisitRow v;
        v.id = q.value(0).toLongLong();
        v.uuid = q.value(1).toString();
        v.started = {q.value(2).toLongLong(), q.value(3).toInt()};
        v.pcUser = q.value(4).toString();
        v.pcHost = q.value(5).toString();
        v.port = q.value(6).toString();
        v.program = q.value(7).toString();
        if (!q.value(8).isNull())
            v.localAddress = q.value(8).toInt();
        if (!q.value(9).isNull())
            v.remoteAddress = q.value(9).toInt();
        v.recordReads = q.value(10).toInt();
        v.newEvents = q.value(11).toLongLong();
        v.configReads = q.value(12).toInt();
        v.clockReadings = q.value(13).toInt();
        v.actions = q.value(14).toInt();
        visits << v;
    }
    d->lastError.clear();
    return visits;
}

namespace {

// The WHERE clause of a filter (without "WHERE"; "1=1" for none) and its values. With `walk` (a
// page in unit-time or unit order over all units, see PlanOfPage), the codes are checked on the
// sort's index, which holds them, as it is walked: a few common codes then take one page of that
// walk, where the code index would fetch and sort every event of those codes.
QString FilterClause(const EventFilter& f, QVariantList* values, bool walk = false) {
    QStringList parts;
    if (f.unitId) {
        parts << QStringLiteral("e.unit_id = ?");
        *values << *f.unitId;
    }
    if (f.side) {
        parts << QStringLiteral("e.side = ?");
        *values << SideNumber(*f.side);
    }
    const QList<int> codes = EventCodesOfFilter(f);
    if (codes.isEmpty()) {
        parts << QStringLiteral("1 = 0");
    } else if (codes.size() < 256) {
        // Codes are numbers of our own making: written into the text, so the statement can be
        // shown and run elsewhere as it is.
        QStringList list;
        for (int c : codes)
            list << QString::number(c);
        parts << QStringLiteral("%1 IN (%2)")
                     .arg(walk ? NotIndexed(QStringLiteral("e.code")) : QStringLiteral("e.code"),
                          list.join(','));
    }
    if (f.from.isValid()) {
        parts << QStringLiteral("e.unit_time >= ?");
        *values << UnitTimeKeyOfDayStart(f.from);
    }
    if (f.to.isValid()) {
        parts << QStringLiteral("e.unit_time < ?");
        *values << UnitTimeKeyOfDayEnd(f.to);
    }
    return parts.isEmpty() ? QStringLiteral("1 = 1") : parts.join(QStringLiteral(" AND "));
}

// How a page of `f` in `sort` is found. Walk: the sort's index is walked and the codes checked on
// it (FilterClause's `walk`), which pays while the chosen events are common: a page fills within a
// few hundred steps; a date range bounds the walk to its own stretch of the time index. Codes
// first: rare or absent events would have any walk in index order cross the whole index (a
// million entries) for a page it never fills, so the chosen events are counted first on the code
// index, up to kRare: fewer are fetched by that index and sorted, at most kRare rows. kRare keeps
// the count cheap (each event it visits is looked up for its side) where it runs for nothing,
// among common codes; a walk to a page of 128 among kRare events of a million steps over 125,000
// index entries, a few times what sorting them costs.
enum class PagePlan { Plain, Walk, CodesFirst };
PagePlan PlanOfPage(QSqlDatabase& db, const EventFilter& f, EventSort sort) {
    const bool walkable = !f.unitId && (sort == EventSort::UnitTime || sort == EventSort::Unit);
    const qsizetype codes = EventCodesOfFilter(f).size();
    if (codes == 0 || codes >= 256 || f.unitId)
        return PagePlan::Plain;
    if (f.from.isValid() || f.to.isValid())
        return walkable ? PagePlan::Walk : PagePlan::Plain;
    constexpr int kRare = 1024;
    // On the code index whatever else is chosen: the side's index would visit half the events
    // to find kRare of a few codes.
    EventFilter codesOnly = f;
    codesOnly.side.reset();
    QVariantList values;
    QString where = FilterClause(codesOnly, &values);
    if (f.side) {
        where += QStringLiteral(" AND %1 = ?").arg(NotIndexed(QStringLiteral("e.side")));
        values << SideNumber(*f.side);
    }
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT COUNT(*) FROM (SELECT 1 FROM events e WHERE %1 LIMIT %2) chosen")
                  .arg(where)
                  .arg(kRare));
    for (const QVariant& v : values)
        q.addBindValue(v);
    if (q.exec() && q.next() && q.value(0).toLongLong() < kRare)
        return PagePlan::CodesFirst;
    return walkable ? PagePlan::Walk : PagePlan::Plain; // a failure: the page's statement says it
}

// The ORDER BY of a sort; for codes first, in terms no index can give, so that the code index
// finds the rows.
QString OrderClause(EventSort sort, Qt::SortOrder order, PagePlan plan = PagePlan::Plain) {
    const QString dir = order == Qt::AscendingOrder ? QStringLiteral(" ASC") : QStringLiteral(" DESC");
    QStringList cols = SortColumns(sort);
    for (QString& c : cols)
        c = (plan == PagePlan::CodesFirst ? NotIndexed(c) : c) + dir;
    return cols.join(QStringLiteral(", "));
}

} // namespace

QString Archive::EventPageSql(const EventFilter& filter, EventSort sort, Qt::SortOrder order, qint64 offset,
                              int limit, QList<QVariant>* values) {
    QVariantList v;
    const PagePlan plan = PlanOfPage(d->db, filter, sort);
    const QString where = FilterClause(filter, &v, plan == PagePlan::Walk);
    QString sql = QStringLiteral("SELECT %1 FROM events e WHERE %2 ORDER BY %3 LIMIT ? OFFSET ?")
                      .arg(QLatin1String(kEventColumns), where, OrderClause(sort, order, plan));
    v << limit << offset;
    if (values)
        *values = v;
    return sql;
}

namespace {
EventRow RowOfQuery(const QSqlQuery& q) {
    EventRow r;
    r.id = q.value(0).toLongLong();
    r.unitId = q.value(1).toLongLong();
    r.side = SideOfNumber(q.value(2).toInt());
    r.unitTime = q.value(3).toLongLong();
    r.code = q.value(4).toInt();
    r.firstSeen = {q.value(5).toLongLong(), q.value(6).toInt()};
    r.visitId = q.value(7).toLongLong();
    return r;
}
} // namespace

void ArchiveFillLabels(Archive& archive, QHash<qint64, QString>& units, QHash<qint64, QString>& visits,
                       EventRow& row);

QList<EventRow> Archive::EventPage(const EventFilter& filter, EventSort sort, Qt::SortOrder order,
                                   qint64 offset, int limit) {
    QList<EventRow> rows;
    QVariantList values;
    const QString sql = EventPageSql(filter, sort, order, offset, limit, &values);
    QSqlQuery q(d->db);
    q.setForwardOnly(true);
    q.prepare(sql);
    for (const QVariant& v : values)
        q.addBindValue(v);
    if (!d->Exec(q))
        return rows;
    while (q.next())
        rows << RowOfQuery(q);
    for (EventRow& r : rows)
        ArchiveFillLabels(*this, d->unitLabels, d->visitUuids, r);
    d->lastError.clear();
    return rows;
}

QList<EventRow> Archive::EventPageAfter(const EventFilter& filter, EventSort sort, Qt::SortOrder order,
                                        const EventRow& last, int limit) {
    QList<EventRow> rows;
    QVariantList values;
    const PagePlan plan = PlanOfPage(d->db, filter, sort);
    const QString where = FilterClause(filter, &values, plan == PagePlan::Walk);
    const QStringList cols = SortColumns(sort);
    QStringList marks;
    for (qsizetype i = 0; i < cols.size(); ++i)
        marks << QStringLiteral("?");
    const QString after = QStringLiteral("(%1) %2 (%3)")
                              .arg(cols.join(','), order == Qt::AscendingOrder ? ">" : "<", marks.join(','));
    values << SortValues(sort, last);
    const QString sql = QStringLiteral("SELECT %1 FROM events e WHERE %2 AND %3 ORDER BY %4 LIMIT ?")
                            .arg(QLatin1String(kEventColumns), where, after, OrderClause(sort, order, plan));
    values << limit;
    QSqlQuery q(d->db);
    q.setForwardOnly(true);
    q.prepare(sql);
    for (const QVariant& v : values)
        q.addBindValue(v);
    if (!d->Exec(q))
        return rows;
    while (q.next())
        rows << RowOfQuery(q);
    for (EventRow& r : rows)
        ArchiveFillLabels(*this, d->unitLabels, d->visitUuids, r);
    d->lastError.clear();
    return rows;
}

qint64 Archive::EventCount(const EventFilter& filter) {
    QVariantList values;
    // Over a date range of all units, count on the time index, which holds the codes: the code
    // index would visit every event of the codes to look at its time.
    const bool range = !filter.unitId && (filter.from.isValid() || filter.to.isValid());
    const QString where = FilterClause(filter, &values, range);
    QSqlQuery q(d->db);
    q.prepare(QStringLiteral("SELECT COUNT(*) FROM events e WHERE %1").arg(where));
    for (const QVariant& v : values)
        q.addBindValue(v);
    if (!d->Exec(q) || !q.next())
        return 0;
    d->lastError.clear();
    return q.value(0).toLongLong();
}

CommandCounters Archive::EventCounters(const EventFilter& filter) {
    CommandCounters c;
    {
        // Nothing chosen, nothing to count: the first event is looked for as the count finds its
        // events (a date range on the time index), which proves at once that there is none where
        // grouping would visit every candidate.
        QVariantList any;
        const bool range = !filter.unitId && (filter.from.isValid() || filter.to.isValid());
        QSqlQuery probe(d->db);
        probe.prepare(
            QStringLiteral("SELECT 1 FROM events e WHERE %1 LIMIT 1").arg(FilterClause(filter, &any, range)));
        for (const QVariant& v : any)
            probe.addBindValue(v);
        if (!d->Exec(probe))
            return c;
        if (!probe.next()) {
            d->lastError.clear();
            return c;
        }
    }
    QVariantList values;
    const QString where = FilterClause(filter, &values);
    QSqlQuery q(d->db);
    q.setForwardOnly(true);
    // Over a narrowed choice, group the rows chosen; over everything, walk the code index. A side
    // alone narrows to half the events at best: chosen codes narrow better on their own index.
    const bool codesChosen = EventCodesOfFilter(filter).size() < 256;
    const bool narrowed =
        filter.unitId || filter.from.isValid() || filter.to.isValid() || (filter.side && !codesChosen);
    const QString code = narrowed ? NotIndexed(QStringLiteral("e.code")) : QStringLiteral("e.code");
    q.prepare(QStringLiteral("SELECT %1, COUNT(*) FROM events e WHERE %2 GROUP BY %1").arg(code, where));
    for (const QVariant& v : values)
        q.addBindValue(v);
    if (!d->Exec(q))
        return c;
    while (q.next()) {
        const int code = q.value(0).toInt();
        const qint64 n = q.value(1).toLongLong();
        switch (EventKindsOfCode(code)) {
        case KindSend:
            c.sent[(code - 1) / 2] += n;
            break;
        case KindReceive:
            c.received[(code - 17) / 2] += n;
            break;
        case KindReturn:
            c.returns[((code - 1) % 16) / 2] += n;
            break;
        case KindAlarm:
            c.alarms += n;
            break;
        case KindFibreA:
            c.interruptionsA += n;
            break;
        case KindFibreB:
            c.interruptionsB += n;
            break;
        default:
            c.invalid += n;
            break;
        }
    }
    d->lastError.clear();
    return c;
}

bool Archive::ForEachEvent(const EventFilter& filter, EventSort sort, Qt::SortOrder order,
                           const std::function<bool(const EventRow&)>& sink) {
    if (DialectOf(d->db) == Dialect::Postgres) {
        // A server streams a forward-only result only while the connection runs nothing else, and
        // the labels need queries of their own: the events go by pages instead, each after the last.
        constexpr int kPage = 10000;
        QList<EventRow> page = EventPage(filter, sort, order, 0, kPage);
        while (d->lastError.isEmpty() && !page.isEmpty()) {
            for (const EventRow& r : page)
                if (!sink(r))
                    return true;
            if (page.size() < kPage)
                return true;
            page = EventPageAfter(filter, sort, order, page.last(), kPage);
        }
        return d->lastError.isEmpty();
    }
    QVariantList values;
    const PagePlan plan = PlanOfPage(d->db, filter, sort);
    const QString where = FilterClause(filter, &values, plan == PagePlan::Walk);
    QSqlQuery q(d->db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT %1 FROM events e WHERE %2 ORDER BY %3")
                  .arg(QLatin1String(kEventColumns), where, OrderClause(sort, order, plan)));
    for (const QVariant& v : values)
        q.addBindValue(v);
    if (!d->Exec(q))
        return false;
    while (q.next()) {
        EventRow r = RowOfQuery(q);
        ArchiveFillLabels(*this, d->unitLabels, d->visitUuids, r);
        if (!sink(r))
            break;
    }
    if (q.lastError().isValid()) {
        d->Fail(q.lastError());
        return false;
    }
    d->lastError.clear();
    return true;
}

void ArchiveFillLabels(Archive& archive, QHash<qint64, QString>& units, QHash<qint64, QString>& visits,
                       EventRow& row) {
    if (!units.contains(row.unitId)) {
        archive.Units(); // refreshes every label
        if (!units.contains(row.unitId))
            units.insert(row.unitId, QStringLiteral("Unit #%1").arg(row.unitId));
    }
    row.unitLabel = units.value(row.unitId);
    auto it = visits.constFind(row.visitId);
    if (it == visits.constEnd()) {
        QSqlQuery q(archive.Database());
        q.prepare(QStringLiteral("SELECT uuid FROM visits WHERE id = ?"));
        q.addBindValue(row.visitId);
        const QString uuid = q.exec() && q.next() ? q.value(0).toString() : QString();
        it = visits.insert(row.visitId, uuid);
    }
    row.visitUuid = *it;
}

QList<ConfigSnapshot> Archive::ConfigHistory(qint64 unitId) {
    QList<ConfigSnapshot> list;
    QSqlQuery q(d->db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT id, unit_id, visit_id, side, pc_utc, utc_offset, source, address, "
                             "command_count, codes, bytes FROM config_snapshots WHERE unit_id = ? "
                             "ORDER BY pc_utc, id"));
    q.addBindValue(unitId);
    if (!d->Exec(q))
        return list;
    while (q.next()) {
        ConfigSnapshot s;
        s.id = q.value(0).toLongLong();
        s.unitId = q.value(1).toLongLong();
        s.visitId = q.value(2).toLongLong();
        s.side = SideOfNumber(q.value(3).toInt());
        s.time = {q.value(4).toLongLong(), q.value(5).toInt()};
        s.source = q.value(6).toString();
        s.address = q.value(7).toInt();
        s.commandCount = q.value(8).toInt();
        s.codes = CodesOfText(q.value(9).toString());
        s.bytes = q.value(10).toByteArray();
        list << s;
    }
    d->lastError.clear();
    return list;
}

QList<ClockReading> Archive::ClockHistory(qint64 unitId) {
    QList<ClockReading> list;
    QSqlQuery q(d->db);
    q.setForwardOnly(true);
    q.prepare(
        QStringLiteral("SELECT id, unit_id, visit_id, side, pc_utc, utc_offset, unit_clock, "
                       "difference_ms, bytes FROM clock_readings WHERE unit_id = ? ORDER BY pc_utc, id"));
    q.addBindValue(unitId);
    if (!d->Exec(q))
        return list;
    while (q.next()) {
        ClockReading r;
        r.id = q.value(0).toLongLong();
        r.unitId = q.value(1).toLongLong();
        r.visitId = q.value(2).toLongLong();
        r.side = SideOfNumber(q.value(3).toInt());
        r.time = {q.value(4).toLongLong(), q.value(5).toInt()};
        r.unitClock = q.value(6).toString();
        r.differenceMs = q.value(7).toLongLong();
        r.bytes = q.value(8).toByteArray();
        list << r;
    }
    d->lastError.clear();
    return list;
}

QList<ActionRow> Archive::Actions(std::optional<qint64> unitId, int offset, int limit) {
    QList<ActionRow> list;
    QSqlQuery q(d->db);
    q.setForwardOnly(true);
    q.prepare(
        QStringLiteral("SELECT id, visit_id, unit_id, side, pc_utc, utc_offset, port, kind, sent, "
                       "shown_before, applied FROM actions %1 ORDER BY pc_utc DESC, id DESC LIMIT ? OFFSET ?")
            .arg(unitId ? QStringLiteral("WHERE unit_id = ?") : QString()));
    if (unitId)
        q.addBindValue(*unitId);
    q.addBindValue(limit);
    q.addBindValue(offset);
    if (!d->Exec(q))
        return list;
    while (q.next()) {
        ActionRow a;
        a.id = q.value(0).toLongLong();
        a.visitId = q.value(1).toLongLong();
        if (!q.value(2).isNull())
            a.unitId = q.value(2).toLongLong();
        a.side = SideOfNumber(q.value(3).toInt());
        a.time = {q.value(4).toLongLong(), q.value(5).toInt()};
        a.port = q.value(6).toString();
        a.kind = q.value(7).toString();
        a.sent = q.value(8).toByteArray();
        a.shownBefore = q.value(9).toString();
        if (!q.value(10).isNull())
            a.applied = q.value(10).toInt() != 0;
        list << a;
    }
    d->lastError.clear();
    return list;
}
