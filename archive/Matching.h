#pragma once

#include "archive/Archive.h"
#include "archive/ArchiveTypes.h"

#include <QList>
#include <QString>

#include <array>
#include <optional>

// Both ends of one optical link side by side: each "Send Command k" at one unit matched with the
// "Receive Command k" it caused at the other, each "Send Command k Return" with its "Receive
// Command k Return", although the two units' clocks were set apart and drift freely.
//
// Times. A unit stamps its events on its own clock, to the millisecond. Here an event's time is
// its unit-clock time as milliseconds since 1970-01-01 00:00 read as if it were UTC (the unit keeps
// no zone). The common axis of a link is the LOCAL unit's clock: a remote event's corrected time
// is its remote-clock time minus the clock offset at that moment.
//
// Offset. offset = remote clock minus local clock. A command sent local → remote shows the
// apparent delay d1 = transfer + offset (receive time at the remote end minus send time at the
// local end, each on its own clock); one sent remote → local shows d2 = transfer − offset. Where
// commands travelled both ways in the same stretch of time, and the path is symmetric, offset =
// (d1 − d2) / 2 and transfer = (d1 + d2) / 2, as NTP splits a round trip. Where they went one way
// only, the offset and the transfer time cannot be told apart: the match reports the apparent
// delay instead and says so. The estimate takes medians, rejects outliers, and is made over a
// sliding window of the local clock, so clocks that drift (a second a day, for weeks) or were set
// in between still match.
//
// Everything below except the two archive readers is a pure function of its arguments.

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

// Everything the matching needs of a link's two units, as the archive holds it.
struct LinkEvents {
    QList<EventRow> local;           // the local unit's events, in unit-clock order
    QList<EventRow> remote;          // the remote unit's events, in unit-clock order
    QList<ClockReading> localClock;  // the local unit's clock readings, oldest first
    QList<ClockReading> remoteClock; // the remote unit's clock readings, oldest first
};

// Reads both units' events and clock readings. All of each unit's events are taken, whichever
// visit kept them. False with the database's message in *error.
bool ReadLinkEvents(Archive& archive, const LinkEnds& ends, LinkEvents* events, QString* error);

// The knobs of the matching. The defaults suit a protection link: transfers of milliseconds,
// clocks set by hand to within minutes, drifting seconds a day.
struct MatchOptions {
    // How far apart the clocks may be: from 0, or from what the clock readings of a visit that read
    // both units say.
    qint64 maxOffsetMs = 24LL * 3600 * 1000;
    int acceptMs = 500; // a receive further than this from the typical transfer is not a match
    qint64 windowMs = 6LL * 3600 * 1000; // the sliding window of the offset estimate (local clock)
    std::optional<double> handOffsetMs;  // a hand correction: this offset everywhere, nothing estimated
};

// The unit-clock time of an event in milliseconds (see Times above); std::nullopt when its time
// bytes are no valid date and time (such an event is never matched, and is placed nowhere).
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
    // The transfer time after the offset is taken out; where the offset could not be split from
    // the transfer (one-way traffic), the apparent delay (receive minus send, each on its own clock).
    double transferMs = 0;
};

// A send that never arrived (lost) or a receive that nobody sent (unwanted).
struct UnmatchedEvent {
    int command = 1;
    LinkDirection direction = LinkDirection::LocalToRemote; // the way it went, or should have gone
    MatchPair pair = MatchPair::Command;
    EventRow event;
    UnitSide end = UnitSide::Local; // the unit that logged it
    double axisMs = 0;              // on the common axis
};

// The offset in one window of the sliding estimate.
struct OffsetSample {
    double unitMs = 0;     // the window's middle, on the local clock
    double offsetMs = 0;   // remote clock minus local clock (the apparent delay where not split)
    double spreadMs = 0;   // the scatter of the apparent delays behind it (median absolute deviation)
    double transferMs = 0; // the typical transfer time there (0 where not split)
    int pairs = 0;         // the pairs it rests on
    bool split = false;    // both directions were seen in this window
};

