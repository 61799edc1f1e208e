#include "archive/Import.h"

#include "archive/ArchiveFormat.h"
#include "archive/Dialect.h"
#include "archive/VisitRecorder.h"
#include "records/RecordFile.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSet>

namespace {

// A record file holds at most 255 lines of about 60 bytes; anything much larger is not one.
constexpr qint64 kLargestRecordFile = 256 * 1024;

// The files a path names: the file itself, or a folder's record files at any depth, in name order.
QStringList FilesOf(const QString& path, QStringList* refused) {
    const QFileInfo info(path);
    if (info.isFile())
        return {info.absoluteFilePath()};
    if (!info.isDir()) {
        *refused << QStringLiteral("%1: no such file or folder").arg(path);
        return {};
    }
    QStringList files;
    QDirIterator it(info.absoluteFilePath(), QDir::Files | QDir::Readable, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        if (SideOfRecordFileName(file))
            files << file;
    }
    files.sort();
    return files;
}

} // namespace

std::optional<UnitSide> SideOfRecordFileName(const QString& fileName) {
    const QString name = QFileInfo(fileName).fileName();
    if (name.compare(QLatin1String("LocalRecord.txt"), Qt::CaseInsensitive) == 0 ||
        name == QString::fromUtf8("本地记录.txt"))
        return UnitSide::Local;
    if (name.compare(QLatin1String("RemoteRecord.txt"), Qt::CaseInsensitive) == 0 ||
        name == QString::fromUtf8("对端记录.txt"))
        return UnitSide::Remote;
    return std::nullopt;
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
                       ImportReport* report) {
    ImportReport local;
    ImportReport& r = report ? *report : local;
    VisitInfo info;
    info.program = QStringLiteral("import");
    info.port = paths.join(' ');
    VisitRecorder recorder(archive, info);
    if (archive.IsOpen())
        UseLargeCache(archive.Database(), 128); // the event indexes of a large archive, in memory
    QStringList files;
    for (const QString& path : paths)
        files << FilesOf(path, &r.refused);

    // One file at a time, refused or kept whole; a transaction holds many files, since a few large
    // transactions write each page of the event indexes once where one per file writes it again
    // and again.
    auto importFile = [&](const QString& file) {
        const std::optional<UnitSide> side = options.side ? options.side : SideOfRecordFileName(file);
        if (!side) {
            r.refused << QStringLiteral("%1: its name tells neither local nor remote records (give --side)")
                             .arg(file);
            return true;
        }
        QFile f(file);
        if (f.size() > kLargestRecordFile) {
            r.refused << QStringLiteral("%1: line 1: too large for a record file").arg(file);
            return true;
        }
        if (!f.open(QIODevice::ReadOnly)) {
            r.refused << QStringLiteral("%1: %2").arg(file, f.errorString());
            return true;
        }
        const QByteArray content = f.read(kLargestRecordFile + 1);
        RecordFileContents contents;
        int badLine = 0;
        QString why;
        if (!ParseRecordFile(content, &contents, &badLine, &why)) {
            r.refused << QStringLiteral("%1: line %2: %3").arg(file).arg(badLine).arg(why);
            return true;
        }
        QList<QPair<qint64, int>> events;
        ImportRecordEvents(contents, &events);
        const QString unitName =
            options.unitName.isEmpty() ? QFileInfo(file).absoluteDir().dirName() : options.unitName;
        const PcTime now = PcTimeNow();
        const auto unit = recorder.UnitNamed(unitName, *side, now);
        if (!unit)
            return false;
        int added = 0;
        bool unchanged = false;
        if (!recorder.ImportedFile(*unit, *side, file, now, content, events, &added, &unchanged))
            return false;
        r.events += contents.lines.size();
        r.newEvents += added;
        if (unchanged)
            ++r.filesUnchanged;
        else
            ++r.filesImported;
        return true;
    };
    constexpr qint64 kEventsPerTransaction = 50000;
    qsizetype next = 0;
    while (next < files.size()) {
        const qint64 start = r.events;
        if (!archive.InTransaction([&] {
                while (next < files.size() && r.events - start < kEventsPerTransaction)
                    if (!importFile(files[next++]))
                        return false;
                return true;
            }))
            return false;
    }
    return true;
}
