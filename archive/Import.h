#pragma once

#include "archive/Archive.h"
#include "archive/ArchiveTypes.h"
#include "records/RecordFile.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// Import of the record files a record dialog wrote (this tool's or the unit's Windows tool), as
// engineers keep them: renamed ("LocalRecord (2).txt", "北站本地记录2026.txt"), copied into
// folders, re-saved by an editor. A file is taken by its content: the no-record text, or a header
// and its record lines, in ASCII, GBK or UTF-8 (with or without a byte-order mark). A folder is
// walked at any depth; every file in it is looked at.

struct ImportOptions {
    // The unit the records belong to (a name, or the address code of a known unit). Empty: each
    // file's events go to the unit that holds them already, else to a unit named after the file's
    // folder and side ("North local").
    QString unitName;
    std::optional<UnitSide> side; // empty: by the file's name
};

struct ImportReport {
    int filesImported = 0;
    int filesUnchanged = 0; // imported before into the same unit, byte for byte: nothing added
    qint64 events = 0;      // records read from the files
    qint64 newEvents = 0;   // of them, events the unit did not hold yet
    // "<file>: <why>": files that were meant to be taken and were not: a file named itself, a
    // record file that is damaged (with its line: "<file>: line <n>: <why>"), or whose side is not
    // known.
    QStringList refused;
    // "<file>: <why>": the other files of a folder that were not taken (not a record file, not a
    // regular file, unreadable, a name that is not text).
    QStringList skipped;
    bool stopped = false; // the progress call stopped it
};

// Imports each file and each folder's record files into `archive` (open for writing), each file
// refused or kept whole; importing the same file again adds nothing. The whole import is one
// visit ("import"); its transactions stay short, so that a dialog's hand-over waits a moment at
// most. A FIFO or a device is never opened. False when the archive could not be written
// (LastError() says why); refused and skipped files alone do not make it false.
// `progress` (when given) is called after each file with the files looked at and the files found;
// returning false stops the import there (what was kept stays kept).
using ImportProgress = std::function<bool(qsizetype done, qsizetype total)>;
bool ImportRecordPaths(Archive& archive, const QStringList& paths, const ImportOptions& options,
                       ImportReport* report, const ImportProgress& progress = {});

// The events of a parsed record file as the archive keeps them: (unit-clock key, code), each once,
// code -1 for an invalid record (its code is not in the text).
bool ImportRecordEvents(const RecordFileContents& contents, QList<QPair<qint64, int>>* events);

// The side a record file's name stands for: "Local" or "本地" anywhere in it local, "Remote" or
// "对端" remote (the Latin ones in any case); none when it holds neither or both.
std::optional<UnitSide> SideOfRecordFileName(const QString& fileName);

// The bytes a record dialog writes for a record file's content as it may have been saved since: a
// UTF-8 copy (a byte-order mark first, or valid UTF-8 holding non-ASCII) back in GBK; ASCII and
// GBK as they are.
QByteArray RecordFileAsWritten(const QByteArray& content);
