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
    const UnitTimeFields f = UnitTimeFieldsOf(event.unitTime);
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

QString EventRecordLine(const EventRow& event, int number, Lang lang) {
    const UnitTimeFields f = UnitTimeFieldsOf(event.unitTime);
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
    return FormatRecordLine(number, rec, lang == Lang::Chinese);
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

// The segment that holds a time of the local (or the remote) clock; nullptr without segments.
const ClockSegment* SegmentOn(const QList<ClockSegment>& segments, double ms, bool onLocalClock) {
    const qsizetype i = SegmentIndexAt(segments, ms, onLocalClock);
    return i < 0 ? nullptr : &segments[i];
}

// A unit-clock time of either end on the common axis (the local clock): a remote time through the
// segment its own clock places it in; as it is without a model.
double AxisOf(const QList<ClockSegment>& segments, qint64 ms, bool local) {
    if (local)
        return double(ms);
    const ClockSegment* seg = SegmentOn(segments, double(ms), false);
    return seg ? seg->LocalAt(double(ms)) : double(ms);
}

} // namespace

const ClockSegment* SegmentAt(const LinkMatch& match, double localMs) {
    return SegmentOn(match.segments, localMs, true);
}

double OffsetAt(const LinkMatch& match, double localMs) {
    const ClockSegment* s = SegmentAt(match, localMs);
    return s ? s->OffsetAt(localMs) : 0.0;
}

std::optional<double> AxisMs(const LinkMatch& match, const EventRow& event, UnitSide end) {
    const std::optional<qint64> ms = EventUnitMs(event);
    if (!ms)
        return std::nullopt;
    return AxisOf(match.segments, *ms, end == UnitSide::Local);
}

// --- the matching ---------------------------------------------------------------------------

