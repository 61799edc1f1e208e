#include "logbook/EventExport.h"

#include "archive/Archive.h"
#include "archive/ArchiveFormat.h"
#include "platform/SafeFile.h"

#include <QFileInfo>

bool WriteEventExport(const QString& archivePath, const EventExport& what, const QString& path, qint64* count,
                      QString* error) {
    Archive archive;
    if (!archive.Open(archivePath, Archive::Mode::ReadOnly)) {
        *error = archive.LastError();
        return false;
    }
    QByteArray out;
    if (what.json)
        out = QByteArrayLiteral("[");
    else
        out = (what.byteOrderMark ? QByteArrayLiteral("\xEF\xBB\xBF") : QByteArray()) + CsvEventHeader();
    qint64 n = 0;
    CsvEventWriter csv;
    const bool ok = archive.ForEachEvent(what.filter, what.sort, what.order, [&](const EventRow& row) {
        if (what.json)
            out += (n ? QByteArrayLiteral(",\n") : QByteArrayLiteral("\n")) + JsonEventObject(row);
        else
            csv.Append(row, &out);
        ++n;
        return true;
    });
    if (!ok) {
        *error = archive.LastError();
        return false;
    }
    if (what.json)
        out += n ? QByteArrayLiteral("\n]\n") : QByteArrayLiteral("]\n");
    if (!ReplaceFile(path, out, QFileInfo::exists(path) ? -1 : 0600, InPlaceWrite::Never, error))
        return false;
    if (count)
        *count = n;
    return true;
}
