#pragma once

#include "archive/Archive.h"
#include "archive/ArchiveTypes.h"
#include "archive/ClockModel.h"
#include "platform/Lang.h"

#include <QList>
#include <QString>

#include <array>
#include <optional>

// Both ends of one optical link side by side: each "Send Command k" at one unit matched with the
// "Receive Command k" it caused at the other, each "Send Command k Return" with its "Receive
// Command k Return", although the two units' clocks were set apart (by seconds or by years), set
// again in between, and drift freely.
//
// Times. A unit stamps its events on its own clock, to the millisecond. Here an event's time is
// its unit-clock time as milliseconds since 1970-01-01 00:00 of that clock (the unit keeps no
// zone, so such a time is never UTC). The common axis of a link is the LOCAL unit's clock.
//
// The clocks. The remote clock is a piecewise-linear function of the local one (ClockModel.h):
// segments break where a clock was set, found from the traffic and named by the archived clock
// writes when there are some. The relation is found at any size from the commands themselves
// (ClockSearch.h); each segment's offset and rate come from the fast edge of the transfers both
// ways (ClockModel.h). Where commands went one way only, offset and transfer cannot be told apart:
// the match gives the apparent delay under its own name. A path slower one way than the other
// shifts the offset by half the difference and cannot be seen from the logs.
//
// Judged where both logs look: a send is lost only when the receiving unit's log covers the moment
// it should have arrived (from the oldest to the newest record of one of its reads), a receive
// unwanted only when the sending unit's log covers the moment it would have been sent; outside
// those, events are "not covered by the other log".
//
// Everything below except the archive readers (LinkReaders.cpp) is a pure function of its arguments.

// Which way a command travelled.
enum class LinkDirection { LocalToRemote, RemoteToLocal };
// What was matched: the command ("Send Command k" with "Receive Command k") or its return ("Send
// Command k Return" with "Receive Command k Return").
enum class MatchPair { Command, Return };

// The two units of a link.
struct LinkEnds {
    UnitRow local;
    UnitRow remote;
    std::optional<qint64> visitId; // the visit that read both, when the link was chosen by a visit
};

// The units a visit read at the local and at the remote side (by the record reads it kept, else by
// the configuration answers that told their addresses). False with a message in *error when the
// visit is unknown or did not meet a unit at both sides; a database failure also leaves its text
// in archive.LastError(), which is empty otherwise.
bool LinkOfVisit(Archive& archive, qint64 visitId, LinkEnds* ends, QString* error);
// The visit that `text` names: its number (the row id, 1 for the first visit kept) or its uuid as
// `lmx207-logbook visits` prints it. std::nullopt when no visit has it (or on a database failure,
// whose text is then in archive.LastError()).
std::optional<qint64> VisitIdOf(Archive& archive, const QString& text);
// The units named `localName` and `remoteName`: a unit's name, or the address code of a unit known
// by its address, or "#id" for a unit's row id. False with a message in *error when a name matches
// no unit, or both name the same unit; a database failure also leaves its text in
// archive.LastError(), which is empty otherwise.
bool LinkOfUnits(Archive& archive, const QString& localName, const QString& remoteName, LinkEnds* ends,
                 QString* error);

// A stretch of a unit's own clock that one read of its log saw: from its oldest record to its newest.
struct CoveredSpan {
    qint64 fromMs = 0;
    qint64 toMs = 0;
};

// A date/time write the tool made: the unit's clock just after it (by the next clock reading of
// that unit in the same visit, else the PC's local time of the write, which the tool writes).
struct ClockWriteMark {
    UnitSide end = UnitSide::Local;
    double unitMs = 0;
    qint64 visitId = 0;
};

// Everything the matching needs of a link's two units, as the archive holds it.
struct LinkEvents {
    QList<EventRow> local;           // the local unit's events, in unit-clock order
    QList<EventRow> remote;          // the remote unit's events, in unit-clock order
    QList<ClockReading> localClock;  // the local unit's clock readings, oldest first
    QList<ClockReading> remoteClock; // the remote unit's clock readings, oldest first
    // The spans each unit's reads saw. Empty: the whole log, from its first event to its last.
    QList<CoveredSpan> localCovered;
    QList<CoveredSpan> remoteCovered;
    QList<ClockWriteMark> clockWrites; // of either unit, oldest first
    // Set when read as of a visit: only what visits up to it kept (see ReadLinkEvents).
    std::optional<qint64> asOfVisit;
};

