#include "archive/ClockModel.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// How much the envelope lines lie under the points for a given rate, with the lines as high as the
// points let them be; a convex function of the rate (sums of a linear term and a minimum of lines).
struct EnvelopeCost {
    std::vector<DelayPoint> hull[2]; // centred on the origin
    double n[2] = {0, 0};
    double sumT[2] = {0, 0};

    // The highest line under direction `dir` at `rate` (local → remote: d ≥ a + rate·t; remote →
    // local: d ≥ a − rate·t).
    double Intercept(int dir, double rate) const {
        const double sign = dir == 0 ? 1 : -1;
        double a = INFINITY;
        for (const DelayPoint& p : hull[dir])
            a = std::min(a, p.d - sign * rate * p.t);
        return a;
    }
    // The sum of (point − line) over all points; the points' own sum is the same for any rate and
    // left out.
    double operator()(double rate) const {
        double c = 0;
        for (int dir = 0; dir < 2; ++dir)
            if (n[dir] > 0)
                c -= n[dir] * Intercept(dir, rate) + (dir == 0 ? 1 : -1) * rate * sumT[dir];
        return c;
    }
};

} // namespace

namespace {

std::optional<EnvelopeFit> FitOnce(const std::vector<DelayPoint>& localToRemote,
                                   const std::vector<DelayPoint>& remoteToLocal) {
    const std::vector<DelayPoint>* points[2] = {&localToRemote, &remoteToLocal};
    if (localToRemote.empty() && remoteToLocal.empty())
        return std::nullopt;
    // Centred on the middle of the pairs' times, so intercepts are offsets of this stretch, not of 1970.
    double first = INFINITY;
    double last = -INFINITY;
    for (const auto* list : points)
        for (const DelayPoint& p : *list) {
            first = std::min(first, p.t);
            last = std::max(last, p.t);
        }
    EnvelopeFit fit;
    fit.originMs = std::floor((first + last) / 2);
    EnvelopeCost cost;
    for (int dir = 0; dir < 2; ++dir) {
        std::vector<DelayPoint> centred;
        centred.reserve(points[dir]->size());
        for (const DelayPoint& p : *points[dir]) {
            centred.push_back({p.t - fit.originMs, p.d});
            cost.sumT[dir] += p.t - fit.originMs;
        }
        cost.n[dir] = double(centred.size());
        cost.hull[dir] = LowerHull(std::move(centred));
        fit.has[dir] = !points[dir]->empty();
    }
    // A rate shows only over time: points all at one moment leave it at 0.
    if (last - first >= 1000) {
        // Golden-section search of the convex cost; 80 steps narrow 2 × kMaxRate to below 1e-19.
        double lo = -kMaxRate;
        double hi = kMaxRate;
        const double g = (std::sqrt(5.0) - 1) / 2;
        double x1 = hi - g * (hi - lo);
        double x2 = lo + g * (hi - lo);
        double f1 = cost(x1);
        double f2 = cost(x2);
        for (int i = 0; i < 80; ++i) {
            if (f1 <= f2) {
                hi = x2;
                x2 = x1;
                f2 = f1;
                x1 = hi - g * (hi - lo);
                f1 = cost(x1);
            } else {
                lo = x1;
                x1 = x2;
                f1 = f2;
                x2 = lo + g * (hi - lo);
                f2 = cost(x2);
            }
        }
        fit.rate = (lo + hi) / 2;
    }
    for (int dir = 0; dir < 2; ++dir)
        if (fit.has[dir])
            fit.a[dir] = cost.Intercept(dir, fit.rate);
    return fit;
}

// Points below the fast edge by far more than the edge scatters are pairs the first pairing got
// wrong (a send taken with the receive of the command before it in a burst): the 10th percentile
// of the points' heights above the envelope and their median say how the true ones lie; a point
// below the 10th percentile by more than twice their distance (and 5 ms, two stamps and the
// jitter of a steady link) is dropped, and the fit made again.
constexpr double kTrimQuantile = 0.1;
constexpr double kTrimSpreads = 2.0;
constexpr double kTrimFloorMs = 5.0;
constexpr int kTrimRounds = 3;

} // namespace

