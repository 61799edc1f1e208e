#include "archive/Matching.h"

#include "archive/ArchiveFormat.h"
#include "archive/ClockSearch.h"
#include "archive/MatchPairing.h"
#include "archive/MatchStats.h"
#include "config/ConfigFormat.h"
#include "records/RecordFormat.h"

#include <QDateTime>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <vector>

namespace {

// The archive's unit-time key: BCD year, day, hour, minute, second and the month as a number,
// above 11 bits of milliseconds (see UnitTimeKey()).
constexpr int kMsBits = 11;

struct KeyFields {
    int year, month, day, hour, minute, second, ms; // BCD bytes as stored, month and ms as numbers
};

KeyFields FieldsOfKey(qint64 key) {
    KeyFields f{};
    f.ms = int(key & ((1 << kMsBits) - 1));
    key >>= kMsBits;
    f.second = int(key & 0xFF);
    f.minute = int((key >> 8) & 0xFF);
    f.hour = int((key >> 16) & 0xFF);
    f.day = int((key >> 24) & 0xFF);
    f.month = int((key >> 32) & 0x0F);
    f.year = int((key >> 36) & 0xFF);
    return f;
}

int Bcd(int b) {
    return FromBcd(static_cast<unsigned char>(b));
}

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's days_from_civil).
qint64 DaysFromCivil(int y, int m, int d) {
    y -= m <= 2 ? 1 : 0;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return qint64(era) * 146097 + doe - 719468;
}

int DaysInMonth(int y, int m) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (m == 2 && ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0))
        return 29;
    return days[m - 1];
}

// The stamps are whole milliseconds and the envelope rests on them, so a transfer may read up to
// this much below the fastest the fit found and still be the same link.
constexpr double kStampSlackMs = 2.0;
// The first pairing follows the votes' level, which lies a transfer above or below the relation and
// scatters by the jitter between neighbouring votes: its window reaches this far past the
// slowest transfer taken.
constexpr double kLevelSlackMs = 250.0;
// The accepted transfer window closes this many spreads above the fastest transfer (the spread:
// the 90th percentile of the first pairing's transfers above the fastest), and this far beyond at
// least; a twin or the next command of a burst lies outside it when the link is steady.
constexpr double kWindowSpreads = 3.0;
constexpr double kWindowFloorMs = 5.0;
// A track must pair at least this part of the local end's traffic in its span to be a relation of
// the clocks rather than chance (a link that loses a third of its commands is still found).
constexpr double kTrackPaired = 0.3;
// The clock readings carry whole seconds, read a poll apart.
constexpr double kReadingResolutionMs = 1500.0;

// One stream of events of one end: unit-clock times ascending, with their rows.
struct Stream {
    std::vector<qint64> ms;
    std::vector<int> row;
};

// [dir][command - 1][pair]: dir 0 local → remote. Sends are logged by the sender, receives by the
// receiver.
struct Streams {
    Stream sends[2][8][2];
    Stream receives[2][8][2];
};

bool SendsAreLocal(int dir) {
    return dir == 0;
}

} // namespace

// --- times and codes ------------------------------------------------------------------------

std::optional<qint64> EventUnitMs(const EventRow& event) {
    const KeyFields f = FieldsOfKey(event.unitTime);
    for (int b : {f.year, f.day, f.hour, f.minute, f.second})
        if (!ValidBcd(b))
            return std::nullopt;
    const int y = 2000 + Bcd(f.year);
    const int d = Bcd(f.day);
    if (f.month < 1 || f.month > 12 || d < 1 || d > DaysInMonth(y, f.month) || Bcd(f.hour) > 23 ||
        Bcd(f.minute) > 59 || Bcd(f.second) > 59 || f.ms > 999)
        return std::nullopt;
    return ((DaysFromCivil(y, f.month, d) * 24 + Bcd(f.hour)) * 60 + Bcd(f.minute)) * 60000LL +
           Bcd(f.second) * 1000LL + f.ms;
}

