#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

// Made-up histories of units written through the archive's own recorder (VisitRecorder), as the
// service program would keep them: for the logbook's suites, its benchmark and the tour.

// One 8-byte event record as a unit sends it: BCD year, day, hour, minute, second; month in the
// high nibble of byte 5 with the hundreds of the milliseconds in its low nibble; the code; the
// tens and units of the milliseconds in BCD.
QByteArray SampleEventRecord(const QDateTime& unitTime, int ms, int code);

// A record answer of the local (0x78) or remote (0x87) unit holding `records` (whole 8-byte
// records, at most 255).
QByteArray SampleRecordAnswer(bool local, const QByteArray& records);

// A clock answer of a unit whose clock shows `t`: the answer byte `first` (0x6F local, 0x90
// remote), then year, month, day, hour, minute and second in BCD.
QByteArray SampleClockAnswer(char first, const QDateTime& t);

// A 9-byte configuration answer (0x76 local, 0x89 remote) of an 8- or 4-command unit with the
// given address; the delay codes follow from `seed`, so different seeds give different settings.
QByteArray SampleConfigAnswer(bool local, int commands, int address, int seed);

// The code of the i-th event MakeSampleArchive gives a unit u: SampleEventCode(i + u). Mostly
// commands sent and received with their returns, now and then an alarm, a fibre interruption or
// an invalid record (codes 0 and 200).
int SampleEventCode(qint64 i);

// The archive at `path` (created) filled with `units` local units, each in its own visit: a
// configuration read telling its address (1000 + its number), then `eventsPerUnit` events in
// record answers of up to 254 records, spread over a year of unit time, codes of every kind.
// Returns false with the recorder's reason in *error.
bool MakeSampleArchive(const QString& path, int units, int eventsPerUnit, QString* error);

// A small archive with everything the logbook shows, for pictures and window tests: three units
// (one of them only as the remote unit), several visits over a few months by two PC users,
// configuration reads and a write that changed three settings (applied), a clock drifting over
// the readings and a date/time write, a record clear, a password change, and two failures in
// the journal.
bool MakeTourArchive(const QString& path, QString* error);