std::optional<EnvelopeFit> FitEnvelope(const std::vector<DelayPoint>& localToRemote,
                                       const std::vector<DelayPoint>& remoteToLocal) {
    std::vector<DelayPoint> kept[2] = {localToRemote, remoteToLocal};
    std::optional<EnvelopeFit> fit = FitOnce(kept[0], kept[1]);
    for (int round = 0; fit && round < kTrimRounds; ++round) {
        bool dropped = false;
        for (int dir = 0; dir < 2; ++dir) {
            if (kept[dir].size() < 10)
                continue;
            const double sign = dir == 0 ? 1 : -1;
            std::vector<double> above;
            for (const DelayPoint& p : kept[dir])
                above.push_back(p.d - fit->a[dir] - sign * fit->rate * (p.t - fit->originMs));
            const double low = NearestRank(above, kTrimQuantile);
            const double cut = low - std::max(kTrimFloorMs, kTrimSpreads * (Median(above) - low));
            std::vector<DelayPoint> next;
            for (size_t i = 0; i < kept[dir].size(); ++i)
                if (above[i] >= cut)
                    next.push_back(kept[dir][i]);
            dropped |= next.size() < kept[dir].size();
            kept[dir] = std::move(next);
        }
        if (!dropped)
            break;
        fit = FitOnce(kept[0], kept[1]);
    }
    return fit;
}

ClockSegment SegmentOfFit(const EnvelopeFit& fit) {
    ClockSegment s;
    s.originMs = fit.originMs;
    s.rate = fit.rate;
    if (fit.has[0] && fit.has[1]) {
        s.basis = SegmentBasis::BothWays;
        s.offsetMs = (fit.a[0] - fit.a[1]) / 2;
        s.floorMs = (fit.a[0] + fit.a[1]) / 2;
    } else {
        s.basis = SegmentBasis::OneWay;
        // The apparent delay of the way the commands went, as remote minus local: d1 = offset +
        // transfer gives the remote clock a transfer late; d2 = transfer − offset a transfer early.
        s.offsetMs = fit.has[0] ? fit.a[0] : -fit.a[1];
        s.floorMs = 0;
    }
    return s;
}

qsizetype SegmentIndexAt(const QList<ClockSegment>& segments, double ms, bool onLocalClock) {
    if (segments.isEmpty())
        return -1;
    qsizetype found = 0;
    for (qsizetype i = 0; i < segments.size(); ++i)
        if ((onLocalClock ? segments[i].startLocalMs : segments[i].startRemoteMs) <= ms)
            found = i;
    return found;
}

