#pragma once

#include <QList>
#include <QString>

// The time scale of the link picture: one axis of wall-clock milliseconds (a unit's clock, which
// knows no zone, counted as if it were UTC since 1970), marked in round steps from a century down
// to a millisecond. Plain rules, no widget.

// One step between two marks of the scale: a whole number of milliseconds (up to two weeks), or a
// whole number of calendar months (months and years).
struct TimeStep {
    qint64 ms = 0;
    int months = 0;
    // The step's length in milliseconds, a month counted as its average length.
    double ApproxMs() const;
    bool operator==(const TimeStep&) const = default;
};

// Every step the scale takes, finest first: 1, 2, 5, 10, 20, 50, 100, 200, 500 ms; 1, 2, 5, 10,
// 15, 30 s; 1, 2, 5, 10, 15, 30 min; 1, 2, 3, 6, 12 h; 1, 2, 7, 14 days; 1, 3, 6 months; 1, 2, 5,
// 10, 20, 50, 100 years.
const QList<TimeStep>& TimeSteps();

// The marks of `step` from `from` to `to` (both included), ascending: multiples of the step from
// midnight for steps up to a day, Mondays for weeks, the first of January, April, July and October
// for quarters, and so on. At most `limit` marks.
QList<qint64> TimeTicks(qint64 from, qint64 to, const TimeStep& step, int limit = 2000);

// A mark's label for marks `step` apart, with what changes from mark to mark: "2026" (years),
// "2026-12" (months), "2026-12-07" (days), "09:30" (hours and minutes), "09:30:15" (seconds),
// "09:30:15.250" (below a second).
QString TimeTickLabel(qint64 t, const TimeStep& step);
// What the labels of such marks leave out, for the moment `t`: the day ("2026-12-07") for steps
// below a day, nothing for longer ones.
QString TimeContextLabel(qint64 t, const TimeStep& step);

// A duration as a person reads it, to the millisecond: "0 ms", "12 ms", "2.314 s", "-2.314 s",
// "3 min 05.250 s", "2 h 03 min", "5 d 4 h".
QString DurationText(qint64 ms);

// The view of an axis: the time at its left edge and the milliseconds one pixel spans.
struct TimeView {
    double start = 0;
    double msPerPixel = 1;
    double TimeAt(double x) const { return start + x * msPerPixel; }
    double XAt(double t) const { return (t - start) / msPerPixel; }
};

// The finest and the coarsest scale a view takes: a millisecond spread over 50 pixels, a century
// over the width.
constexpr double kFinestMsPerPixel = 0.02;
double CoarsestMsPerPixel(int width);

// The view zoomed by `factor` (above 1 closer, below 1 farther) around the pixel `x`: the moment
// under `x` stays under it, the scale held between the finest and the coarsest for `width`.
TimeView ZoomedView(const TimeView& view, double x, double factor, int width);
// The view that shows `from` to `to` in `width` pixels with a little room at either end; a single
// moment (or none) shows a second either side of it.
TimeView FittedView(qint64 from, qint64 to, int width);