std::optional<CommandCode> CommandOfCode(int code, UnitSide end) {
    if (code < 1 || code > 32)
        return std::nullopt;
    CommandCode c;
    c.isSend = code <= 16;
    const int inKind = (code - 1) % 16; // 0..15
    c.command = inKind / 2 + 1;
    c.pair = inKind % 2 == 0 ? MatchPair::Command : MatchPair::Return;
    const bool localToRemote = (end == UnitSide::Local) == c.isSend;
    c.direction = localToRemote ? LinkDirection::LocalToRemote : LinkDirection::RemoteToLocal;
    return c;
}

QString EventRecordLine(const EventRow& event, int number, bool chinese) {
    const KeyFields f = FieldsOfKey(event.unitTime);
    unsigned char rec[kEventRecordLength] = {};
    rec[0] = static_cast<unsigned char>(f.year);
    rec[1] = static_cast<unsigned char>(f.day);
    rec[2] = static_cast<unsigned char>(f.hour);
    rec[3] = static_cast<unsigned char>(f.minute);
    rec[4] = static_cast<unsigned char>(f.second);
    // The millisecond nibbles back from their value: the hundreds nibble takes what it can (up to
    // 15), the tens and units the rest, so values above 999 print as the record did.
    const int hundreds = std::min(f.ms / 100, 15);
    const int rest = f.ms - hundreds * 100;
    const int tens = std::min(rest / 10, 15);
    const int units = rest - tens * 10;
    rec[5] = static_cast<unsigned char>((f.month << 4) | hundreds);
    rec[6] = static_cast<unsigned char>(event.code >= 0 && event.code <= 255 ? event.code : 0);
    rec[7] = static_cast<unsigned char>((tens << 4) | (units & 0x0F));
    return FormatRecordLine(number, rec, chinese);
}

QString DirectionText(LinkDirection direction) {
    return direction == LinkDirection::LocalToRemote ? QStringLiteral("local-remote")
                                                     : QStringLiteral("remote-local");
}

