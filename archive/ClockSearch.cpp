#include "archive/ClockSearch.h"

#include "archive/ClockModel.h"
#include "archive/MatchStats.h"

#include <algorithm>
#include <cmath>

namespace {

// Gap buckets of a second: a gap seen at both ends differs by the jitter of its two transfers and
// the drift over it, so the send side files each gap under every bucket within this of it.
constexpr double kBucketMs = 1000;
constexpr double kGapJitterMs = 400;
// Patterns longer than this say little (the drift over them blurs the bucket) and are left out.
constexpr qint64 kLongestGapMs = 12LL * 3600 * 1000;
// A key that many sends share (bursts, a steady beat) votes for noise: like a common word in a
// text search it is skipped.
constexpr size_t kCommonKey = 24;
// Streams with few events are compared pair by pair instead (every send with every receive): the
// 255-record logs of one visit.
constexpr size_t kPairwiseLimit = 1 << 14;
// A stream's receives probe the sends' patterns at most this many times, evenly over the stream:
// a few hundred true votes a stream find the relation and follow a drift as well as thousands.
constexpr size_t kMostProbes = 512;
// Votes closer than this in remote-minus-local belong to one relation: they differ by twice a
// transfer (both ways) and by the drift between neighbours.
constexpr double kLevelGapMs = 2000;
// A relation rests on at least this many votes, and on this part of the best relation's; fewer are
// chance.
constexpr size_t kLeastVotes = 3;
constexpr double kLeastShare = 0.02;

quint64 Key(int stream, qint64 b1, qint64 b2) {
    return (quint64(stream) << 56) ^ (quint64(b1 & 0xFFFFFFF) << 28) ^ quint64(b2 & 0xFFFFFFF);
}

// The drift a pattern's gaps allow for: 300 ppm (26 s a day), beyond what real-time clock crystals
// do over temperature; the fit itself looks further (kMaxRate), this only sizes the buckets.
constexpr double kPatternRate = 3e-4;

double Tolerance(qint64 gap) {
    return kGapJitterMs + kPatternRate * double(gap);
}

struct Filed {
    quint64 key;
    qint64 at;
};

void Vote(const StreamPair& s, qint64 send, qint64 receive, std::vector<ClockVote>* votes) {
    // Local → remote: the receive is remote; remote → local: the send is.
    if (s.sendsAreLocal)
        votes->push_back({double(send), double(receive - send), true});
    else
        votes->push_back({double(receive), double(send - receive), false});
}

void Fingerprint(int index, const StreamPair& s, std::vector<ClockVote>* votes) {
    const StreamTimes& S = *s.sends;
    const StreamTimes& R = *s.receives;
    if (S.size() * R.size() <= kPairwiseLimit) {
        for (qint64 a : S)
            for (qint64 b : R)
                Vote(s, a, b, votes);
        return;
    }
    std::vector<Filed> filed;
    filed.reserve(S.size() * 4);
    for (size_t i = 0; i + 2 < S.size(); ++i) {
        const qint64 g1 = S[i + 1] - S[i];
        const qint64 g2 = S[i + 2] - S[i + 1];
        if (g1 > kLongestGapMs || g2 > kLongestGapMs)
            continue;
        const double t1 = Tolerance(g1);
        const double t2 = Tolerance(g2);
        for (auto b1 = qint64(std::floor((double(g1) - t1) / kBucketMs));
             b1 <= qint64(std::floor((double(g1) + t1) / kBucketMs)); ++b1)
            for (auto b2 = qint64(std::floor((double(g2) - t2) / kBucketMs));
                 b2 <= qint64(std::floor((double(g2) + t2) / kBucketMs)); ++b2)
                filed.push_back({Key(index, b1, b2), S[i]});
    }
    std::sort(filed.begin(), filed.end(), [](const Filed& a, const Filed& b) { return a.key < b.key; });
    const size_t stride = std::max<size_t>(1, R.size() / kMostProbes);
    for (size_t j = 0; j + 2 < R.size(); j += stride) {
        const qint64 g1 = R[j + 1] - R[j];
        const qint64 g2 = R[j + 2] - R[j + 1];
        const quint64 key = Key(index, qint64(std::floor(double(g1) / kBucketMs)),
                                qint64(std::floor(double(g2) / kBucketMs)));
        const auto [b, e] = std::equal_range(filed.begin(), filed.end(), Filed{key, 0},
                                             [](const Filed& x, const Filed& y) { return x.key < y.key; });
        if (e - b > std::ptrdiff_t(kCommonKey))
            continue;
        for (auto it = b; it != e; ++it)
            Vote(s, it->at, R[j], votes);
    }
}

// Splits a level's votes (in time order) where the relation steps: a vote off the running level by
// more than a level gap (plus what the fastest drift makes of the time since) starts a new track
// when the next votes agree with it, and is chance otherwise.
void SplitAtSteps(std::vector<ClockVote> votes, std::vector<ClockTrack>* tracks) {
    std::sort(votes.begin(), votes.end(),
              [](const ClockVote& a, const ClockVote& b) { return a.localMs < b.localMs; });
    ClockTrack current;
    const auto flush = [&] {
        if (current.votes.size() >= kLeastVotes) {
            current.fromMs = current.votes.front().localMs;
            current.toMs = current.votes.back().localMs;
            tracks->push_back(std::move(current));
        }
        current = ClockTrack();
    };
    const auto agree = [](const ClockVote& a, const ClockVote& b) {
        return std::abs(a.remoteMinusLocalMs - b.remoteMinusLocalMs) <=
               kLevelGapMs + kMaxRate * std::abs(a.localMs - b.localMs);
    };
    for (size_t i = 0; i < votes.size(); ++i) {
        if (current.votes.empty() || agree(current.votes.back(), votes[i])) {
            current.votes.push_back(votes[i]);
            continue;
        }
        const bool stepped =
            i + 2 < votes.size() && agree(votes[i], votes[i + 1]) && agree(votes[i], votes[i + 2]);
        if (stepped) {
            flush();
            current.votes.push_back(votes[i]);
        }
    }
    flush();
}

} // namespace