namespace {

// Each event's unit-clock time, decoded once: [0] the local end's, [1] the remote end's, by row;
// empty for time bytes that are no valid date and time.
struct EventTimes {
    std::vector<std::optional<qint64>> of[2];
};

EventTimes TimesOf(const LinkEvents& events, int* unplaced) {
    EventTimes times;
    const QList<EventRow>* ends[2] = {&events.local, &events.remote};
    for (int end = 0; end < 2; ++end) {
        times.of[end].reserve(size_t(ends[end]->size()));
        for (const EventRow& row : *ends[end]) {
            times.of[end].push_back(EventUnitMs(row));
            *unplaced += times.of[end].back() ? 0 : 1;
        }
    }
    return times;
}

// A stream in unit-clock order (a log read in pieces may hold it out of order); equal times keep
// their order.
void SortByTime(Stream* st) {
    if (std::is_sorted(st->ms.begin(), st->ms.end()))
        return;
    std::vector<size_t> order(st->ms.size());
    std::iota(order.begin(), order.end(), size_t(0));
    std::stable_sort(order.begin(), order.end(), [st](size_t a, size_t b) { return st->ms[a] < st->ms[b]; });
    Stream sorted;
    for (size_t i : order) {
        sorted.ms.push_back(st->ms[i]);
        sorted.row.push_back(st->row[i]);
    }
    *st = std::move(sorted);
}

// The command events of both ends, each in its stream: by direction, command and pair, sends
// apart from receives.
Streams StreamsOf(const LinkEvents& events, const EventTimes& times) {
    Streams s;
    const QList<EventRow>* ends[2] = {&events.local, &events.remote};
    for (int end = 0; end < 2; ++end) {
        const UnitSide side = end == 0 ? UnitSide::Local : UnitSide::Remote;
        for (qsizetype i = 0; i < ends[end]->size(); ++i) {
            const std::optional<qint64>& ms = times.of[end][size_t(i)];
            const std::optional<CommandCode> c =
                ms ? CommandOfCode((*ends[end])[i].code, side) : std::nullopt;
            if (!c)
                continue;
            const int dir = c->direction == LinkDirection::LocalToRemote ? 0 : 1;
            const int p = c->pair == MatchPair::Command ? 0 : 1;
            Stream& stream = (c->isSend ? s.sends : s.receives)[dir][c->command - 1][p];
            stream.ms.push_back(*ms);
            stream.row.push_back(int(i));
        }
    }
    for (auto* group : {&s.sends, &s.receives})
        for (auto& dir : *group)
            for (auto& cmd : dir)
                for (Stream& st : cmd)
                    SortByTime(&st);
    return s;
}

// A pair's apparent delay: receive minus send, each on its own clock.
double Apparent(const Stream& sends, const Stream& receives, int i, int j) {
    return double(receives.ms[size_t(j)] - sends.ms[size_t(i)]);
}

// Some events of one stream on the common axis: their axis times and their places in the stream.
struct OnAxis {
    std::vector<double> ms;
    std::vector<int> index;
};

// The events of `st` whose axis time (by `toAxis`) lies in [fromMs, toMs], in stream order.
template <class ToAxis> OnAxis WithinSpan(const Stream& st, ToAxis toAxis, double fromMs, double toMs) {
    OnAxis out;
    for (size_t i = 0; i < st.ms.size(); ++i) {
        const double a = toAxis(st.ms[i]);
        if (a >= fromMs && a <= toMs) {
            out.ms.push_back(a);
            out.index.push_back(int(i));
        }
    }
    return out;
}

// The first pairing of a track: the events it spans on the common axis by the votes' level, each
// send paired with the receive nearest the level (that pairing need not be right at a twin: it only
// feeds the envelope, and a twin lies above it). The pairs as delay points of each way.
void PairOnTrack(const Streams& s, const ClockTrack& track, double accept,
                 std::vector<DelayPoint> points[2]) {
    const double window = accept + kLevelSlackMs;
    for (int dir = 0; dir < 2; ++dir)
        for (int k = 0; k < 8; ++k)
            for (int p = 0; p < 2; ++p) {
                const Stream& sends = s.sends[dir][k][p];
                const Stream& receives = s.receives[dir][k][p];
                const bool l2r = SendsAreLocal(dir);
                // Local ends as they are; remote ends by the level there, read three times so that
                // the level is taken where the event lies on the local clock, not where its remote
                // time would be (the two differ by the offset, up to years).
                const auto remoteToAxis = [&](qint64 remote) {
                    double t = double(remote) - track.LevelAt(track.fromMs, l2r);
                    t = double(remote) - track.LevelAt(t, l2r);
                    return double(remote) - track.LevelAt(t, l2r);
                };
                const auto localToAxis = [](qint64 local) { return double(local); };
                const double from = track.fromMs - window;
                const double to = track.toMs + window;
                const OnAxis sa = l2r ? WithinSpan(sends, localToAxis, from, to)
                                      : WithinSpan(sends, remoteToAxis, from, to);
                const OnAxis ra = l2r ? WithinSpan(receives, remoteToAxis, from, to)
                                      : WithinSpan(receives, localToAxis, from, to);
                if (sa.ms.empty() || ra.ms.empty())
                    continue;
                // The level already holds the typical transfer: the pairs scatter around 0.
                for (const auto& [x, y] : PairInOrder(sa.ms, ra.ms, -window, window, 0.0)) {
                    const int i = sa.index[size_t(x)];
                    const int j = ra.index[size_t(y)];
                    const double local = double(l2r ? sends.ms[size_t(i)] : receives.ms[size_t(j)]);
                    // Returns too: each is a transmission of its own, another sample of the fast edge.
                    points[dir].push_back({local, Apparent(sends, receives, i, j)});
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

// The local end's command events (sends local → remote and receives remote → local) from `fromMs`
// to `toMs` on its clock.
qint64 LocalEventsIn(const Streams& s, double fromMs, double toMs) {
    qint64 n = 0;
    for (int k = 0; k < 8; ++k)
        for (int p = 0; p < 2; ++p)
            for (const Stream* local : {&s.sends[0][k][p], &s.receives[1][k][p]})
                n += std::upper_bound(local->ms.begin(), local->ms.end(), qint64(toMs)) -
                     std::lower_bound(local->ms.begin(), local->ms.end(), qint64(std::ceil(fromMs)));
    return n;
}

// The segment of some pairs of a first pairing, spanning them on both clocks; std::nullopt without
// a pair.
std::optional<ClockSegment> SegmentOfPairs(const std::vector<DelayPoint> points[2]) {
    const std::optional<EnvelopeFit> fit = FitEnvelope(points[0], points[1]);
    if (!fit)
        return std::nullopt;
    ClockSegment seg = SegmentOfFit(*fit);
    seg.fromMs = seg.remoteFromMs = INFINITY;
    seg.toMs = seg.remoteToMs = -INFINITY;
    for (int dir = 0; dir < 2; ++dir)
        for (const DelayPoint& p : points[dir]) {
            // The remote end of a pair: the receive local → remote, the send remote → local.
            const double remote = dir == 0 ? p.t + p.d : p.t - p.d;
            seg.fromMs = std::min(seg.fromMs, p.t);
            seg.toMs = std::max(seg.toMs, p.t);
            seg.remoteFromMs = std::min(seg.remoteFromMs, remote);
            seg.remoteToMs = std::max(seg.remoteToMs, remote);
        }
    return seg;
}

// The segments a track's first pairing makes: one, or one between each two steps of the clocks
// too small for the votes to tell apart (ClockSteps). None for a track of chance votes, which pairs next
// to nothing of the traffic in its span where a true one pairs most of it (all but the lost, the
// unwanted and what the other log does not cover).
QList<ClockSegment> SegmentsOfTrack(const Streams& s, const ClockTrack& track, double accept) {
    std::vector<DelayPoint> points[2];
    PairOnTrack(s, track, accept, points);
    if (double(points[0].size() + points[1].size()) <
        kTrackPaired * double(LocalEventsIn(s, track.fromMs, track.toMs)))
        return {};
    std::vector<double> cuts = ClockSteps(points[0], points[1]);
    cuts.push_back(INFINITY);
    QList<ClockSegment> segments;
    double from = -INFINITY;
    for (double to : cuts) {
        std::vector<DelayPoint> part[2];
        for (int dir = 0; dir < 2; ++dir)
            std::copy_if(points[dir].begin(), points[dir].end(), std::back_inserter(part[dir]),
                         [from, to](const DelayPoint& p) { return p.t > from && p.t <= to; });
        if (const std::optional<ClockSegment> seg = SegmentOfPairs(part))
            segments.append(*seg);
        from = to;
    }
    return segments;
}

// The segments of the link from its traffic: a track of votes each, fitted on its first pairing,
// and the breaks between them placed.
QList<ClockSegment> SegmentsOfTraffic(const Streams& s, const LinkEvents& events, double accept) {
    std::vector<StreamPair> pairs;
    for (int dir = 0; dir < 2; ++dir)
        for (int k = 0; k < 8; ++k)
            for (int p = 0; p < 2; ++p)
                pairs.push_back({&s.sends[dir][k][p].ms, &s.receives[dir][k][p].ms, SendsAreLocal(dir)});
    QList<ClockSegment> segments;
    for (const ClockTrack& track : FindClockTracks(pairs))
        segments += SegmentsOfTrack(s, track, accept);
    for (qsizetype i = 1; i < segments.size(); ++i)
        PlaceBreak(segments[i - 1], &segments[i], events.clockWrites);
    return segments;
}

// The clock model of the match: the user's hand correction alone when given; else the segments the
// traffic shows; else, with no command to go by, one segment placed by the visit's clock readings.
QList<ClockSegment> ClockSegmentsOf(const Streams& s, const LinkEvents& events, double accept,
                                    const MatchOptions& options, const ClockCrossCheck& readings,
                                    double readingAtMs) {
    QList<ClockSegment> segments;
    if (options.handOffsetMs) {
        ClockSegment hand;
        hand.offsetMs = *options.handOffsetMs;
        hand.basis = SegmentBasis::Hand;
        segments.append(hand);
        return segments;
    }
    segments = SegmentsOfTraffic(s, events, accept);
    if (segments.isEmpty() && readings.available) {
        ClockSegment fromReadings;
        fromReadings.offsetMs = readings.readingOffsetMs;
        fromReadings.originMs = readingAtMs;
        fromReadings.basis = SegmentBasis::Readings;
        segments.append(fromReadings);
    }
    return segments;
}

// The transfers a final pair may take, on the common axis: from just under the fastest transfer
// any segment shows (`floorMs`) to a few spreads above it.
struct TransferWindow {
    double floorMs = 0;
    double lowMs = 0;
    double highMs = 0;
};

// Each send's transfer above the floor to the nearest receive at or above it, shared or not: a
// lost command or a twin moves a few of these, never their 90th percentile, which is the spread.
std::vector<double> TransfersAboveFloor(const Streams& s, const QList<ClockSegment>& segments, double floor,
                                        double accept) {
    std::vector<double> above;
    for (int dir = 0; dir < 2; ++dir)
        for (int k = 0; k < 8; ++k) {
            std::vector<double> ra;
            for (qint64 t : s.receives[dir][k][0].ms)
                ra.push_back(AxisOf(segments, t, !SendsAreLocal(dir)));
            std::sort(ra.begin(), ra.end());
            for (qint64 t : s.sends[dir][k][0].ms) {
                const double a = AxisOf(segments, t, SendsAreLocal(dir));
                const auto it = std::lower_bound(ra.begin(), ra.end(), a + floor - kStampSlackMs);
                if (it != ra.end() && *it - a <= floor + accept)
                    above.push_back(std::max(0.0, *it - a - floor));
            }
        }
    return above;
}

TransferWindow AcceptedWindow(const Streams& s, const QList<ClockSegment>& segments, double accept) {
    TransferWindow w;
    w.floorMs = INFINITY;
    for (const ClockSegment& seg : segments)
        w.floorMs = std::min(w.floorMs, seg.floorMs);
    if (!std::isfinite(w.floorMs))
        w.floorMs = 0;
    w.lowMs = w.floorMs - kStampSlackMs;
    w.highMs = w.floorMs + accept;
    const std::vector<double> above = TransfersAboveFloor(s, segments, w.floorMs, accept);
    if (!above.empty())
        w.highMs =
            w.floorMs + std::min(accept, std::max(kWindowFloorMs,
                                                  kWindowSpreads * NearestRank(above, 0.9) + kWindowFloorMs));
    return w;
}

// A stream's events on the common axis in axis order (a step of the remote clock may reorder
// them), with their places in the stream.
OnAxis InAxisOrder(const Stream& st, bool local, const QList<ClockSegment>& segments) {
    std::vector<double> axis(st.ms.size());
    for (size_t i = 0; i < axis.size(); ++i)
        axis[i] = AxisOf(segments, st.ms[i], local);
    OnAxis out;
    out.index.resize(axis.size());
    std::iota(out.index.begin(), out.index.end(), 0);
    std::stable_sort(out.index.begin(), out.index.end(),
                     [&axis](int a, int b) { return axis[size_t(a)] < axis[size_t(b)]; });
    for (int i : out.index)
        out.ms.push_back(axis[size_t(i)]);
    return out;
}

// Whether the log of the other end looks at axis time `axisMs`: its reads' spans, on its own clock.
bool OtherLogCovers(double axisMs, bool otherIsLocal, const QList<ClockSegment>& segments,
                    const std::vector<std::pair<double, double>>& otherCovered) {
    const ClockSegment* seg = SegmentOn(segments, axisMs, true);
    const double at = otherIsLocal || !seg ? axisMs : seg->RemoteAt(axisMs);
    return Covers(otherCovered, at);
}

// One stream's place in the streams: direction (0 local → remote), command - 1, pair (0 command).
struct StreamId {
    int dir = 0;
    int k = 0;
    int p = 0;
    bool LocalSends() const { return SendsAreLocal(dir); }
    LinkDirection Direction() const {
        return LocalSends() ? LinkDirection::LocalToRemote : LinkDirection::RemoteToLocal;
    }
    MatchPair Pair() const { return p == 0 ? MatchPair::Command : MatchPair::Return; }
};

// A matched pair before the rows are copied in: axis times, transfer, rows.
struct Found {
    double sentAxis;
    double receivedAxis;
    std::optional<double> transfer;
    double apparent;
    int sendRow;
    int receiveRow;
    StreamId id;
};

// What the pairing of all streams gathers beside the match: the pairs, and each stream's transfers
// (apparent delays where its segment went one way) for the statistics, [pair][dir][command - 1].
struct Pairing {
    std::vector<Found> found;
    std::vector<double> transfers[2][2][8];
};

// Whether a pair at local time `localMs` lies in a segment that places the remote clock on its own
// (both ways, by hand or by readings), so that its axis difference is a transfer.
bool SplitAt(const QList<ClockSegment>& segments, double localMs) {
    const ClockSegment* seg = SegmentOn(segments, localMs, true);
    return seg && seg->basis != SegmentBasis::OneWay;
}

// Pairs one stream in order within the window; counts its matches and keeps them.
void PairStream(const Stream& sends, const Stream& receives, const OnAxis& sa, const OnAxis& ra, StreamId id,
                const TransferWindow& w, const QList<ClockSegment>& segments, std::vector<char> paired[2],
                CommandMatchCounts* c, Pairing* out) {
    for (const auto& [x, y] : PairInOrder(sa.ms, ra.ms, w.lowMs, w.highMs)) {
        paired[0][size_t(x)] = paired[1][size_t(y)] = 1;
        const int i = sa.index[size_t(x)];
        const int j = ra.index[size_t(y)];
        Found f{sa.ms[size_t(x)],
                ra.ms[size_t(y)],
                std::nullopt,
                Apparent(sends, receives, i, j),
                sends.row[size_t(i)],
                receives.row[size_t(j)],
                id};
        if (SplitAt(segments, id.LocalSends() ? f.sentAxis : f.receivedAxis))
            f.transfer = f.receivedAxis - f.sentAxis;
        else
            c->apparent = true;
        out->transfers[id.p][id.dir][id.k].push_back(f.transfer.value_or(f.apparent));
        ++c->matched;
        out->found.push_back(f);
    }
}

// The spans each end's log covers, [0] local, [1] remote, on its own clock.
using Covered = std::vector<std::pair<double, double>>;

// Judges one stream's events left over: a send is lost where the receiving log covers the moment
// it should have arrived (a fastest transfer later), a receive unwanted where the sending log covers
// the moment it would have been sent; the others are not covered.
void JudgeLeftOver(const LinkEvents& events, const Streams& s, const OnAxis& sa, const OnAxis& ra,
                   StreamId id, double floorMs, const Covered covered[2], const std::vector<char> paired[2],
                   LinkMatch* m) {
    const bool l2r = id.LocalSends();
    const QList<EventRow>& sendRows = l2r ? events.local : events.remote;
    const QList<EventRow>& receiveRows = l2r ? events.remote : events.local;
    CommandMatchCounts& c = m->counts[size_t(id.p)][size_t(id.dir)][size_t(id.k)];
    for (size_t x = 0; x < sa.ms.size(); ++x) {
        if (paired[0][x])
            continue;
        const bool inside = OtherLogCovers(sa.ms[x] + floorMs, !l2r, m->segments, covered[l2r ? 1 : 0]);
        const EventRow& row = sendRows[s.sends[id.dir][id.k][id.p].row[size_t(sa.index[x])]];
        (inside ? m->lost : m->notCovered)
            .append({id.k + 1, id.Direction(), id.Pair(), row, l2r ? UnitSide::Local : UnitSide::Remote,
                     sa.ms[x]});
        ++(inside ? c.lost : c.sentNotCovered);
    }
    for (size_t y = 0; y < ra.ms.size(); ++y) {
        if (paired[1][y])
            continue;
        const bool inside = OtherLogCovers(ra.ms[y] - floorMs, l2r, m->segments, covered[l2r ? 0 : 1]);
        const EventRow& row = receiveRows[s.receives[id.dir][id.k][id.p].row[size_t(ra.index[y])]];
        (inside ? m->unwanted : m->notCovered)
            .append({id.k + 1, id.Direction(), id.Pair(), row, l2r ? UnitSide::Remote : UnitSide::Local,
                     ra.ms[y]});
        ++(inside ? c.unwanted : c.receivedNotCovered);
    }
}

// Pairs every stream on the model and judges what is left over.
Pairing PairAll(const LinkEvents& events, const Streams& s, const TransferWindow& w, const Covered covered[2],
                LinkMatch* m) {
    Pairing out;
    for (int dir = 0; dir < 2; ++dir)
        for (int k = 0; k < 8; ++k)
            for (int p = 0; p < 2; ++p) {
                const StreamId id{dir, k, p};
                const Stream& sends = s.sends[dir][k][p];
                const Stream& receives = s.receives[dir][k][p];
                const OnAxis sa = InAxisOrder(sends, id.LocalSends(), m->segments);
                const OnAxis ra = InAxisOrder(receives, !id.LocalSends(), m->segments);
                std::vector<char> paired[2] = {std::vector<char>(sa.ms.size(), 0),
                                               std::vector<char>(ra.ms.size(), 0)};
                CommandMatchCounts& c = m->counts[size_t(p)][size_t(dir)][size_t(k)];
                PairStream(sends, receives, sa, ra, id, w, m->segments, paired, &c, &out);
                JudgeLeftOver(events, s, sa, ra, id, w.floorMs, covered, paired, m);
                c.sent = c.matched + c.lost;
                c.received = c.matched + c.unwanted;
            }
    return out;
}

// The pairs as matches, in the order of the sends on the common axis.
QList<CommandMatch> MatchesOf(std::vector<Found> found, const LinkEvents& events) {
    std::sort(found.begin(), found.end(),
              [](const Found& a, const Found& b) { return a.sentAxis < b.sentAxis; });
    QList<CommandMatch> matches;
    matches.reserve(qsizetype(found.size()));
    for (const Found& f : found) {
        const bool l2r = f.id.LocalSends();
        matches.append(CommandMatch{f.id.k + 1, f.id.Direction(), f.id.Pair(),
                                    (l2r ? events.local : events.remote)[f.sendRow],
                                    (l2r ? events.remote : events.local)[f.receiveRow], f.sentAxis,
                                    f.receivedAxis, f.transfer, f.apparent});
    }
    return matches;
}

// The transfer statistics of each stream, and each command's figures both ways together.
void FillCounts(const Pairing& pairing, LinkMatch* m) {
    for (int p = 0; p < 2; ++p)
        for (int dir = 0; dir < 2; ++dir)
            for (int k = 0; k < 8; ++k)
                FillStats(&m->counts[size_t(p)][size_t(dir)][size_t(k)], pairing.transfers[p][dir][k]);
    for (int k = 0; k < 8; ++k) {
        CommandMatchCounts& all = m->perCommand[size_t(k)];
        std::vector<double> both;
        for (int dir = 0; dir < 2; ++dir) {
            const CommandMatchCounts& c = m->counts[0][size_t(dir)][size_t(k)];
            all.sent += c.sent;
            all.received += c.received;
            all.matched += c.matched;
            all.lost += c.lost;
            all.unwanted += c.unwanted;
            all.sentNotCovered += c.sentNotCovered;
            all.receivedNotCovered += c.receivedNotCovered;
            all.apparent |= c.apparent;
            both.insert(both.end(), pairing.transfers[0][dir][k].begin(), pairing.transfers[0][dir][k].end());
        }
        FillStats(&all, std::move(both));
    }
}

// Each segment's command pairs, by the local end's event of the pair.
void CountSegmentPairs(const QList<CommandMatch>& matches, QList<ClockSegment>* segments) {
    for (const CommandMatch& c : matches) {
        if (c.pair != MatchPair::Command)
            continue;
        const bool l2r = c.direction == LinkDirection::LocalToRemote;
        const qsizetype i = SegmentIndexAt(*segments, l2r ? c.sentAxisMs : c.receivedAxisMs, true);
        if (i >= 0)
            ++(*segments)[i].pairs[l2r ? 0 : 1];
    }
}

// The summary: the offset of the segment most pairs carry, and the median transfer of its command
// pairs (its fastest transfer when it carries none).
void Summarise(LinkMatch* m) {
    const ClockSegment* main = nullptr;
    for (const ClockSegment& seg : std::as_const(m->segments))
        if (!main || seg.pairs[0] + seg.pairs[1] > main->pairs[0] + main->pairs[1])
            main = &seg;
    if (!main)
        return;
    m->offsetMs = main->offsetMs;
    m->transferMs = main->floorMs;
    std::vector<double> carried;
    for (const CommandMatch& c : std::as_const(m->matches))
        if (c.pair == MatchPair::Command && SegmentOn(m->segments, c.sentAxisMs, true) == main)
            carried.push_back(c.transferMs.value_or(c.apparentMs));
    if (!carried.empty())
        m->transferMs = Median(carried);
}

// How the match placed the remote clock overall: by hand, both ways when any segment split offset
// and transfer, by the readings, one way, or not at all.
OffsetBasis BasisOf(const QList<ClockSegment>& segments, const MatchOptions& options) {
    if (options.handOffsetMs)
        return OffsetBasis::HandCorrection;
    if (segments.isEmpty())
        return OffsetBasis::None;
    for (const ClockSegment& seg : segments)
        if (seg.basis == SegmentBasis::BothWays)
            return OffsetBasis::BothWays;
    return segments.first().basis == SegmentBasis::Readings ? OffsetBasis::Readings : OffsetBasis::OneWay;
}

bool AllSplit(const QList<ClockSegment>& segments) {
    return !segments.isEmpty() && std::none_of(segments.begin(), segments.end(), [](const ClockSegment& s) {
        return s.basis == SegmentBasis::OneWay;
    });
}

// The alarms and interruptions (codes 33 to 38) one end logged, on the common axis in axis order.
QList<LinkIncident> IncidentsOf(const QList<EventRow>& rows, const std::vector<std::optional<qint64>>& times,
                                UnitSide side, const QList<ClockSegment>& segments) {
    QList<LinkIncident> out;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const EventRow& row = rows[i];
        if (row.code < 33 || row.code > 38 || !times[size_t(i)])
            continue;
        LinkIncident incident;
        incident.kind = IncidentKind((row.code - 33) / 2);
        incident.isReturn = row.code % 2 == 0;
        incident.end = side;
        incident.event = row;
        incident.axisMs = AxisOf(segments, *times[size_t(i)], side == UnitSide::Local);
        out.append(incident);
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const LinkIncident& a, const LinkIncident& b) { return a.axisMs < b.axisMs; });
    return out;
}

// The bands of one end's incidents: from each interruption (or alarm) to its return; one that
// starts again before its return, or never returns, stays open.
void AddBands(const QList<LinkIncident>& incidents, UnitSide side, QList<IncidentBand>* bands) {
    std::optional<double> open[3];
    for (const LinkIncident& incident : incidents) {
        std::optional<double>& o = open[int(incident.kind)];
        if (!incident.isReturn) {
            if (o)
                bands->append({incident.kind, side, *o, std::nullopt});
            o = incident.axisMs;
        } else if (o) {
            bands->append({incident.kind, side, *o, incident.axisMs});
            o.reset();
        }
    }
    for (int kind = 0; kind < 3; ++kind)
        if (open[kind])
            bands->append({IncidentKind(kind), side, *open[kind], std::nullopt});
}

template <class T, class Key> void SortByAxis(QList<T>* list, Key key) {
    std::stable_sort(list->begin(), list->end(), [key](const T& a, const T& b) { return a.*key < b.*key; });
}

} // namespace

// Pairs every stream on the clock model m->segments and judges what is left over: the matches,
// the lost, the unwanted and the not covered, their counts, and each segment's pairs.
void PairOnModel(const LinkEvents& events, const Streams& s, double accept, const Covered covered[2],
                 LinkMatch* m) {
    m->lost.clear();
    m->unwanted.clear();
    m->notCovered.clear();
    m->counts = {};
    m->perCommand = {};
    for (ClockSegment& seg : m->segments)
        seg.pairs[0] = seg.pairs[1] = 0;
    const TransferWindow window = AcceptedWindow(s, m->segments, accept);
    Pairing pairing = PairAll(events, s, window, covered, m);
    m->matches = MatchesOf(std::move(pairing.found), events);
    FillCounts(pairing, m);
    SortByAxis(&m->lost, &UnmatchedEvent::axisMs);
    SortByAxis(&m->unwanted, &UnmatchedEvent::axisMs);
    SortByAxis(&m->notCovered, &UnmatchedEvent::axisMs);
    CountSegmentPairs(m->matches, &m->segments);
}

// Takes out the segments of the traffic that the final pairing left without a command pair, while
// some segment carries pairs: a first pairing can find a pattern in one direction only that the
// other direction contradicts at the same moments (two logs holding old records of their own), and
// such a segment is no clock relation of the link. The breaks are placed again. True when any went.
bool DropUncarried(QList<ClockSegment>* segments, const QList<ClockWriteMark>& writes) {
    const auto uncarried = [](const ClockSegment& seg) {
        return (seg.basis == SegmentBasis::BothWays || seg.basis == SegmentBasis::OneWay) &&
               seg.pairs[0] + seg.pairs[1] == 0;
    };
    if (std::none_of(segments->begin(), segments->end(), uncarried) ||
        std::all_of(segments->begin(), segments->end(), uncarried))
        return false;
    segments->removeIf(uncarried);
    ClockSegment& first = (*segments)[0];
    first.startLocalMs = first.startRemoteMs = -INFINITY;
    first.start = SegmentStart::FirstTraffic;
    first.clockWriteVisit.reset();
    for (qsizetype i = 1; i < segments->size(); ++i)
        PlaceBreak((*segments)[i - 1], &(*segments)[i], writes);
    return true;
}

LinkMatch MatchLink(const LinkEvents& events, const MatchOptions& options) {
    LinkMatch m;
    m.asOfVisit = events.asOfVisit;
    const EventTimes times = TimesOf(events, &m.unplaced);
    const Streams s = StreamsOf(events, times);
    const double accept = std::max(options.acceptMs, 1);
    double readingAtMs = 0;
    ReadingsOffset(events, &m.crossCheck, &readingAtMs);
    m.segments = ClockSegmentsOf(s, events, accept, options, m.crossCheck, readingAtMs);

    const Covered covered[2] = {Coverage(events.localCovered, times.of[0]),
                                Coverage(events.remoteCovered, times.of[1])};
    PairOnModel(events, s, accept, covered, &m);
    if (DropUncarried(&m.segments, events.clockWrites))
        PairOnModel(events, s, accept, covered, &m);
    Summarise(&m);
    m.split = AllSplit(m.segments);
    m.basis = BasisOf(m.segments, options);
    if (m.crossCheck.available) {
        ClockCrossCheck& c = m.crossCheck;
        c.estimateOffsetMs = OffsetAt(m, readingAtMs);
        c.differenceMs = c.estimateOffsetMs - c.readingOffsetMs;
        c.agrees = m.basis == OffsetBasis::BothWays && std::abs(c.differenceMs) <= kReadingResolutionMs;
    }

    for (const UnitSide side : {UnitSide::Local, UnitSide::Remote}) {
        const bool local = side == UnitSide::Local;
        const QList<LinkIncident> mine =
            IncidentsOf(local ? events.local : events.remote, times.of[local ? 0 : 1], side, m.segments);
        AddBands(mine, side, &m.bands);
        m.incidents += mine;
    }
    SortByAxis(&m.incidents, &LinkIncident::axisMs);
    SortByAxis(&m.bands, &IncidentBand::startAxisMs);
    return m;
}

LinkMatch MatchWithin(const LinkMatch& whole, double fromMs, double toMs) {
    const auto in = [fromMs, toMs](double ms) { return ms >= fromMs && ms < toMs; };
    LinkMatch m;
    m.crossCheck = whole.crossCheck;
    m.unplaced = whole.unplaced;
    m.asOfVisit = whole.asOfVisit;
    for (const ClockSegment& seg : whole.segments) {
        const double start =
            std::isfinite(seg.startLocalMs) ? std::min(seg.startLocalMs, seg.fromMs) : seg.fromMs;
        if (seg.toMs >= fromMs && start < toMs)
            m.segments << seg;
    }
    Pairing kept;
    for (const CommandMatch& c : whole.matches) {
        if (!in(c.sentAxisMs))
            continue;
        m.matches << c;
        const size_t p = c.pair == MatchPair::Command ? 0 : 1;
        const size_t dir = c.direction == LinkDirection::LocalToRemote ? 0 : 1;
        CommandMatchCounts& k = m.counts[p][dir][size_t(c.command - 1)];
        ++k.matched;
        k.apparent |= !c.transferMs;
        kept.transfers[p][dir][c.command - 1].push_back(c.transferMs.value_or(c.apparentMs));
    }
    const auto countOf = [&m](const UnmatchedEvent& u) -> CommandMatchCounts& {
        return m.counts[u.pair == MatchPair::Command ? 0 : 1]
                       [u.direction == LinkDirection::LocalToRemote ? 0 : 1][size_t(u.command - 1)];
    };
    for (const UnmatchedEvent& u : whole.lost)
        if (in(u.axisMs)) {
            m.lost << u;
            ++countOf(u).lost;
        }
    for (const UnmatchedEvent& u : whole.unwanted)
        if (in(u.axisMs)) {
            m.unwanted << u;
            ++countOf(u).unwanted;
        }
    for (const UnmatchedEvent& u : whole.notCovered)
        if (in(u.axisMs)) {
            m.notCovered << u;
            // A send is logged at the end the command left from.
            const bool send = (u.direction == LinkDirection::LocalToRemote) == (u.end == UnitSide::Local);
            ++(send ? countOf(u).sentNotCovered : countOf(u).receivedNotCovered);
        }
    for (const LinkIncident& i : whole.incidents)
        if (in(i.axisMs))
            m.incidents << i;
    for (const IncidentBand& b : whole.bands)
        if (b.startAxisMs < toMs && (!b.endAxisMs || *b.endAxisMs >= fromMs))
            m.bands << b;
    for (auto& byDirection : m.counts)
        for (auto& byCommand : byDirection)
            for (CommandMatchCounts& c : byCommand) {
                c.sent = c.matched + c.lost;
                c.received = c.matched + c.unwanted;
            }
    FillCounts(kept, &m);
    Summarise(&m);
    m.split = AllSplit(m.segments);
    m.basis =
        whole.basis == OffsetBasis::HandCorrection ? OffsetBasis::HandCorrection : BasisOf(m.segments, {});
    // The clock readings speak of the model; with no segment in the period there is none to check.
    m.crossCheck.available &= !m.segments.isEmpty();
    return m;
}
