#include "archive/Import.h"

#include "archive/ArchiveFormat.h"
#include "archive/Dialect.h"
#include "archive/VisitRecorder.h"
#include "records/RecordFile.h"
#include "records/RecordFormat.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStringDecoder>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// A record file holds at most 255 lines of about 60 bytes; anything much larger is not one.
constexpr qint64 kLargestRecordFile = 256 * 1024;
// Folders inside folders deeper than this are not walked (a loop of bind mounts ends here).
constexpr int kDeepestFolder = 32;

QString SystemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// What a file that is not a regular one is, for the reason it is not taken.
QString KindOf(mode_t mode) {
    if (S_ISDIR(mode))
        return QStringLiteral("a folder");
    if (S_ISFIFO(mode))
        return QStringLiteral("a FIFO, not a file");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("a device, not a file");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket, not a file");
    return QStringLiteral("not a regular file");
}

// A name this system's file names can carry as text: decoding and encoding it again gives its
// bytes back. Other names cannot be opened through a text path.
bool NameIsText(const QByteArray& name) {
    return QFile::encodeName(QFile::decodeName(name)) == name;
}

// A path whose last name is not text, shown with its bytes outside ASCII as \xNN.
QString ShownPath(const QByteArray& folder, const QByteArray& name) {
    QString shown = QFile::decodeName(folder) + '/';
    for (char c : name) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x20 && b < 0x7F)
            shown += QLatin1Char(c);
        else
            shown += QStringLiteral("\\x%1").arg(b, 2, 16, QLatin1Char('0'));
    }
    return shown;
}

struct Candidate {
    QString path;
    bool named = false; // named itself (not found in a folder)
};

// A folder's files at any depth in name order, its sub-folders after its files. Links to files are
// taken, links to folders not followed (a link back up would never end).
void WalkFolder(const QByteArray& folder, int depth, QList<Candidate>* files, QStringList* skipped) {
    DIR* dir = opendir(folder.constData());
    if (!dir) {
        *skipped << QStringLiteral("%1: %2").arg(QFile::decodeName(folder), SystemError(errno));
        return;
    }
    QList<QByteArray> names;
    while (const dirent* entry = readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names << name;
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    QList<QByteArray> folders;
    for (const QByteArray& name : names) {
        const QByteArray path = folder + '/' + name;
        if (!NameIsText(name)) {
            *skipped << QStringLiteral("%1: the name is not text in this system's encoding (rename the file)")
                            .arg(ShownPath(folder, name));
            continue;
        }
        struct stat st {};
        if (lstat(path.constData(), &st) != 0) {
            *skipped << QStringLiteral("%1: %2").arg(QFile::decodeName(path), SystemError(errno));
            continue;
        }
        if (S_ISLNK(st.st_mode) && stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode)) {
            *skipped << QStringLiteral("%1: a link to a folder, not followed").arg(QFile::decodeName(path));
            continue;
        }
        if (S_ISDIR(st.st_mode))
            folders << path;
        else
            *files << Candidate{QFile::decodeName(path), false};
    }
    for (const QByteArray& sub : folders) {
        if (depth >= kDeepestFolder)
            *skipped << QStringLiteral("%1: folders nested too deep, not walked").arg(QFile::decodeName(sub));
        else
            WalkFolder(sub, depth + 1, files, skipped);
    }
}

// A file's bytes, never waiting on a FIFO or a device: its type is looked at before it is opened,
// and again on what was opened (it may have been swapped in between). False with the reason.
bool ReadCandidate(const QString& path, QByteArray* bytes, QString* why) {
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    if (stat(native.constData(), &st) != 0) {
        *why = SystemError(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        *why = KindOf(st.st_mode);
        return false;
    }
    const int fd = open(native.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *why = SystemError(errno);
        return false;
    }
    bool ok = fstat(fd, &st) == 0;
    if (!ok) {
        *why = SystemError(errno);
    } else if (!S_ISREG(st.st_mode)) {
        *why = KindOf(st.st_mode);
        ok = false;
    } else if (st.st_size > kLargestRecordFile) {
        *why = QStringLiteral("line 1: too large for a record file");
        ok = false;
    }
    bytes->clear();
    while (ok && bytes->size() <= kLargestRecordFile) {
        char buffer[16384];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            *why = SystemError(errno);
            ok = false;
        } else if (n == 0) {
            break;
        } else {
            bytes->append(buffer, qsizetype(n));
        }
    }
    if (ok && bytes->size() > kLargestRecordFile) {
        *why = QStringLiteral("line 1: too large for a record file");
        ok = false;
    }
    close(fd);
    return ok;
}

// The files the paths name, in the order given: a file itself, a folder's files at any depth.
QList<Candidate> CandidatesOf(const QStringList& paths, ImportReport* r) {
    QList<Candidate> files;
    for (const QString& path : paths) {
        struct stat st {};
        const QByteArray native = QFile::encodeName(path);
        if (stat(native.constData(), &st) != 0) {
            r->refused << (errno == ENOENT ? QStringLiteral("%1: no such file or folder").arg(path)
                                           : QStringLiteral("%1: %2").arg(path, SystemError(errno)));
            continue;
        }
        if (S_ISDIR(st.st_mode))
            WalkFolder(QFile::encodeName(QFileInfo(path).absoluteFilePath()), 0, &files, &r->skipped);
        else
            files << Candidate{QFileInfo(path).absoluteFilePath(), true};
    }
    return files;
}

} // namespace

