#pragma once

#include <QByteArray>

class QObject;

// The service program's hand-over to the logbook: one call where a dialog already holds what the
// unit answered or what it sent. Each call copies what it is given and returns at once; a thread
// of its own keeps it in the archive at DefaultArchivePath() (a visit per run of the program).
// A call never throws, never waits on the database, never shows anything and never changes what
// the dialog does. The thread puts each fact in the spool beside the database first (Spool.h), then
// into the archive: a fact the archive cannot take now (locked by another writer beyond the busy
// timeout, damaged, full, not there) waits in the spool and goes in once, at the next fact, at a
// retry every few seconds, or at the next start of either program; the journal beside the
// database, which the logbook shows, says what waited and when it went in. A damaged default
// archive is set aside and a new one started. Only a fact that neither the spool nor the archive
// can take is lost, and the journal says so.
//
// `local` is the side (true: the local unit, false: the remote unit through it), `port` the
// control's CommPort (1 = COM1, 2 = COM2), kept as its device path. `dialog` tells one dialog's
// answers from another's, so that a dialog's first date-and-time answer and the first after each
// date-and-time write are kept, and not every poll.

// A complete record answer: answer byte, N, then N records of 8 bytes (len = 2 + 8N).
void ArchiveRecordAnswer(bool local, int port, const unsigned char* buf, int len) noexcept;
// A complete 9-byte configuration answer.
void ArchiveConfigAnswer(bool local, int port, const unsigned char* buf, int len) noexcept;
// A complete 7-byte date-and-time answer.
void ArchiveClockAnswer(const QObject* dialog, bool local, int port, const unsigned char* buf,
                        int len) noexcept;
// The 7-byte configuration block just sent; commandCount 4 or 8 as the dialog holds it.
void ArchiveConfigWrite(bool local, int port, const unsigned char* block, int len, int commandCount) noexcept;
// The date and time groups just sent (2, 4 or 6 bytes).
void ArchiveClockWrite(const QObject* dialog, bool local, int port, const QByteArray& sent) noexcept;
// A record clear just sent.
void ArchiveRecordClear(bool local, int port) noexcept;
// The login password was just changed.
void ArchivePasswordChange() noexcept;

// Waits up to timeoutMs until everything handed over so far is kept (or journaled); true when
// nothing is left waiting. For tests, tools and the end of the program.
bool ArchiveHandOverFlush(int timeoutMs) noexcept;
// At the service program's start: moves in what the spool beside the default archive holds (on the
// hand-over's thread; returns at once).
void ArchiveHandOverStart() noexcept;
// Ends the current visit: the next hand-over starts a new one (a new run of the program, for
// tests and tools that play several in one process).
void ArchiveHandOverNewVisit() noexcept;
