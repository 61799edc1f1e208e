#pragma once

#include "archive/ArchiveTypes.h"

#include <QString>

// The events a filter chooses, written to a file as the command line's export writes them: CSV
// (RFC 4180, CR LF) or JSON, in the sort given. A spreadsheet takes a CSV file for UTF-8 only when
// it begins with a byte-order mark; without one, it may read the Chinese column in the PC's code
// page. The file is written whole or not at all (platform/SafeFile), mode 0600 for a new file.
struct EventExport {
    EventFilter filter;
    EventSort sort = EventSort::UnitTime;
    Qt::SortOrder order = Qt::DescendingOrder;
    bool json = false;
    bool byteOrderMark = false; // CSV only
};

// Writes the export of the archive at `archivePath` to `path`. *count (when given) is the number
// of events written. False with a message in *error when the archive cannot be read or the file
// cannot be written (then nothing is changed at `path`).
bool WriteEventExport(const QString& archivePath, const EventExport& what, const QString& path, qint64* count,
                      QString* error);
