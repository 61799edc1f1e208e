#include "archive/MatchStats.h"

#include <algorithm>
#include <cmath>

double Median(std::vector<double> v) {
    if (v.empty())
        return 0;
    const auto n = std::ptrdiff_t(v.size() / 2);
    std::nth_element(v.begin(), v.begin() + n, v.end());
    const double upper = v[size_t(n)];
    if (v.size() % 2)
        return upper;
    return (upper + *std::max_element(v.begin(), v.begin() + n)) / 2;
}

double NearestRank(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    const auto rank = std::clamp<std::ptrdiff_t>(std::ptrdiff_t(std::ceil(p * double(v.size()))), 1,
                                                 std::ptrdiff_t(v.size()));
    std::nth_element(v.begin(), v.begin() + (rank - 1), v.end());
    return v[size_t(rank - 1)];
}

std::vector<DelayPoint> LowerHull(std::vector<DelayPoint> points) {
    std::sort(points.begin(), points.end(),
              [](const DelayPoint& a, const DelayPoint& b) { return a.t != b.t ? a.t < b.t : a.d < b.d; });
    std::vector<DelayPoint> hull;
    for (const DelayPoint& p : points) {
        if (!hull.empty() && hull.back().t == p.t)
            continue; // the lowest of equal times came first
        // Andrew's monotone chain: drop the last point while it lies on or above the chord.
        while (hull.size() >= 2) {
            const DelayPoint& a = hull[hull.size() - 2];
            const DelayPoint& b = hull.back();
            if ((b.t - a.t) * (p.d - a.d) - (b.d - a.d) * (p.t - a.t) > 0)
                break;
            hull.pop_back();
        }
        hull.push_back(p);
    }
    return hull;
}
