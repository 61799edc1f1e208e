#pragma once

#include "archive/ArchiveTypes.h"

#include <QByteArray>
#include <QDate>
#include <QHash>
#include <QList>
#include <QString>

// Plain rules of the logbook, no database: how a unit's clock becomes a sortable key, which event
// codes a filter means, what differs between two configurations, and the export lines.

// The unit-clock time of an 8-byte event record as one sortable number: the year, day, hour,
// minute and second bytes as they are (BCD), the month nibble and the millisecond value
// (RecordMilliseconds) packed high to low, so that valid times sort in time order and two records
// that differ in any of these fields never share a key.
// Layout: year(8) month(4) day(8) hour(8) minute(8) second(8) ms(11), 55 bits.
qint64 UnitTimeKey(const unsigned char* record);
// The same from the fields as the record line shows them: BCD bytes for year (within the century),
// day, hour, minute, second; the month as a number 0 to 15; milliseconds 0 to 2047.
qint64 UnitTimeKeyOf(int yearBcd, int month, int dayBcd, int hourBcd, int minuteBcd, int secondBcd, int ms);
// A key taken apart again, the one place that reads its layout: the year, day, hour, minute and
// second bytes as stored (BCD, unchecked), the month and the milliseconds as numbers.
struct UnitTimeFields {
    int year, month, day, hour, minute, second, ms;
};
UnitTimeFields UnitTimeFieldsOf(qint64 key);
// The key of the first millisecond of a calendar day (years 2000 to 2099; earlier days give the
// first key of 2000, later ones the last key of 2099).
qint64 UnitTimeKeyOfDayStart(const QDate& day);
// The key just after the last millisecond of a calendar day.
qint64 UnitTimeKeyOfDayEnd(const QDate& day);
// A key as ISO 8601 with milliseconds, "2008-12-25T13:45:07.123", each BCD byte printed in
// hexadecimal as the record line prints it (so BCD digits show as decimal ones).
QString UnitTimeText(qint64 key);
// The unit-clock time of a key for arithmetic; invalid when its bytes are not a valid date and time.
QDateTime UnitTimeDateTime(qint64 key);

// The one kind (an EventKind bit) of an event code.
unsigned EventKindsOfCode(int code);
// The event codes 0 to 255 that a filter's command, kinds and text choose, ascending: text
// matches when the English or the Chinese event text contains it, case-insensitively. An
// empty list means the filter chooses no code at all; a list of all 256 codes means any code.
QList<int> EventCodesOfFilter(const EventFilter& filter);

// The unit's label where a person reads it: its name, else "Address N", else "Unit #id".
QString UnitLabel(const UnitRow& unit);

// What differs between two snapshots: the address, the command count, each delay setting by
// command (commands 5 to 8 count only where either snapshot has 8 commands).
ConfigDifference DiffConfigs(const ConfigSnapshot& a, const ConfigSnapshot& b);
// A snapshot's settings as one line: "address 300, 8 commands, input 1 0 0 0 0 0 0 1, output
// 0 1 2 3 1 1 1 1, extend 3 2 1 0 0 0 0 0" (codes, "-" for no selection).
QString ConfigSummary(const ConfigSnapshot& snapshot);

// A configuration snapshot from a 9-byte configuration answer; false unless it is one.
bool SnapshotFromAnswer(const QByteArray& answer, ConfigSnapshot* out);
// A configuration snapshot from a 7-byte configuration block and the command count the dialog
// held; false unless `block` has 7 bytes.
bool SnapshotFromBlock(const QByteArray& block, int commandCount, ConfigSnapshot* out);

// Unit clock minus PC local clock in milliseconds, for a 7-byte date-and-time answer (answer byte
// first) that arrived at `pc`; std::nullopt when its bytes are not a valid date and time.
std::optional<qint64> ClockDifferenceMs(const QByteArray& answer, const PcTime& pc);
// "2008-12-26 09:05:07" of a 7-byte date-and-time answer, bytes printed in hexadecimal.
QString ClockAnswerText(const QByteArray& answer);

// CSV per RFC 4180: a field in double quotes when it holds a comma, a quote, CR or LF, with each
// quote doubled; lines end in CR LF. A text that a spreadsheet would run as a formula (first
// character =, +, -, @, tab or CR) is written as "'text": the cell shows the text. For text
// columns only; numbers are written as they are.
QByteArray CsvField(const QString& field);
// The header row of the event export: unit,side,time,code,English text,Chinese text,first seen,visit
QByteArray CsvEventHeader();
// One event as a CSV row, times in ISO 8601 with milliseconds (the PC time in UTC, with "Z").
QByteArray CsvEventLine(const EventRow& row);
// One event as a JSON object (one line, no trailing comma or newline).
QByteArray JsonEventObject(const EventRow& row);
// PC time as ISO 8601 UTC with milliseconds: "2026-12-07T09:05:07.123Z".
QString PcTimeText(const PcTime& time);

// The 24 delay codes as kept in the database: "c,c,...", row by row, -1 for no selection.
QString CodesText(const std::array<std::array<int, 8>, 3>& codes);
std::array<std::array<int, 8>, 3> CodesOfText(const QString& text);

// The CSV rows of an export, as CsvEventLine writes them, made faster for a million rows: what
// repeats (unit, code texts, the time a read was kept, the visit) is formatted once.
class CsvEventWriter {
public:
    // Appends the row of `row` to *out.
    void Append(const EventRow& row, QByteArray* out);

private:
    QHash<qint64, QByteArray> m_units;
    QHash<qint64, QByteArray> m_visits;
    QByteArray m_codes[256];
    qint64 m_lastSeenMs = -1;
    QByteArray m_lastSeen;
};
