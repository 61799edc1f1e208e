// Arbitrary bytes as a record file to import, as an old laptop's folder might hold them: the
// parser never reads outside the bytes given, refuses with a line inside the file, and what it
// takes is well-formed and reads back the same when written again.

#include "archive/ArchiveFormat.h"
#include "archive/Import.h"
#include "records/RecordFile.h"
#include "records/RecordFormat.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

// The 8 record bytes that print as the parsed fields.
void RecordOf(const RecordLineFields& f, unsigned char* rec) {
    const int hundreds = f.milliseconds / 100 > 15 ? 15 : f.milliseconds / 100;
    const int rest = f.milliseconds - 100 * hundreds;
    const int tens = rest / 10 > 15 ? 15 : rest / 10;
    rec[0] = f.year;
    rec[1] = f.day;
    rec[2] = f.hour;
    rec[3] = f.minute;
    rec[4] = f.second;
    rec[5] = static_cast<unsigned char>(f.month << 4 | hundreds);
    rec[6] = static_cast<unsigned char>(f.code);
    rec[7] = static_cast<unsigned char>(tens << 4 | (rest - 10 * tens));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray content(reinterpret_cast<const char*>(data), qsizetype(size > 65536 ? 65536 : size));
    const int lineCount = int(content.count('\n')) + 1;
    RecordFileContents parsed;
    int bad = 0;
    QString why;
    if (!ParseRecordFile(content, &parsed, &bad, &why)) {
        if (bad < 1 || bad > lineCount + 1 || why.isEmpty())
            std::abort();
        return 0;
    }
    const int n = int(parsed.lines.size());
    if (n > 255)
        std::abort();
    QStringList lines;
    for (const RecordLineFields& f : parsed.lines) {
        if (f.month < 0 || f.month > 15 || f.milliseconds < 0 || f.milliseconds > 1665 || f.code < 0 ||
            f.code > kLastEventCode)
            std::abort();
        unsigned char rec[8];
        RecordOf(f, rec);
        if (RecordMilliseconds(rec) != f.milliseconds)
            std::abort();
        if (UnitTimeKey(rec) !=
            UnitTimeKeyOf(f.year, f.month, f.day, f.hour, f.minute, f.second, f.milliseconds))
            std::abort();
        (void)UnitTimeText(UnitTimeKey(rec));
        (void)UnitTimeDateTime(UnitTimeKey(rec));
        lines << FormatRecordLine(f.number, rec, parsed.chinese);
    }
    // Written again as the dialogs write it, the file reads back to the same fields.
    RecordFileContents again;
    if (!ParseRecordFile(RecordFileContent(n, lines, parsed.chinese), &again, &bad, &why))
        std::abort();
    if (again.lines.size() != parsed.lines.size() || again.chinese != parsed.chinese)
        std::abort();
    for (int k = 0; k < n; ++k) {
        const RecordLineFields& a = parsed.lines[k];
        const RecordLineFields& b = again.lines[k];
        if (a.number != b.number || a.year != b.year || a.month != b.month || a.day != b.day ||
            a.hour != b.hour || a.minute != b.minute || a.second != b.second ||
            a.milliseconds != b.milliseconds || a.code != b.code)
            std::abort();
    }
    QList<QPair<qint64, int>> events;
    ImportRecordEvents(parsed, &events);
    if (events.size() > n)
        std::abort();
    return 0;
}