// How the offset was found.
enum class OffsetBasis {
    None,          // nothing travelled: no offset
    BothWays,      // split from traffic both ways (somewhere in the link's history)
    OneWay,        // traffic one way only: the apparent delay, not split
    HandCorrection // given by the user
};

// The offset against the configuration dialogs' clock readings: each unit's clock minus the PC's,
// taken in the same visit (whole seconds, a reading's bytes carry no milliseconds).
struct ClockCrossCheck {
    bool available = false;      // a visit read both units' clocks
    double readingOffsetMs = 0;  // remote minus local by the readings (the latest visit that had both)
    double estimateOffsetMs = 0; // the estimate at the time of those readings
    double differenceMs = 0;     // estimate minus readings
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

// The counts of one command (both directions together, or one direction). Commands only: the
// returns are matched and listed, but not counted here.
struct CommandMatchCounts {
    qint64 sent = 0;
    qint64 received = 0;
    qint64 matched = 0;
    qint64 lost = 0;
    qint64 unwanted = 0;
    std::optional<double> transferMedianMs; // of the matched commands; empty without any
    std::optional<double> transferP95Ms;
    std::optional<double> transferMaxMs;
};

// The whole match of a link.
struct LinkMatch {
    OffsetBasis basis = OffsetBasis::None;
    // Whether offset and transfer could be split (traffic both ways); when false, transfer times
    // are apparent delays.
    bool split = false;
    // The median offset over the whole link, and the typical transfer time (the apparent delay
    // where not split).
    double offsetMs = 0;
    double transferMs = 0;
    QList<OffsetSample> offsets;    // the sliding estimate, in local-clock order
    QList<CommandMatch> matches;    // in the order of the sends on the common axis
    QList<UnmatchedEvent> lost;     // sends never received, in axis order
    QList<UnmatchedEvent> unwanted; // receives never sent, in axis order
    QList<LinkIncident> incidents;  // alarms and fibre interruptions of both ends, in axis order
    QList<IncidentBand> bands;      // from each interruption or alarm to its return
    ClockCrossCheck crossCheck;
    std::array<CommandMatchCounts, 8> perCommand{}; // index 0 is command 1, both directions
    // [0] local → remote, [1] remote → local; index 0 is command 1
    std::array<std::array<CommandMatchCounts, 8>, 2> perDirection{};
    int unplaced = 0; // events whose time bytes are no valid date and time
};

// Matches a link's events. Pure: the same events give the same result.
LinkMatch MatchLink(const LinkEvents& events, const MatchOptions& options = {});

// The offset (remote minus local) of a match at a local-clock time: interpolated between the
// sliding estimate's windows and carried on beyond them as the two outer windows slope (for as far
// as they lie apart, then level); the overall offset when there is no window.
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
QString EventRecordLine(const EventRow& event, int number, bool chinese);

// The match as text for scripts. CSV (RFC 4180, CR LF): a header row "kind,command,direction,
// pair,local time,remote time,axis time,transfer ms,offset ms", then the overall estimate
// ("estimate", its pair column "both-ways", "one-way", "hand" or "none"), one row per window of
// the sliding estimate ("offset", pair "split" or "apparent"), one per match ("match"), per lost
// ("lost") and per unwanted ("unwanted") command or return. Unit times as the unit's clock shows
// them, axis times on the local clock, ISO 8601 with milliseconds. JSON: one object with "local",
// "remote", "basis", "split", "offsetMs", "transferMs", "offsets", "matches", "lost", "unwanted",
// "counts" and "crossCheck", ending in a line feed.
QByteArray MatchCsv(const LinkMatch& match, const LinkEnds& ends);
QByteArray MatchJson(const LinkMatch& match, const LinkEnds& ends);
// "local → remote" / "remote → local" in the command line's words: "local-remote", "remote-local".
QString DirectionText(LinkDirection direction);
