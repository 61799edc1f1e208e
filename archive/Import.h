#pragma once

#include "archive/Archive.h"
#include "archive/ArchiveTypes.h"
#include "records/RecordFile.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <optional>

// Import of the record files a record dialog wrote (this tool's or the unit's Windows tool):
// "LocalRecord.txt" and "RemoteRecord.txt" (ASCII, CR LF), "本地记录.txt" and "对端记录.txt" (GBK,
// CR LF). A folder is walked for files of these four names, at any depth.

struct ImportOptions {
    QString unitName;             // the unit the records belong to (empty: the file's folder name)
    std::optional<UnitSide> side; // empty: by the file's name
};

struct ImportReport {
    int filesImported = 0;
    int filesUnchanged = 0; // imported before, byte for byte: nothing added
    qint64 events = 0;      // records read from the files
    qint64 newEvents = 0;   // of them, events the unit did not hold yet
    QStringList refused;    // "<file>: line <n>: <why>", one per file refused
};

// Imports each file and each folder's record files into `archive` (open for writing) as the
// records of the named unit, each file in one transaction: a file that is not a record file is
// refused with its line number and nothing of it is kept; importing the same file again adds
// nothing. The whole import is one visit ("import"). False when the archive could not be written
// (LastError() says why); refused files alone do not make it false.
bool ImportRecordPaths(Archive& archive, const QStringList& paths, const ImportOptions& options,
                       ImportReport* report);

// The events of a parsed record file as the archive keeps them: (unit-clock key, code), each once,
// code -1 for an invalid record (its code is not in the text).
bool ImportRecordEvents(const RecordFileContents& contents, QList<QPair<qint64, int>>* events);

// The side a record file's name stands for: LocalRecord.txt / 本地记录.txt local,
// RemoteRecord.txt / 对端记录.txt remote (case-insensitive for the English names).
std::optional<UnitSide> SideOfRecordFileName(const QString& fileName);
