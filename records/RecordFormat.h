#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The formats in which a unit hands over its event log: the record answer (answer byte, count N,
// N records of 8 bytes), the event texts, the text line made of each record and the record
// file. Plain functions, no widgets: both record dialogs use them.

constexpr int kEventRecordLength = 8;
// Highest valid event code; 0 and every code above are invalid records.
constexpr int kLastEventCode = 38;

// The event text of an event code in the chosen language; codes outside 1 to 38 give the
// invalid-record text.
QString RecordEventText(int code, bool chinese);

// Milliseconds of an 8-byte event record: (low nibble of byte 5) * 100 + (high nibble of
// byte 7) * 10 + (low nibble of byte 7), arithmetic on the nibbles without a digit check.
int RecordMilliseconds(const unsigned char* rec);

// One list and file line: "%d  20%02x-%02d-%x  %x:%02x:%02x.%03d  " followed by the event text.
QString FormatRecordLine(int number, const unsigned char* rec, bool chinese);

// Length of a complete record answer announcing n records: 2 + 8n.
int RecordAnswerLength(int n);

// The lines of a complete record answer, numbered N down to 1 in arrival order. Returns an
// empty list unless len is exactly 2 + 8 * buf[1].
QStringList DecodeRecordAnswer(const unsigned char* buf, int len, bool chinese);

// Status and file texts.
QString NoRecordText(bool chinese);               // "No record ." / "没有任何记录。"
QString RecordHeaderText(int n, bool chinese);    // "%d record(s) :" / "共有%d条记录："
QString RecordFileName(bool local, bool chinese); // "LocalRecord.txt", "本地记录.txt", ...
// The status once n > 0 records are saved, naming the file where it really is: "%d record(s) in
// C:\LocalRecord.txt ." / "共有%d条记录，保存于  C:\本地记录.txt  文件中。" (and their remote twins)
// with `path` in place of "C:\LocalRecord.txt", every blank and stop kept.
QString RecordSavedText(int n, const QString& path, bool chinese);

// Chinese texts as the unit's platform wrote them: GBK (code page 936).
QByteArray ToGbk(const QString& text);
// The same through glibc iconv: ToGbk's fallback when Qt has no GBK converter. Characters GBK
// cannot hold become '?'.
QByteArray IconvToGbk(const QString& text);

// The exact bytes of a record file: for n = 0 the no-record text without a line end; else the
// header, an empty line, then each line, every line ending in CR LF. Chinese in GBK, English in
// ASCII.
QByteArray RecordFileContent(int n, const QStringList& lines, bool chinese);

// Creates or truncates the file at `path` and writes `content`, through a temporary file in
// the same folder that replaces it only when complete, so a failure never leaves a half-written
// file and leaves the old one as it was. A link in the way is followed only when this account owns
// it and the folder holding it is one no other account can write to (see FollowOwnLinks); else
// nothing is written anywhere. Where the folder refuses new files for want of permission but the
// record file in it is writable, that file is truncated and written in place instead (and a
// failure there may leave it half-written); no other failure does that. Returns false and sets
// *errorText (when given) to the system's error text, or to why a link was not followed.
bool WriteRecordFile(const QString& path, const QByteArray& content, QString* errorText);