QString UnitClockText(double ms) {
    return QDateTime::fromMSecsSinceEpoch(qint64(std::llround(ms)), Qt::UTC)
        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

// --- the model on the match -----------------------------------------------------------------

namespace {

// The segment a remote-clock time belongs to.
const ClockSegment* SegmentOfRemote(const QList<ClockSegment>& s, double remoteMs) {
    if (s.isEmpty())
        return nullptr;
    const ClockSegment* found = &s.first();
    for (const ClockSegment& seg : s)
        if (seg.startRemoteMs <= remoteMs)
            found = &seg;
    return found;
}

const ClockSegment* SegmentOfLocal(const QList<ClockSegment>& s, double localMs) {
    if (s.isEmpty())
        return nullptr;
    const ClockSegment* found = &s.first();
    for (const ClockSegment& seg : s)
        if (seg.startLocalMs <= localMs)
            found = &seg;
    return found;
}

} // namespace

const ClockSegment* SegmentAt(const LinkMatch& match, double localMs) {
    return SegmentOfLocal(match.segments, localMs);
}

double OffsetAt(const LinkMatch& match, double localMs) {
    const ClockSegment* s = SegmentAt(match, localMs);
    return s ? s->OffsetAt(localMs) : 0.0;
}

std::optional<double> AxisMs(const LinkMatch& match, const EventRow& event, UnitSide end) {
    const std::optional<qint64> ms = EventUnitMs(event);
    if (!ms)
        return std::nullopt;
    if (end == UnitSide::Local)
        return double(*ms);
    const ClockSegment* s = SegmentOfRemote(match.segments, double(*ms));
    return s ? s->LocalAt(double(*ms)) : double(*ms);
}

// --- the matching ---------------------------------------------------------------------------

namespace {

Streams StreamsOf(const LinkEvents& events, std::vector<std::optional<qint64>> times[2], int* unplaced) {
    Streams s;
    const QList<EventRow>* ends[2] = {&events.local, &events.remote};
    for (int end = 0; end < 2; ++end) {
        const UnitSide side = end == 0 ? UnitSide::Local : UnitSide::Remote;
        times[end].reserve(size_t(ends[end]->size()));
        for (qsizetype i = 0; i < ends[end]->size(); ++i) {
            const EventRow& row = (*ends[end])[i];
            times[end].push_back(EventUnitMs(row));
            if (!times[end].back()) {
                ++*unplaced;
                continue;
            }
            const std::optional<CommandCode> c = CommandOfCode(row.code, side);
            if (!c)
                continue;
            const int dir = c->direction == LinkDirection::LocalToRemote ? 0 : 1;
            const int p = c->pair == MatchPair::Command ? 0 : 1;
            Stream& stream = (c->isSend ? s.sends : s.receives)[dir][c->command - 1][p];
            stream.ms.push_back(*times[end].back());
            stream.row.push_back(int(i));
        }
    }
    for (auto* group : {&s.sends, &s.receives})
        for (auto& dir : *group)
            for (auto& cmd : dir)
                for (Stream& st : cmd) {
                    if (std::is_sorted(st.ms.begin(), st.ms.end()))
                        continue;
                    std::vector<size_t> order(st.ms.size());
                    std::iota(order.begin(), order.end(), size_t(0));
                    std::stable_sort(order.begin(), order.end(),
                                     [&](size_t a, size_t b) { return st.ms[a] < st.ms[b]; });
                    Stream sorted;
                    for (size_t i : order) {
                        sorted.ms.push_back(st.ms[i]);
                        sorted.row.push_back(st.row[i]);
                    }
                    st = std::move(sorted);
                }
    return s;
}

// A pair's apparent delay: receive minus send, each on its own clock.
double Apparent(const Stream& sends, const Stream& receives, int i, int j) {
    return double(receives.ms[size_t(j)] - sends.ms[size_t(i)]);
}

// The first pairing of a track: the events it spans on the common axis by the votes' level, each
// send paired with the receive nearest the level (that pairing need not be right at a twin: it only
// feeds the envelope, and a twin lies above it). The pairs as delay points of each way.
void PairOnTrack(const Streams& s, const ClockTrack& track, double accept, std::vector<DelayPoint> points[2],
                 double remoteSpan[2]) {
    const double window = accept + kLevelSlackMs;
    for (int dir = 0; dir < 2; ++dir)
        for (int k = 0; k < 8; ++k)
            for (int p = 0; p < 2; ++p) {
                const Stream& sends = s.sends[dir][k][p];
                const Stream& receives = s.receives[dir][k][p];
                const bool l2r = SendsAreLocal(dir);
                // Local ends in the track's span; remote ends by the level there.
                std::vector<double> sa;
                std::vector<double> ra;
                std::vector<int> si;
                std::vector<int> ri;
                const auto toAxis = [&](qint64 remote) {
                    double t = double(remote) - track.LevelAt(track.fromMs, l2r);
                    t = double(remote) - track.LevelAt(t, l2r);
                    return double(remote) - track.LevelAt(t, l2r);
                };
                for (size_t i = 0; i < sends.ms.size(); ++i) {
                    const double a = l2r ? double(sends.ms[i]) : toAxis(sends.ms[i]);
                    if (a >= track.fromMs - window && a <= track.toMs + window) {
                        sa.push_back(a);
                        si.push_back(int(i));
                    }
                }
                for (size_t j = 0; j < receives.ms.size(); ++j) {
                    const double a = l2r ? toAxis(receives.ms[j]) : double(receives.ms[j]);
                    if (a >= track.fromMs - window && a <= track.toMs + window) {
                        ra.push_back(a);
                        ri.push_back(int(j));
                    }
                }
                if (sa.empty() || ra.empty())
                    continue;
                // The level already holds the typical transfer: the pairs scatter around 0.
                for (const auto& [x, y] : PairInOrder(sa, ra, -window, window, 0.0)) {
                    const int i = si[size_t(x)];
                    const int j = ri[size_t(y)];
                    const double d = Apparent(sends, receives, i, j);
                    const double t = l2r ? double(sends.ms[size_t(i)]) : double(receives.ms[size_t(j)]);
                    const double remote = l2r ? double(receives.ms[size_t(j)]) : double(sends.ms[size_t(i)]);
                    // Returns too: each is a transmission of its own, another sample of the fast edge.
                    points[dir].push_back({t, d});
                    remoteSpan[0] = std::min(remoteSpan[0], remote);
                    remoteSpan[1] = std::max(remoteSpan[1], remote);
                }
            }
}

// Places the break between two segments: at an archived clock write that falls between them, else
// halfway across the gap between the last pair of one and the first of the next.
void PlaceBreak(const ClockSegment& before, ClockSegment* after, const QList<ClockWriteMark>& writes) {
    // A write sets the clock to the PC's time within a poll; the first pair after it comes later.
    constexpr double kWriteSlackMs = 60'000;
    for (const ClockWriteMark& w : writes) {
        if (w.end == UnitSide::Local && w.unitMs > before.toMs && w.unitMs <= after->fromMs + kWriteSlackMs) {
            after->startLocalMs = std::min(w.unitMs, after->fromMs);
            after->startRemoteMs = after->RemoteAt(after->startLocalMs);
            after->start = SegmentStart::ClockWrite;
            after->clockWriteVisit = w.visitId;
            return;
        }
        if (w.end == UnitSide::Remote && w.unitMs > before.remoteToMs &&
            w.unitMs <= after->remoteFromMs + kWriteSlackMs) {
            after->startRemoteMs = std::min(w.unitMs, after->remoteFromMs);
            after->startLocalMs = after->LocalAt(after->startRemoteMs);
            after->start = SegmentStart::ClockWrite;
            after->clockWriteVisit = w.visitId;
            return;
        }
    }
    after->startLocalMs = (before.toMs + after->fromMs) / 2;
    after->startRemoteMs = (before.remoteToMs + after->remoteFromMs) / 2;
    after->start = SegmentStart::Step;
}

// The clock readings' offset by the latest visit that read both clocks (the first valid reading of
// each unit in it); *localUnitMs is the local clock at that reading.
void ReadingsOffset(const LinkEvents& e, ClockCrossCheck* c, double* localUnitMs) {
    const auto firstOf = [](const QList<ClockReading>& readings, qint64 visitId) -> const ClockReading* {
        for (const ClockReading& r : readings)
            // A reading whose bytes are no valid date and time tells nothing.
            if (r.visitId == visitId && (r.bytes.isEmpty() || ClockDifferenceMs(r.bytes, r.time)))
                return &r;
        return nullptr;
    };
    for (qsizetype i = e.localClock.size() - 1; i >= 0; --i) {
        const ClockReading* remote = firstOf(e.remoteClock, e.localClock[i].visitId);
        const ClockReading* local = firstOf(e.localClock, e.localClock[i].visitId);
        if (!remote || !local)
            continue;
        c->available = true;
        c->visitId = local->visitId;
        c->readingOffsetMs = double(remote->differenceMs - local->differenceMs);
        *localUnitMs =
            double(local->time.utcMs) + local->time.offsetSeconds * 1000.0 + double(local->differenceMs);
        return;
    }
}

// The spans a unit's log covers: its reads', or its events' first to last.
std::vector<std::pair<double, double>> Coverage(const QList<CoveredSpan>& spans,
                                                const std::vector<std::optional<qint64>>& times) {
    std::vector<std::pair<double, double>> out;
    for (const CoveredSpan& s : spans)
        out.push_back({double(s.fromMs), double(s.toMs)});
    if (out.empty()) {
        std::optional<qint64> lo;
        std::optional<qint64> hi;
        for (const auto& t : times)
            if (t) {
                lo = std::min(lo.value_or(*t), *t);
                hi = std::max(hi.value_or(*t), *t);
            }
        if (lo)
            out.push_back({double(*lo), double(*hi)});
    }
    return out;
}

bool Covers(const std::vector<std::pair<double, double>>& spans, double ms) {
    return std::any_of(spans.begin(), spans.end(),
                       [ms](const auto& s) { return ms >= s.first && ms <= s.second; });
}

void FillStats(CommandMatchCounts* c, std::vector<double> transfers) {
    if (transfers.empty())
        return;
    c->transferMedianMs = Median(transfers);
    c->transferP95Ms = NearestRank(transfers, 0.95);
    c->transferMaxMs = *std::max_element(transfers.begin(), transfers.end());
}

// The segments of the link from its traffic: a track of votes each, fitted on its first pairing.
QList<ClockSegment> SegmentsOfTraffic(const Streams& s, const LinkEvents& events, double accept) {
    std::vector<StreamPair> pairs;
    for (int dir = 0; dir < 2; ++dir)
        for (int k = 0; k < 8; ++k)
            for (int p = 0; p < 2; ++p)
                pairs.push_back({&s.sends[dir][k][p].ms, &s.receives[dir][k][p].ms, SendsAreLocal(dir)});
    QList<ClockSegment> segments;
    for (const ClockTrack& track : FindClockTracks(pairs)) {
        std::vector<DelayPoint> points[2];
        double remoteSpan[2] = {INFINITY, -INFINITY};
        PairOnTrack(s, track, accept, points, remoteSpan);
        // A track of chance votes pairs next to nothing of the traffic in its span; a true one pairs
        // most of it (all but the lost, the unwanted and what the other log does not cover).
        qint64 inSpan = 0;
        for (int k = 0; k < 8; ++k)
            for (int p = 0; p < 2; ++p)
                for (const Stream* local : {&s.sends[0][k][p], &s.receives[1][k][p]})
                    inSpan +=
                        std::upper_bound(local->ms.begin(), local->ms.end(), qint64(track.toMs)) -
                        std::lower_bound(local->ms.begin(), local->ms.end(), qint64(std::ceil(track.fromMs)));
        if (double(points[0].size() + points[1].size()) < kTrackPaired * double(inSpan))
            continue;
        const std::optional<EnvelopeFit> fit = FitEnvelope(points[0], points[1]);
        if (!fit)
            continue;
        ClockSegment seg = SegmentOfFit(*fit);
        seg.fromMs = INFINITY;
        seg.toMs = -INFINITY;
        for (int dir = 0; dir < 2; ++dir)
            for (const DelayPoint& p : points[dir]) {
                seg.fromMs = std::min(seg.fromMs, p.t);
                seg.toMs = std::max(seg.toMs, p.t);
            }
        seg.remoteFromMs = remoteSpan[0];
        seg.remoteToMs = remoteSpan[1];
        segments.append(seg);
    }
    for (qsizetype i = 1; i < segments.size(); ++i)
        PlaceBreak(segments[i - 1], &segments[i], events.clockWrites);
    return segments;
}

} // namespace

LinkMatch MatchLink(const LinkEvents& events, const MatchOptions& options) {
    LinkMatch m;
    m.asOfVisit = events.asOfVisit;
    std::vector<std::optional<qint64>> times[2];
    const Streams s = StreamsOf(events, times, &m.unplaced);
    const double accept = std::max(options.acceptMs, 1);

    double readingAtMs = 0;
    ReadingsOffset(events, &m.crossCheck, &readingAtMs);
    if (options.handOffsetMs) {
        ClockSegment hand;
        hand.offsetMs = *options.handOffsetMs;
        hand.basis = SegmentBasis::Hand;
        m.segments.append(hand);
    } else {
        m.segments = SegmentsOfTraffic(s, events, accept);
        if (m.segments.isEmpty() && m.crossCheck.available) {
            ClockSegment readings;
            readings.offsetMs = m.crossCheck.readingOffsetMs;
            readings.originMs = readingAtMs;
            readings.basis = SegmentBasis::Readings;
            m.segments.append(readings);
        }
    }

    // The accepted transfer window, from the first pairing on the fitted model: from just under the
    // fastest transfer to a few spreads above it.
    const auto axisOf = [&m](qint64 ms, bool local) {
        if (local)
            return double(ms);
        const ClockSegment* seg = SegmentOfRemote(m.segments, double(ms));
        return seg ? seg->LocalAt(double(ms)) : double(ms);
    };
    double floor = INFINITY;
    for (const ClockSegment& seg : m.segments)
        floor = std::min(floor, seg.floorMs);
    if (!std::isfinite(floor))
        floor = 0;
    double high = floor + accept;
    {
        // The spread from each command's nearest receive at or above the fastest transfer, shared or
        // not: a lost command or a twin moves a few of these, never the 90th percentile.
        std::vector<double> above;
        for (int dir = 0; dir < 2; ++dir)
            for (int k = 0; k < 8; ++k) {
                std::vector<double> ra;
                for (qint64 t : s.receives[dir][k][0].ms)
                    ra.push_back(axisOf(t, !SendsAreLocal(dir)));
                std::sort(ra.begin(), ra.end());
                for (qint64 t : s.sends[dir][k][0].ms) {
                    const double a = axisOf(t, SendsAreLocal(dir));
                    const auto it = std::lower_bound(ra.begin(), ra.end(), a + floor - kStampSlackMs);
                    if (it != ra.end() && *it - a <= floor + accept)
                        above.push_back(std::max(0.0, *it - a - floor));
                }
            }
        if (!above.empty())
            high =
                floor + std::min(accept, std::max(kWindowFloorMs,
                                                  kWindowSpreads * NearestRank(above, 0.9) + kWindowFloorMs));
    }
    const double low = floor - kStampSlackMs;

    const std::vector<std::pair<double, double>> covered[2] = {Coverage(events.localCovered, times[0]),
                                                               Coverage(events.remoteCovered, times[1])};
    struct Found {
        double sentAxis;
        double receivedAxis;
        std::optional<double> transfer;
        double apparent;
        int sendRow;
        int receiveRow;
        quint8 dir, k, p;
    };
    std::vector<Found> found;
    std::vector<double> transfers[2][2][8];
    for (int dir = 0; dir < 2; ++dir)
        for (int k = 0; k < 8; ++k)
            for (int p = 0; p < 2; ++p) {
                const Stream& sends = s.sends[dir][k][p];
                const Stream& receives = s.receives[dir][k][p];
                const bool l2r = SendsAreLocal(dir);
                // On the common axis in axis order (a step of the remote clock may reorder its events).
                std::vector<int> si(sends.ms.size());
                std::vector<int> ri(receives.ms.size());
                std::iota(si.begin(), si.end(), 0);
                std::iota(ri.begin(), ri.end(), 0);
                std::vector<double> sAxis(sends.ms.size());
                std::vector<double> rAxis(receives.ms.size());
                for (size_t i = 0; i < sAxis.size(); ++i)
                    sAxis[i] = axisOf(sends.ms[i], l2r);
                for (size_t j = 0; j < rAxis.size(); ++j)
                    rAxis[j] = axisOf(receives.ms[j], !l2r);
                std::stable_sort(si.begin(), si.end(),
                                 [&](int a, int b) { return sAxis[size_t(a)] < sAxis[size_t(b)]; });
                std::stable_sort(ri.begin(), ri.end(),
                                 [&](int a, int b) { return rAxis[size_t(a)] < rAxis[size_t(b)]; });
                std::vector<double> sa;
                std::vector<double> ra;
                for (int i : si)
                    sa.push_back(sAxis[size_t(i)]);
                for (int j : ri)
                    ra.push_back(rAxis[size_t(j)]);
                const QList<EventRow>& sendRows = l2r ? events.local : events.remote;
                const QList<EventRow>& receiveRows = l2r ? events.remote : events.local;
                std::vector<char> sendPaired(sa.size(), 0);
                std::vector<char> receivePaired(ra.size(), 0);
                CommandMatchCounts& c = m.counts[size_t(p)][size_t(dir)][size_t(k)];
                const auto direction = l2r ? LinkDirection::LocalToRemote : LinkDirection::RemoteToLocal;
                const auto pair = p == 0 ? MatchPair::Command : MatchPair::Return;
                for (const auto& [x, y] : PairInOrder(sa, ra, low, high)) {
                    sendPaired[size_t(x)] = receivePaired[size_t(y)] = 1;
                    const int i = si[size_t(x)];
                    const int j = ri[size_t(y)];
                    Found f{sa[size_t(x)],
                            ra[size_t(y)],
                            std::nullopt,
                            Apparent(sends, receives, i, j),
                            sends.row[size_t(i)],
                            receives.row[size_t(j)],
                            quint8(dir),
                            quint8(k),
                            quint8(p)};
                    const ClockSegment* seg = SegmentOfLocal(m.segments, l2r ? f.sentAxis : f.receivedAxis);
                    if (seg && (seg->basis == SegmentBasis::BothWays || seg->basis == SegmentBasis::Hand ||
                                seg->basis == SegmentBasis::Readings))
                        f.transfer = f.receivedAxis - f.sentAxis;
                    else
                        c.apparent = true;
                    transfers[p][dir][k].push_back(f.transfer.value_or(f.apparent));
                    ++c.matched;
                    found.push_back(f);
                }
                const UnitSide sender = l2r ? UnitSide::Local : UnitSide::Remote;
                const UnitSide receiver = l2r ? UnitSide::Remote : UnitSide::Local;
                for (size_t x = 0; x < sa.size(); ++x) {
                    if (sendPaired[x])
                        continue;
                    // Where the receive would have been, on the receiving unit's clock.
                    const double arrival = sa[x] + floor;
                    const ClockSegment* seg = SegmentOfLocal(m.segments, arrival);
                    const double at = l2r ? (seg ? seg->RemoteAt(arrival) : arrival) : arrival;
                    const bool inside = Covers(covered[l2r ? 1 : 0], at);
                    UnmatchedEvent u{k + 1,  direction, pair, sendRows[sends.row[size_t(si[x])]],
                                     sender, sa[x]};
                    (inside ? m.lost : m.notCovered).append(u);
                    ++(inside ? c.lost : c.sentNotCovered);
                }
                for (size_t y = 0; y < ra.size(); ++y) {
                    if (receivePaired[y])
                        continue;
                    // Where the send would have been, on the sending unit's clock.
                    const double departure = ra[y] - floor;
                    const ClockSegment* seg = SegmentOfLocal(m.segments, departure);
                    const double at = l2r ? departure : (seg ? seg->RemoteAt(departure) : departure);
                    const bool inside = Covers(covered[l2r ? 0 : 1], at);
                    UnmatchedEvent u{k + 1,    direction, pair, receiveRows[receives.row[size_t(ri[y])]],
                                     receiver, ra[y]};
                    (inside ? m.unwanted : m.notCovered).append(u);
                    ++(inside ? c.unwanted : c.receivedNotCovered);
                }
                c.sent = c.matched + c.lost;
                c.received = c.matched + c.unwanted;
            }
    std::sort(found.begin(), found.end(),
              [](const Found& a, const Found& b) { return a.sentAxis < b.sentAxis; });
    m.matches.reserve(qsizetype(found.size()));
    for (const Found& f : found) {
        const bool l2r = f.dir == 0;
        m.matches.append(CommandMatch{f.k + 1,
                                      l2r ? LinkDirection::LocalToRemote : LinkDirection::RemoteToLocal,
                                      f.p == 0 ? MatchPair::Command : MatchPair::Return,
                                      (l2r ? events.local : events.remote)[f.sendRow],
                                      (l2r ? events.remote : events.local)[f.receiveRow], f.sentAxis,
                                      f.receivedAxis, f.transfer, f.apparent});
    }
    for (int p = 0; p < 2; ++p)
        for (int dir = 0; dir < 2; ++dir)
            for (int k = 0; k < 8; ++k)
                FillStats(&m.counts[size_t(p)][size_t(dir)][size_t(k)], transfers[p][dir][k]);
    for (int k = 0; k < 8; ++k) {
        CommandMatchCounts& all = m.perCommand[size_t(k)];
        std::vector<double> both;
        for (int dir = 0; dir < 2; ++dir) {
            const CommandMatchCounts& c = m.counts[0][size_t(dir)][size_t(k)];
            all.sent += c.sent;
            all.received += c.received;
            all.matched += c.matched;
            all.lost += c.lost;
            all.unwanted += c.unwanted;
            all.sentNotCovered += c.sentNotCovered;
            all.receivedNotCovered += c.receivedNotCovered;
            all.apparent |= c.apparent;
            both.insert(both.end(), transfers[0][dir][k].begin(), transfers[0][dir][k].end());
        }
        FillStats(&all, std::move(both));
    }
    const auto byAxis = [](const UnmatchedEvent& a, const UnmatchedEvent& b) { return a.axisMs < b.axisMs; };
    std::stable_sort(m.lost.begin(), m.lost.end(), byAxis);
    std::stable_sort(m.unwanted.begin(), m.unwanted.end(), byAxis);
    std::stable_sort(m.notCovered.begin(), m.notCovered.end(), byAxis);

    // Each segment's pairs and the span of local clock its events take.
    for (const CommandMatch& c : m.matches)
        if (c.pair == MatchPair::Command)
            for (ClockSegment& seg : m.segments)
                if (&seg == SegmentOfLocal(m.segments, c.direction == LinkDirection::LocalToRemote
                                                           ? c.sentAxisMs
                                                           : c.receivedAxisMs))
                    ++seg.pairs[c.direction == LinkDirection::LocalToRemote ? 0 : 1];

    // The summary: the segment most pairs carry.
    const ClockSegment* main = nullptr;
    for (const ClockSegment& seg : m.segments)
        if (!main || seg.pairs[0] + seg.pairs[1] > main->pairs[0] + main->pairs[1])
            main = &seg;
    if (main) {
        m.offsetMs = main->offsetMs;
        m.transferMs = main->floorMs;
        std::vector<double> carried;
        for (const CommandMatch& c : m.matches)
            if (c.pair == MatchPair::Command && SegmentOfLocal(m.segments, c.sentAxisMs) == main)
                carried.push_back(c.transferMs.value_or(c.apparentMs));
        if (!carried.empty())
            m.transferMs = Median(carried);
    }
    bool anyBoth = false;
    bool allBoth = !m.segments.isEmpty();
    for (const ClockSegment& seg : m.segments) {
        anyBoth |= seg.basis == SegmentBasis::BothWays;
        allBoth &= seg.basis != SegmentBasis::OneWay;
    }
    m.split = allBoth;
    if (options.handOffsetMs)
        m.basis = OffsetBasis::HandCorrection;
    else if (m.segments.isEmpty())
        m.basis = OffsetBasis::None;
    else if (anyBoth)
        m.basis = OffsetBasis::BothWays;
    else if (m.segments.first().basis == SegmentBasis::Readings)
        m.basis = OffsetBasis::Readings;
    else
        m.basis = OffsetBasis::OneWay;

    if (m.crossCheck.available) {
        ClockCrossCheck& c = m.crossCheck;
        c.estimateOffsetMs = OffsetAt(m, readingAtMs);
        c.differenceMs = c.estimateOffsetMs - c.readingOffsetMs;
        c.agrees = m.basis == OffsetBasis::BothWays && std::abs(c.differenceMs) <= kReadingResolutionMs;
    }

    // Alarms and interruptions of both ends, and the bands from each to its return.
    const QList<EventRow>* ends[2] = {&events.local, &events.remote};
    for (int end = 0; end < 2; ++end) {
        const UnitSide side = end == 0 ? UnitSide::Local : UnitSide::Remote;
        QList<LinkIncident> mine;
        for (qsizetype i = 0; i < ends[end]->size(); ++i) {
            const EventRow& row = (*ends[end])[i];
            if (row.code < 33 || row.code > 38 || !times[end][size_t(i)])
                continue;
            LinkIncident incident;
            incident.kind = IncidentKind((row.code - 33) / 2);
            incident.isReturn = row.code % 2 == 0;
            incident.end = side;
            incident.event = row;
            incident.axisMs = axisOf(*times[end][size_t(i)], end == 0);
            mine.append(incident);
        }
        std::stable_sort(mine.begin(), mine.end(),
                         [](const LinkIncident& a, const LinkIncident& b) { return a.axisMs < b.axisMs; });
        std::optional<double> open[3];
        for (const LinkIncident& incident : mine) {
            std::optional<double>& o = open[int(incident.kind)];
            if (!incident.isReturn) {
                if (o)
                    m.bands.append({incident.kind, side, *o, std::nullopt});
                o = incident.axisMs;
            } else if (o) {
                m.bands.append({incident.kind, side, *o, incident.axisMs});
                o.reset();
            }
        }
        for (int kind = 0; kind < 3; ++kind)
            if (open[kind])
                m.bands.append({IncidentKind(kind), side, *open[kind], std::nullopt});
        m.incidents += mine;
    }
    std::stable_sort(m.incidents.begin(), m.incidents.end(),
                     [](const LinkIncident& a, const LinkIncident& b) { return a.axisMs < b.axisMs; });
    std::stable_sort(m.bands.begin(), m.bands.end(), [](const IncidentBand& a, const IncidentBand& b) {
        return a.startAxisMs < b.startAxisMs;
    });
    return m;
}
