#pragma once

#include <QtGlobal>

#include <vector>

// Where the remote clock stands against the local one, at any distance (a clock never set reads
// years off), found from the commands themselves: the same run of commands sent at one end shows
// at the other, shifted by the offset. As audio fingerprinting finds a clip in a song, each event
// and the gaps to the next two of its stream make a key; a send's key met by a receive's key votes
// for (local time, remote minus local). True votes line up along the clock relation; chance
// meetings scatter over years. Pure.

// One stream of events of one unit: times on that unit's clock, ascending.
using StreamTimes = std::vector<qint64>;

// The sends of a command (or return) at one end and their receives at the other.
struct StreamPair {
    const StreamTimes* sends = nullptr;
    const StreamTimes* receives = nullptr;
    bool sendsAreLocal = true;
};

// A vote: at local time `localMs` the remote clock read `remoteMinusLocalMs` more, within a
// transfer time (plus for commands local → remote, minus the other way).
struct ClockVote {
    double localMs = 0;
    double remoteMinusLocalMs = 0;
    bool localToRemote = true;
};

// Votes that agree: one clock relation over a stretch of local time, in time order.
struct ClockTrack {
    std::vector<ClockVote> votes;
    double fromMs = 0;
    double toMs = 0;
    // The remote clock minus the local one at `localMs` as the votes of one way show it (a transfer
    // above the relation local → remote, below it remote → local; the votes of both ways when one
    // way has none): each vote smoothed to the median of five neighbours (a stray vote among them
    // moves nothing), then read between the two smoothed votes around the time, so that a steady
    // drift is followed exactly.
    double LevelAt(double localMs, bool localToRemote) const;
    // Filled by FindClockTracks: the smoothed votes of each way.
    std::vector<ClockVote> smooth[2];
};

// The tracks the streams' votes make, in local-time order, never overlapping in time: each a
// stretch between clock sets. Empty when the traffic shows no relation.
std::vector<ClockTrack> FindClockTracks(const std::vector<StreamPair>& streams);
