#pragma once

#include "archive/MatchStats.h"

#include <QList>

#include <cmath>

#include <optional>
#include <vector>

// The two clocks of a link as a piecewise-linear relation: over each segment the remote clock reads
// the local one plus an offset that grows at a steady rate,
//
//     remote = local + offsetMs + rate * (local - originMs),
//
// because a unit's crystal runs at a nearly steady rate between the moments somebody sets its clock.
// Times are unit-clock milliseconds since 1970 (the units keep no zone). Pure values and functions.

// How a segment's relation was found.
enum class SegmentBasis {
    BothWays, // the fast edge of the transfers both ways: offset and transfer split
    OneWay,   // one way only: offset and transfer cannot be split, the offset is the apparent delay
    Readings, // no command matched: the clock readings of a visit place the remote clock
    Hand      // a correction given by the user
};

// Where a segment starts.
enum class SegmentStart {
    FirstTraffic, // the first segment: where the traffic begins
    ClockWrite,   // a date/time write the archive holds falls between it and the segment before
    Step          // the traffic shows a step no archived write explains (a clock set elsewhere)
};

struct ClockSegment {
    double fromMs = 0;       // local clock: the first event it carries
    double toMs = 0;         // local clock: the last event it carries
    double remoteFromMs = 0; // the same two on the remote clock
    double remoteToMs = 0;
    // Where it takes over from the segment before, on each clock (where that one ends): events at
    // or after these belong to it. The first segment starts at minus infinity.
    double startLocalMs = -INFINITY;
    double startRemoteMs = -INFINITY;
    double originMs = 0; // local clock
    // Remote minus local at originMs. Split: the clock offset; one way: the fastest apparent delay
    // (receive minus send, each on its own clock) of the way the commands went, less nothing.
    double offsetMs = 0;
    double rate = 0;       // ms of offset gained per ms of local clock
    double floorMs = 0;    // the fastest transfer the envelope shows (0 one way)
    int pairs[2] = {0, 0}; // the command pairs that carry it: local → remote, remote → local
    SegmentBasis basis = SegmentBasis::BothWays;
    SegmentStart start = SegmentStart::FirstTraffic;
    std::optional<qint64> clockWriteVisit; // with ClockWrite: the visit that set the clock

    // The remote clock at local time `localMs`, and the local time at a remote reading.
    double RemoteAt(double localMs) const { return localMs + offsetMs + rate * (localMs - originMs); }
    double LocalAt(double remoteMs) const { return (remoteMs - offsetMs + rate * originMs) / (1 + rate); }
    double OffsetAt(double localMs) const { return offsetMs + rate * (localMs - originMs); }
    // The rate as ms a day, the unit an engineer reads a crystal's drift in.
    double MsPerDay() const { return rate * 86'400'000.0; }
};

// The segment of `segments` (in clock order) that holds time `ms` of the local clock (or of the
// remote one): the last that starts at or before it, the first for a time before them all, so a
// time in the gap between two segments goes with the earlier. -1 without segments.
qsizetype SegmentIndexAt(const QList<ClockSegment>& segments, double ms, bool onLocalClock);

// The fit of one segment from its matched pairs: each pair an apparent delay (receive minus send,
// each on its own clock) at the local time it happened. Local → remote: d = offset(t) + transfer;
// remote → local: d = transfer − offset(t). Transfers are never below the link's fastest, and the
// fastest pairs (the lower envelope) carry the clocks undisturbed by queueing and jitter, so the fit
// puts the two lines d ≥ a1 + rate·t and d ≥ a2 − rate·t under all points, as close to them as it
// can (the linear programme of Moon, Skelly and Towsley, 1999, with one rate for both ways). The
// envelope then gives offset = (a1 − a2)/2 and the fastest transfer (a1 + a2)/2; one way only, the
// fit gives the rate and the apparent delay a1. Pairs far below the edge the rest make are taken
// for wrong ones and left out. std::nullopt without any pair.
struct EnvelopeFit {
    double originMs = 0;
    double a[2] = {0, 0}; // the two envelope lines at originMs
    double rate = 0;
    bool has[2] = {false, false};
};
std::optional<EnvelopeFit> FitEnvelope(const std::vector<DelayPoint>& localToRemote,
                                       const std::vector<DelayPoint>& remoteToLocal);

// The local times where the clocks' relation steps within one stretch of pairs (a clock set by a
// fraction of a second to a few seconds, which the votes of ClockSearch.h do not tell apart), in
// time order. A step moves the fast edge of the apparent delays one way up and the other way down
// by its size and stays: the edge of each run of a dozen pairs, less the drift, jumps once by more
// than the jitter of the link and then holds. Where both ways carry pairs, both must show it at
// the same moment. Each time lies between the last pair of the old relation and the first of the new.
std::vector<double> ClockSteps(const std::vector<DelayPoint>& localToRemote,
                               const std::vector<DelayPoint>& remoteToLocal);

// A segment from a fit, on the time range of its pairs.
ClockSegment SegmentOfFit(const EnvelopeFit& fit);

// The fastest a crystal may drift: 1000 ppm, 86 s a day, ten times what cheap real-time clocks do
// over temperature. The fit never looks for a steeper rate.
constexpr double kMaxRate = 1e-3;
