#pragma once

#include <vector>

// The few statistics the matching takes of transfer times: one median, the nearest-rank
// percentile the counts show, and the lower convex hull the clock fit rests on. Pure functions.

// The median of `v` (the mean of the two middle values when their number is even); 0 when empty.
double Median(std::vector<double> v);

// The nearest-rank percentile of `v`, `p` in (0, 1]: the smallest value with at least p of all
// values at or below it (so the 100th is the maximum and nothing is interpolated between two
// measured transfers). 0 when empty.
double NearestRank(std::vector<double> v, double p);

// A point of a delay series: a local-clock time and an apparent delay.
struct DelayPoint {
    double t = 0;
    double d = 0;
};

// The points of the lower convex hull of `points` (any order), in time order: every straight line
// under all the points touches the set at a hull point, so a fit of the lower envelope needs only
// these (a handful, however long the series).
std::vector<DelayPoint> LowerHull(std::vector<DelayPoint> points);