double ClockTrack::LevelAt(double localMs, bool localToRemote) const {
    const std::vector<ClockVote>& v =
        smooth[localToRemote ? 0 : 1].empty() ? smooth[localToRemote ? 1 : 0] : smooth[localToRemote ? 0 : 1];
    if (v.empty())
        return 0;
    const auto it = std::lower_bound(v.begin(), v.end(), localMs,
                                     [](const ClockVote& x, double t) { return x.localMs < t; });
    if (it == v.begin())
        return it->remoteMinusLocalMs;
    if (it == v.end())
        return v.back().remoteMinusLocalMs;
    const ClockVote& a = *(it - 1);
    const ClockVote& b = *it;
    if (b.localMs <= a.localMs)
        return b.remoteMinusLocalMs;
    return a.remoteMinusLocalMs +
           (b.remoteMinusLocalMs - a.remoteMinusLocalMs) * (localMs - a.localMs) / (b.localMs - a.localMs);
}

namespace {

void Smooth(ClockTrack* t) {
    for (int dir = 0; dir < 2; ++dir) {
        std::vector<ClockVote> own;
        for (const ClockVote& v : t->votes)
            if (v.localToRemote == (dir == 0))
                own.push_back(v);
        std::vector<ClockVote>& out = t->smooth[dir];
        out = own;
        for (size_t i = 0; i < own.size(); ++i) {
            const size_t from = i >= 2 ? i - 2 : 0;
            const size_t to = std::min(own.size(), from + 5);
            double near[5];
            size_t n = 0;
            for (size_t j = to >= 5 ? to - 5 : 0; j < to; ++j)
                near[n++] = own[j].remoteMinusLocalMs;
            std::sort(near, near + n);
            out[i].remoteMinusLocalMs = n % 2 ? near[n / 2] : (near[n / 2 - 1] + near[n / 2]) / 2;
        }
    }
}

} // namespace

std::vector<ClockTrack> FindClockTracks(const std::vector<StreamPair>& streams) {
    std::vector<ClockVote> votes;
    for (size_t i = 0; i < streams.size(); ++i)
        if (streams[i].sends && streams[i].receives && !streams[i].sends->empty() &&
            !streams[i].receives->empty())
            Fingerprint(int(i), streams[i], &votes);
    // Levels: votes sorted by remote minus local, cut where neighbours lie a level gap apart.
    std::sort(votes.begin(), votes.end(), [](const ClockVote& a, const ClockVote& b) {
        return a.remoteMinusLocalMs < b.remoteMinusLocalMs;
    });
    std::vector<ClockTrack> candidates;
    for (size_t i = 0; i < votes.size();) {
        size_t j = i + 1;
        while (j < votes.size() &&
               votes[j].remoteMinusLocalMs - votes[j - 1].remoteMinusLocalMs <= kLevelGapMs)
            ++j;
        if (j - i >= kLeastVotes)
            SplitAtSteps(
                std::vector<ClockVote>(votes.begin() + std::ptrdiff_t(i), votes.begin() + std::ptrdiff_t(j)),
                &candidates);
        i = j;
    }
    // The best supported first; a track that overlaps one already taken in time is chance (two
    // relations cannot hold at once).
    std::sort(candidates.begin(), candidates.end(),
              [](const ClockTrack& a, const ClockTrack& b) { return a.votes.size() > b.votes.size(); });
    std::vector<ClockTrack> taken;
    for (ClockTrack& c : candidates) {
        // A stretch between clock sets carries a share of the traffic; a cluster of chance votes (a
        // send meeting an unrelated receive where only one log looks) gathers a handful.
        if (!taken.empty() && double(c.votes.size()) < kLeastShare * double(taken.front().votes.size()))
            break;
        const bool overlaps = std::any_of(taken.begin(), taken.end(), [&c](const ClockTrack& t) {
            return c.fromMs <= t.toMs && t.fromMs <= c.toMs;
        });
        if (!overlaps)
            taken.push_back(std::move(c));
    }
    std::sort(taken.begin(), taken.end(),
              [](const ClockTrack& a, const ClockTrack& b) { return a.fromMs < b.fromMs; });
    for (ClockTrack& t : taken)
        Smooth(&t);
    return taken;
}
