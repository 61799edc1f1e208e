#include "archive/Spool.h"

#include "archive/VisitRecorder.h"
#include "platform/SafeFile.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDateTime>
#include <QFileInfo>
#include <QIODevice>
#include <QSqlQuery>
#include <QUuid>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qint64 kMostSpoolBytes = 256LL * 1024 * 1024;
constexpr int kFactVersion = 1;

QString SystemText(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}

QByteArray Check(const QByteArray& keyAndFact) {
    return QCryptographicHash::hash(keyAndFact, QCryptographicHash::Sha256).toHex().left(16);
}

QByteArray Serialise(const HandedFact& f) {
    QByteArray out;
    QDataStream s(&out, QIODevice::WriteOnly);
    s.setVersion(QDataStream::Qt_6_0);
    s << qint32(kFactVersion) << qint32(f.kind) << qint32(f.side == UnitSide::Local ? 0 : 1) << f.port
      << f.at.utcMs << qint32(f.at.offsetSeconds) << f.bytes << qint32(f.commandCount) << f.visit.uuid
      << f.visit.started.utcMs << qint32(f.visit.started.offsetSeconds) << f.visit.pcUser << f.visit.pcHost
      << f.visit.port << f.visit.program;
    return out;
}

bool Deserialise(const QByteArray& bytes, HandedFact* f) {
    QDataStream s(bytes);
    s.setVersion(QDataStream::Qt_6_0);
    qint32 version = 0, kind = 0, side = 0, offset = 0, commands = 0, startOffset = 0;
    s >> version >> kind >> side >> f->port >> f->at.utcMs >> offset >> f->bytes >> commands >>
        f->visit.uuid >> f->visit.started.utcMs >> startOffset >> f->visit.pcUser >> f->visit.pcHost >>
        f->visit.port >> f->visit.program;
    if (s.status() != QDataStream::Ok || version != kFactVersion || kind < HandedFact::Records ||
        kind > HandedFact::Password || f->visit.uuid.isEmpty())
        return false;
    f->kind = HandedFact::Kind(kind);
    f->side = side == 0 ? UnitSide::Local : UnitSide::Remote;
    f->at.offsetSeconds = offset;
    f->commandCount = commands;
    f->visit.started.offsetSeconds = startOffset;
    return true;
}