// Reads both units' events, clock readings, reads' spans and clock writes. Without `asOfVisit`
// all of each unit's events are taken, whichever visit kept them; with it, only what the archive
// held when that visit was kept (events, readings, reads and writes of visits up to it), so a
// visit's report is the same whenever it is made. False with the database's message in *error.
bool ReadLinkEvents(Archive& archive, const LinkEnds& ends, LinkEvents* events, QString* error,
                    std::optional<qint64> asOfVisit = std::nullopt);

// The knobs of the matching.
struct MatchOptions {
    // The slowest transfer taken for a command: a protection link carries a command in
    // milliseconds, a multiplexed one in tens; half a second is far beyond either.
    int acceptMs = 500;
    std::optional<double> handOffsetMs; // a hand correction: this offset everywhere, nothing estimated
};

// The unit-clock time of an event in milliseconds (see Times above); std::nullopt when its time
// bytes are no valid date and time (such an event is never matched, and is placed nowhere). The
// one place the matching reads the archive's unit-time key.
std::optional<qint64> EventUnitMs(const EventRow& event);

// One matched pair.
struct CommandMatch {
    int command = 1; // 1 to 8
    LinkDirection direction = LinkDirection::LocalToRemote;
    MatchPair pair = MatchPair::Command;
    EventRow sent;             // the send (or send return) at the sending unit
    EventRow received;         // the receive (or receive return) at the other unit
    double sentAxisMs = 0;     // the send on the common axis
    double receivedAxisMs = 0; // the receive on the common axis
    // The transfer time by the clock model (receive minus send on the common axis); empty where
    // the segment went one way only and offset and transfer cannot be told apart.
    std::optional<double> transferMs;
    double apparentMs = 0; // receive minus send, each on its own clock
};

// A send that never arrived (lost), a receive that nobody sent (unwanted), or either outside the
// period the other log covers.
struct UnmatchedEvent {
    int command = 1;
    LinkDirection direction = LinkDirection::LocalToRemote; // the way it went, or should have gone
    MatchPair pair = MatchPair::Command;
    EventRow event;
    UnitSide end = UnitSide::Local; // the unit that logged it
    double axisMs = 0;              // on the common axis
};

// How the match placed the remote clock, overall.
enum class OffsetBasis {
    None,          // nothing travelled and no clock readings: no offset
    BothWays,      // split from traffic both ways (in at least one segment)
    OneWay,        // traffic one way only: the apparent delay, not split
    Readings,      // no command matched: the visit's clock readings place the remote clock
    HandCorrection // given by the user
};

// The offset against the configuration dialogs' clock readings: each unit's clock minus the PC's,
// taken in the same visit (whole seconds, a reading's bytes carry no milliseconds). Only the
// visit's own readings (or, for two units, the latest visit that read both) are used.
struct ClockCrossCheck {
    bool available = false;      // a visit read both units' clocks
    double readingOffsetMs = 0;  // remote minus local by the readings
    double estimateOffsetMs = 0; // the model at the time of those readings
    double differenceMs = 0;     // model minus readings
    bool agrees = false;         // within the readings' resolution (1.5 s)
    qint64 visitId = 0;          // the visit whose readings were used
};

// An alarm or a fibre interruption (or its return) of either end, on the common axis.
enum class IncidentKind { ReceiveAlarm, FibreA, FibreB };
struct LinkIncident {
    IncidentKind kind = IncidentKind::ReceiveAlarm;
    bool isReturn = false; // codes 34, 36, 38
    UnitSide end = UnitSide::Local;
    EventRow event;
    double axisMs = 0;
};
// An interruption (or alarm) from its event to its return at one end, on the common axis; a band
// whose return is not in the log is open (endAxisMs empty).
struct IncidentBand {
    IncidentKind kind = IncidentKind::FibreA;
    UnitSide end = UnitSide::Local;
    double startAxisMs = 0;
    std::optional<double> endAxisMs;
};