std::optional<UnitSide> SideOfRecordFileName(const QString& fileName) {
    const QString name = QFileInfo(fileName).fileName();
    const bool local = name.contains(QLatin1String("local"), Qt::CaseInsensitive) ||
                       name.contains(QString::fromUtf8("本地"));
    const bool remote = name.contains(QLatin1String("remote"), Qt::CaseInsensitive) ||
                        name.contains(QString::fromUtf8("对端"));
    if (local == remote)
        return std::nullopt;
    return local ? UnitSide::Local : UnitSide::Remote;
}

QByteArray RecordFileAsWritten(const QByteArray& content) {
    const QByteArray bom("\xEF\xBB\xBF");
    const bool marked = content.startsWith(bom);
    const QByteArray text = marked ? content.mid(bom.size()) : content;
    if (!marked) {
        // ASCII is every encoding's; bytes that are not valid UTF-8 are taken for GBK.
        if (std::all_of(text.cbegin(), text.cend(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
            return content;
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString decoded = utf8.decode(text);
        if (utf8.hasError())
            return content;
        return ToGbk(decoded);
    }
    return ToGbk(QString::fromUtf8(text));
}

bool ImportRecordEvents(const RecordFileContents& contents, QList<QPair<qint64, int>>* events) {
    QSet<QPair<qint64, int>> seen;
    for (const RecordLineFields& f : contents.lines) {
        const QPair<qint64, int> e{
            UnitTimeKeyOf(f.year, f.month, f.day, f.hour, f.minute, f.second, f.milliseconds),
            f.code == 0 ? -1 : f.code};
        if (!seen.contains(e)) {
            seen.insert(e);
            *events << e;
        }
    }
    return true;
}

bool ImportRecordPaths(Archive& archive, const QStringList& paths, const ImportOptions& options,
                       ImportReport* report, const ImportProgress& progress) {
    ImportReport local;
    ImportReport& r = report ? *report : local;
    VisitInfo info;
    info.program = QStringLiteral("import");
    info.port = paths.join(' ');
    VisitRecorder recorder(archive, info);
    if (archive.IsOpen())
        UseLargeCache(archive.Database(), 128); // the event indexes of a large archive, in memory
    const QList<Candidate> files = CandidatesOf(paths, &r);

    // One file: refused, skipped or kept whole. False only when the archive cannot be written.
    auto importFile = [&](const Candidate& file) {
        QStringList& notTaken = file.named ? r.refused : r.skipped;
        QByteArray bytes;
        QString why;
        if (!ReadCandidate(file.path, &bytes, &why)) {
            notTaken << QStringLiteral("%1: %2").arg(file.path, why);
            return true;
        }
        RecordFileContents contents;
        int badLine = 0;
        if (!ParseRecordFile(RecordFileAsWritten(bytes), &contents, &badLine, &why)) {
            // A first line that is no record file's is another kind of file; a later line, a
            // record file that was damaged.
            if (badLine <= 1 && !file.named)
                r.skipped << QStringLiteral("%1: not a record file (line 1: %2)").arg(file.path, why);
            else
                r.refused << QStringLiteral("%1: line %2: %3").arg(file.path).arg(badLine).arg(why);
            return true;
        }
        const std::optional<UnitSide> side = options.side ? options.side : SideOfRecordFileName(file.path);
        if (!side) {
            r.refused << QStringLiteral(
                             "%1: a record file whose name tells neither local nor remote (\"Local\", "
                             "\"Remote\", \"%2\" or \"%3\" in it): give its side")
                             .arg(file.path, QString::fromUtf8("本地"), QString::fromUtf8("对端"));
            return true;
        }
        QList<QPair<qint64, int>> events;
        ImportRecordEvents(contents, &events);
        const PcTime now = PcTimeNow();
        std::optional<qint64> unit;
        if (!options.unitName.isEmpty()) {
            unit = recorder.UnitNamed(options.unitName, *side, now);
        } else {
            // The unit that holds these events already (its records read by the service program,
            // or this log imported before), else one for this folder's files of this side: the two
            // ends of a link never become one unit.
            unit = recorder.UnitHolding(events);
            if (!unit)
                unit = recorder.UnitNamed(
                    QFileInfo(file.path).absoluteDir().dirName() + ' ' + SideText(*side), *side, now);
        }
        if (!unit)
            return false;
        int added = 0;
        bool unchanged = false;
        if (!recorder.ImportedFile(*unit, *side, file.path, now, bytes, events, &added, &unchanged))
            return false;
        r.events += contents.lines.size();
        r.newEvents += added;
        if (unchanged)
            ++r.filesUnchanged;
        else
            ++r.filesImported;
        return true;
    };

    // Many files a transaction (a few large transactions write each page of the event indexes once
    // where one per file writes it again and again), but never for long: the service program's
    // hand-over waits for the write lock while a transaction runs: a second at most (20,000 events
    // take a fifth of that on an idle machine; the time bound holds on a busy one).
    constexpr qint64 kEventsPerTransaction = 20000;
    constexpr qint64 kLongestTransactionMs = 1000;
    qsizetype next = 0;
    while (next < files.size() && !r.stopped) {
        const qint64 start = r.events;
        QElapsedTimer running;
        running.start();
        if (!archive.InTransaction([&] {
                while (next < files.size() && r.events - start < kEventsPerTransaction &&
                       running.elapsed() < kLongestTransactionMs) {
                    if (!importFile(files[next++]))
                        return false;
                    if (progress && !progress(next, files.size())) {
                        r.stopped = true;
                        break;
                    }
                }
                return true;
            }))
            return false;
    }
    return true;
}
