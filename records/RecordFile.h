#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Reading back the record files a record dialog writes: the no-record text alone, or the header,
// an empty line and one record line per record, every line ending in CR LF, English in ASCII or
// Chinese in GBK. Plain functions, no widgets: the logbook's import uses them.

// One record line taken apart: "%d  20%02x-%02d-%x  %x:%02x:%02x.%03d  " and the event text.
struct RecordLineFields {
    int number = 0;
    unsigned char year = 0;   // BCD byte, as printed in hexadecimal
    int month = 0;            // 0 to 15, as printed in decimal
    unsigned char day = 0;    // BCD byte
    unsigned char hour = 0;   // BCD byte
    unsigned char minute = 0; // BCD byte
    unsigned char second = 0; // BCD byte
    int milliseconds = 0;     // 0 to 1665
    int code = 0;             // 1 to 38, or 0 for the invalid-record text
};

struct RecordFileContents {
    bool chinese = false;          // the texts are the Chinese ones (GBK)
    QList<RecordLineFields> lines; // in file order (numbers N down to 1)
};

// Takes a record line (without its line end) apart in the language given; false unless it is one,
// with the event text exactly one of the texts of that language.
bool ParseRecordLine(const QString& line, bool chinese, RecordLineFields* out);

// Takes a whole record file apart. The file must be exactly what a record dialog writes: the
// no-record text without a line end, or the header with N from 1 to 255, an empty line and N
// record lines numbered N down to 1, each line ending in CR LF. On failure returns false with the
// 1-based line number in *badLine and the reason in *why, and *out is left alone.
bool ParseRecordFile(const QByteArray& content, RecordFileContents* out, int* badLine, QString* why);