// The figures of one command one way (or both ways together, or its returns): as a
// teleprotection engineer states a channel's performance over the period both logs cover.
struct CommandMatchCounts {
    qint64 sent = 0;
    qint64 received = 0;
    qint64 matched = 0;
    qint64 lost = 0;               // sent inside the receiving log's period, never received
    qint64 unwanted = 0;           // received inside the sending log's period, never sent
    qint64 sentNotCovered = 0;     // sent where the receiving log does not look
    qint64 receivedNotCovered = 0; // received where the sending log does not look
    // Of the matched ones (transfer times; apparent delays where the segment went one way).
    std::optional<double> transferMedianMs;
    std::optional<double> transferP95Ms;
    std::optional<double> transferMaxMs;
    bool apparent = false; // the times above are apparent delays (some pair was one way only)
};

// The whole match of a link.
struct LinkMatch {
    OffsetBasis basis = OffsetBasis::None;
    // Whether every matched segment split offset and transfer (traffic both ways); when false,
    // some transfer times are apparent delays.
    bool split = false;
    // The offset and typical transfer of the segment that most pairs carry (the apparent delay
    // where it went one way): a summary; the segments say it all.
    double offsetMs = 0;
    double transferMs = 0;
    QList<ClockSegment> segments;     // in local-clock order
    QList<CommandMatch> matches;      // in the order of the sends on the common axis
    QList<UnmatchedEvent> lost;       // sends never received, in axis order
    QList<UnmatchedEvent> unwanted;   // receives never sent, in axis order
    QList<UnmatchedEvent> notCovered; // sends and receives the other log does not cover, in axis order
    QList<LinkIncident> incidents;    // alarms and fibre interruptions of both ends, in axis order
    QList<IncidentBand> bands;        // from each interruption or alarm to its return
    ClockCrossCheck crossCheck;
    // [pair][direction][command - 1]: pair 0 commands, 1 returns; direction 0 local → remote.
    std::array<std::array<std::array<CommandMatchCounts, 8>, 2>, 2> counts{};
    // Commands (not returns) of each command, both ways together. Index 0 is command 1.
    std::array<CommandMatchCounts, 8> perCommand{};
    int unplaced = 0;                // events whose time bytes are no valid date and time
    std::optional<qint64> asOfVisit; // the events were those known as of this visit
};

// Matches a link's events. Pure: the same events give the same result.
LinkMatch MatchLink(const LinkEvents& events, const MatchOptions& options = {});

// The slice of a link's match in [fromMs, toMs) of the common axis (the local clock): the pairs
// whose send falls in it, the lost, unwanted and not covered events and the incidents in it, the
// segments and bands that overlap it; the counts and their transfer times worked out anew from
// those, and the summary offset that of the segment that carries most pairs. The match was made
// on the whole logs, so an event near the period's edges is judged as the whole logs judge it.
LinkMatch MatchWithin(const LinkMatch& whole, double fromMs, double toMs);

// The segment of a match that holds local time `localMs` (the nearer one in a gap); nullptr when
// the match has none.
const ClockSegment* SegmentAt(const LinkMatch& match, double localMs);
// The offset (remote minus local) of a match at a local-clock time; 0 without a segment.
double OffsetAt(const LinkMatch& match, double localMs);
// An event of either end on the common axis (local clock); std::nullopt for an invalid time.
std::optional<double> AxisMs(const LinkMatch& match, const EventRow& event, UnitSide end);

// The command (1 to 8), direction and pair of an event code as seen at the unit that logged it:
// a send at the local end went local → remote, a receive there came remote → local. std::nullopt
// for codes that are no command (alarms, interruptions, invalid codes).
struct CommandCode {
    int command = 1;
    LinkDirection direction = LinkDirection::LocalToRemote;
    MatchPair pair = MatchPair::Command;
    bool isSend = true;
};
std::optional<CommandCode> CommandOfCode(int code, UnitSide end);

// An event as its record file prints it: "5  2008-12-25  13:45:07.123  Send Command 1.", with
// `number` in front and the event text in the chosen language.
QString EventRecordLine(const EventRow& event, int number, Lang lang);

// "local → remote" / "remote → local" in the command line's words: "local-remote", "remote-local".
QString DirectionText(LinkDirection direction);
// A time on a unit's clock as "2008-12-25 13:45:07.123" (no zone: the unit keeps none).
QString UnitClockText(double ms);