namespace {

// A step is looked for between runs of this many pairs one way: each run's fast edge is its second
// fastest pair (one wrong pair far below the edge moves nothing), and a dozen transfers drawn from
// a link's jitter come close to its fastest.
constexpr size_t kStepRun = 12;
// A step is a jump of the edge (less the drift) beyond this, and beyond this many median absolute
// deviations of the jumps between runs: the edge of a run scatters by at most the link's jitter
// (5-200 ms), a clock set by hand moves it by half a second or more.
constexpr double kLeastStepMs = 300;
constexpr double kStepMads = 6;

struct StepSpan {
    double lastOld = 0;  // the last pair of the old relation
    double firstNew = 0; // the first pair of the new
    double sizeMs = 0;   // the edge's jump
};

// The fast edge of each run of pairs (in time order): its second fastest pair.
std::vector<DelayPoint> RunEdges(const std::vector<DelayPoint>& points) {
    std::vector<DelayPoint> edges;
    const size_t runs = points.size() / kStepRun;
    for (size_t r = 0; r < runs; ++r) {
        const auto from = points.begin() + std::ptrdiff_t(r * kStepRun);
        const auto to = r + 1 == runs ? points.end() : from + std::ptrdiff_t(kStepRun);
        std::vector<DelayPoint> run(from, to);
        std::nth_element(run.begin(), run.begin() + 1, run.end(),
                         [](const DelayPoint& a, const DelayPoint& b) { return a.d < b.d; });
        edges.push_back(run[1]);
    }
    return edges;
}

// Where between two edges the relation changed: each pair between them taken for the old relation
// or the new by the nearer edge line (pairs lie above their edge by their jitter, less than half a
// step), and the split placed where the fewest pairs disagree with it.
StepSpan LocateStep(const std::vector<DelayPoint>& points, const DelayPoint& before, const DelayPoint& after,
                    double rate) {
    std::vector<DelayPoint> between;
    for (const DelayPoint& p : points)
        if (p.t >= before.t && p.t <= after.t)
            between.push_back(p);
    const double size = after.d - before.d - rate * (after.t - before.t);
    if (between.size() < 2)
        return {before.t, after.t, size};
    std::vector<char> isNew;
    for (const DelayPoint& p : between) {
        const double oldEdge = before.d + rate * (p.t - before.t);
        isNew.push_back((p.d >= oldEdge + size / 2) == (size > 0));
    }
    // Disagreements with a split before pair k: new ones before it, old ones from it on.
    size_t best = 1;
    qsizetype bestCost = std::numeric_limits<qsizetype>::max();
    qsizetype newBefore = 0;
    qsizetype oldFrom = std::count(isNew.begin(), isNew.end(), 0);
    for (size_t k = 0; k <= between.size(); ++k) {
        if (k > 0 && k < between.size() && newBefore + oldFrom < bestCost) {
            bestCost = newBefore + oldFrom;
            best = k;
        }
        if (k < between.size())
            (isNew[k] ? newBefore : oldFrom) += isNew[k] ? 1 : -1;
    }
    return {between[best - 1].t, between[best].t, size};
}

// The steps of one way's pairs.
std::vector<StepSpan> StepsOneWay(std::vector<DelayPoint> points) {
    std::sort(points.begin(), points.end(),
              [](const DelayPoint& a, const DelayPoint& b) { return a.t < b.t; });
    const std::vector<DelayPoint> edges = RunEdges(points);
    if (edges.size() < 3)
        return {};
    // The drift: the median slope between neighbouring edges; a step is one slope among many.
    std::vector<double> slopes;
    for (size_t i = 0; i + 1 < edges.size(); ++i)
        if (edges[i + 1].t > edges[i].t)
            slopes.push_back((edges[i + 1].d - edges[i].d) / (edges[i + 1].t - edges[i].t));
    const double rate = Median(slopes);
    std::vector<double> jumps;
    for (size_t i = 0; i + 1 < edges.size(); ++i)
        jumps.push_back(edges[i + 1].d - edges[i].d - rate * (edges[i + 1].t - edges[i].t));
    std::vector<double> deviations;
    const double middle = Median(jumps);
    for (double j : jumps)
        deviations.push_back(std::abs(j - middle));
    const double least = std::max(kLeastStepMs, kStepMads * Median(deviations));
    std::vector<StepSpan> steps;
    for (size_t i = 0; i < jumps.size(); ++i) {
        if (std::abs(jumps[i]) <= least)
            continue;
        // A run whose edge jumps away and straight back is one odd run, not a step.
        if (i + 1 < jumps.size() && std::abs(jumps[i + 1]) > least && (jumps[i + 1] > 0) != (jumps[i] > 0)) {
            ++i;
            continue;
        }
        steps.push_back(LocateStep(points, edges[i], edges[i + 1], rate));
    }
    return steps;
}

} // namespace

std::vector<double> ClockSteps(const std::vector<DelayPoint>& localToRemote,
                               const std::vector<DelayPoint>& remoteToLocal) {
    const std::vector<StepSpan> ways[2] = {StepsOneWay(localToRemote), StepsOneWay(remoteToLocal)};
    const bool both[2] = {localToRemote.size() >= 3 * kStepRun, remoteToLocal.size() >= 3 * kStepRun};
    std::vector<double> steps;
    if (!both[0] || !both[1]) {
        for (const std::vector<StepSpan>& way : ways)
            for (const StepSpan& s : way)
                steps.push_back((s.lastOld + s.firstNew) / 2);
        return steps;
    }
    // Both ways: the clock's step moves their edges in opposite senses, at one moment.
    for (const StepSpan& a : ways[0])
        for (const StepSpan& b : ways[1]) {
            const double from = std::max(a.lastOld, b.lastOld);
            const double to = std::min(a.firstNew, b.firstNew);
            if ((a.sizeMs > 0) != (b.sizeMs > 0) && from < to) {
                steps.push_back((from + to) / 2);
                break;
            }
        }
    return steps;
}