// The spool's file, open and locked for as long as this lives.
class LockedSpool {
public:
    // create: make the file (and its folder) when absent.
    LockedSpool(const QString& databasePath, bool create) {
        const QString path = ArchiveSpoolPath(databasePath);
        if (!create && !QFileInfo::exists(path))
            return;
        if (create && !MakeOwnFolder(QFileInfo(path).absolutePath(), &m_error))
            return;
        m_fd = OpenOwnFile(path, create ? O_RDWR | O_CREAT : O_RDWR, &m_error);
        if (m_fd >= 0 && ::flock(m_fd, LOCK_EX) != 0) {
            m_error = SystemText(errno) + ": " + path;
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~LockedSpool() {
        if (m_fd >= 0)
            ::close(m_fd); // the lock goes with the descriptor
    }
    bool IsOpen() const { return m_fd >= 0; }
    QString Error() const { return m_error; }

    QByteArray ReadAll() {
        QByteArray all;
        struct stat st;
        if (::fstat(m_fd, &st) != 0 || st.st_size > kMostSpoolBytes)
            return all;
        all.resize(qsizetype(st.st_size));
        qsizetype done = 0;
        while (done < all.size()) {
            const ssize_t n = ::pread(m_fd, all.data() + done, size_t(all.size() - done), done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += n;
        }
        all.truncate(done);
        return all;
    }

    // Appends `line`, after a line end when a crash left the last line torn, and syncs.
    bool Append(QByteArray line) {
        struct stat st;
        char last = '\n';
        if (::fstat(m_fd, &st) != 0 || (st.st_size > 0 && ::pread(m_fd, &last, 1, st.st_size - 1) != 1))
            return Fail();
        if (last != '\n')
            line.prepend('\n');
        qsizetype done = 0;
        while (done < line.size()) {
            const ssize_t n =
                ::pwrite(m_fd, line.constData() + done, size_t(line.size() - done), st.st_size + done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return Fail();
            done += n;
        }
        return ::fdatasync(m_fd) == 0 || Fail();
    }

    bool Empty() { return (::ftruncate(m_fd, 0) == 0 && ::fdatasync(m_fd) == 0) || Fail(); }

private:
    bool Fail() {
        m_error = SystemText(errno);
        return false;
    }
    int m_fd = -1;
    QString m_error;
};

struct SpoolLine {
    QString key;
    HandedFact fact;
};

// The spool's intact lines, in their order.
QList<SpoolLine> ParseSpool(const QByteArray& all, int* torn) {
    QList<SpoolLine> lines;
    for (const QByteArray& raw : all.split('\n')) {
        if (raw.isEmpty())
            continue;
        const QList<QByteArray> parts = raw.split(' ');
        SpoolLine line;
        if (parts.size() != 3 || Check(parts[0] + ' ' + parts[2]) != parts[1] ||
            !Deserialise(QByteArray::fromBase64(parts[2]), &line.fact)) {
            ++*torn;
            continue;
        }
        line.key = QString::fromLatin1(parts[0]);
        lines << line;
    }
    return lines;
}

bool KeepOne(VisitRecorder& r, const HandedFact& f) {
    switch (f.kind) {
    case HandedFact::Records:
        return r.RecordAnswer(f.side, f.port, f.at, f.bytes);
    case HandedFact::Config:
        return r.ConfigAnswer(f.side, f.port, f.at, f.bytes);
    case HandedFact::Clock:
        return r.ClockAnswer(f.side, f.port, f.at, f.bytes);
    case HandedFact::ConfigWrite:
        return r.ConfigWrite(f.side, f.port, f.at, f.bytes, f.commandCount);
    case HandedFact::ClockWrite:
        return r.ClockWrite(f.side, f.port, f.at, f.bytes);
    case HandedFact::Clear:
        return r.RecordClear(f.side, f.port, f.at);
    case HandedFact::Password:
        return r.PasswordChange(f.at);
    }
    return true;
}

QString TimeText(const PcTime& at) {
    return QDateTime::fromMSecsSinceEpoch(at.utcMs, Qt::UTC).toString(Qt::ISODateWithMs);
}

} // namespace

QString HandedFactText(HandedFact::Kind kind) {
    switch (kind) {
    case HandedFact::Records:
        return QStringLiteral("record answer");
    case HandedFact::Config:
        return QStringLiteral("configuration answer");
    case HandedFact::Clock:
        return QStringLiteral("date-and-time answer");
    case HandedFact::ConfigWrite:
        return QStringLiteral("configuration write");
    case HandedFact::ClockWrite:
        return QStringLiteral("date-and-time write");
    case HandedFact::Clear:
        return QStringLiteral("record clear");
    case HandedFact::Password:
        return QStringLiteral("password change");
    }
    return QString();
}

QString ArchiveSpoolPath(const QString& databasePath) {
    const QString db = databasePath.isEmpty() ? DefaultArchivePath() : databasePath;
    return QFileInfo(db).absolutePath() + QStringLiteral("/logbook-spool.txt");
}

bool SpoolFact(const QString& databasePath, const HandedFact& fact, QString* key, QString* error) {
    LockedSpool spool(databasePath, true);
    if (!spool.IsOpen()) {
        *error = spool.Error();
        return false;
    }
    *key = QUuid::createUuid().toString(QUuid::WithoutBraces);
    const QByteArray body = Serialise(fact).toBase64();
    const QByteArray keyBytes = key->toLatin1();
    if (!spool.Append(keyBytes + ' ' + Check(keyBytes + ' ' + body) + ' ' + body + '\n')) {
        *error = spool.Error();
        return false;
    }
    return true;
}

FactKeeper::FactKeeper(Archive& archive) : m_archive(archive) {}
FactKeeper::~FactKeeper() = default;

void FactKeeper::Forget() {
    m_recorders.clear();
}

FactKeeper::Result FactKeeper::Keep(const HandedFact& fact, const QString& key) {
    std::unique_ptr<VisitRecorder>& recorder = m_recorders[fact.visit.uuid];
    if (!recorder)
        recorder = std::make_unique<VisitRecorder>(m_archive, fact.visit);
    bool keptBefore = false;
    bool factKept = false;
    const bool ok = m_archive.InTransaction([&] {
        if (!key.isEmpty()) {
            QSqlQuery q(m_archive.Database());
            if (!q.exec(
                    QStringLiteral("CREATE TABLE IF NOT EXISTS spool_kept (key VARCHAR(36) PRIMARY KEY)"))) {
                m_archive.SetLastError(q.lastError());
                return false;
            }
            q.prepare(QStringLiteral("SELECT 1 FROM spool_kept WHERE key = ?"));
            q.addBindValue(key);
            if (!q.exec()) {
                m_archive.SetLastError(q.lastError());
                return false;
            }
            if (q.next()) {
                keptBefore = true;
                return true;
            }
        }
        if (!KeepOne(*recorder, fact))
            return false;
        factKept = true;
        if (key.isEmpty())
            return true;
        QSqlQuery q(m_archive.Database());
        q.prepare(QStringLiteral("INSERT INTO spool_kept (key) VALUES (?)"));
        q.addBindValue(key);
        if (q.exec())
            return true;
        m_archive.SetLastError(q.lastError());
        return false;
    });
    if (!ok && factKept)
        recorder.reset(); // it counted on rows the rollback took back: a fresh one reads them again
    if (!ok)
        return m_archive.LastErrorFromDatabase() ? Result::Failed : Result::Refused;
    return keptBefore ? Result::KeptBefore : Result::Kept;
}

SpoolRun MoveSpoolIn(const QString& databasePath, Archive& archive, FactKeeper& keeper,
                     const QString& justSpooled) {
    SpoolRun run;
    LockedSpool spool(databasePath, false);
    if (!spool.IsOpen()) {
        run.error = spool.Error();
        return run;
    }
    int torn = 0;
    const QList<SpoolLine> lines = ParseSpool(spool.ReadAll(), &torn);
    if (lines.isEmpty()) {
        if (torn > 0)
            AppendArchiveJournal(databasePath,
                                 QStringLiteral("%1 damaged line(s) of the spool skipped").arg(torn));
        spool.Empty();
        return run;
    }
    if (!archive.IsOpen() || archive.Path() != databasePath) {
        keeper.Forget();
        if (!archive.Open(databasePath, Archive::Mode::ReadWrite)) {
            run.waiting = int(lines.size());
            run.error = archive.LastError();
            return run;
        }
    }
    bool setAside = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const SpoolLine& line = lines[i];
        FactKeeper::Result result = keeper.Keep(line.fact, line.key);
        if (result == FactKeeper::Result::Failed && archive.LastErrorIsDamage() && !setAside) {
            // Damage: the default archive is set aside once, and this fact goes into the new one.
            setAside = true;
            keeper.Forget();
            if (archive.SetAsideAndStartAgain())
                result = keeper.Keep(line.fact, line.key);
        }
        if (result == FactKeeper::Result::Failed) {
            run.waiting = int(lines.size() - i);
            run.error = archive.LastError();
            return run;
        }
        if (result == FactKeeper::Result::Refused) {
            run.justSpooledDone = run.justSpooledDone || line.key == justSpooled;
            AppendArchiveJournal(databasePath, QStringLiteral("%1 of %2 not kept: %3")
                                                   .arg(HandedFactText(line.fact.kind),
                                                        TimeText(line.fact.at), archive.LastError()));
        }
        if (result == FactKeeper::Result::Kept) {
            ++run.kept;
            if (line.key == justSpooled)
                run.justSpooledDone = true;
            else
                AppendArchiveJournal(databasePath,
                                     QStringLiteral("%1 of %2 went in after waiting in the spool")
                                         .arg(HandedFactText(line.fact.kind), TimeText(line.fact.at)));
        }
    }
    if (torn > 0)
        AppendArchiveJournal(databasePath,
                             QStringLiteral("%1 damaged line(s) of the spool skipped").arg(torn));
    spool.Empty();
    return run;
}

int MoveDefaultSpoolIn() {
    const QString path = DefaultArchivePath();
    if (QFileInfo(ArchiveSpoolPath(path)).size() == 0)
        return 0;
    Archive archive;
    FactKeeper keeper(archive);
    const SpoolRun run = MoveSpoolIn(path, archive, keeper);
    if (run.waiting > 0)
        AppendArchiveJournal(
            path, QStringLiteral("%1 fact(s) still wait in the spool: %2").arg(run.waiting).arg(run.error));
    return run.waiting;
}
