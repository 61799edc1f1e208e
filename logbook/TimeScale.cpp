#include "logbook/TimeScale.h"

#include <QDateTime>

#include <algorithm>
#include <cmath>

namespace {

constexpr qint64 kSecond = 1000;
constexpr qint64 kMinute = 60 * kSecond;
constexpr qint64 kHour = 60 * kMinute;
constexpr qint64 kDay = 24 * kHour;
constexpr double kMonthMs = 30.436875 * kDay;
constexpr double kCenturyMs = 100 * 12 * kMonthMs;
// 1970-01-05, the first Monday after the epoch.
constexpr qint64 kFirstMonday = 4 * kDay;

QDateTime utc(qint64 t) {
    return QDateTime::fromMSecsSinceEpoch(t, Qt::UTC);
}

qint64 floorDiv(qint64 a, qint64 b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

} // namespace

double TimeStep::ApproxMs() const {
    return months ? months * kMonthMs : double(ms);
}

const QList<TimeStep>& TimeSteps() {
    static const QList<TimeStep> steps = [] {
        QList<TimeStep> s;
        for (qint64 ms : {1, 2, 5, 10, 20, 50, 100, 200, 500})
            s << TimeStep{ms, 0};
        for (qint64 sec : {1, 2, 5, 10, 15, 30})
            s << TimeStep{sec * kSecond, 0};
        for (qint64 min : {1, 2, 5, 10, 15, 30})
            s << TimeStep{min * kMinute, 0};
        for (qint64 h : {1, 2, 3, 6, 12})
            s << TimeStep{h * kHour, 0};
        for (qint64 d : {1, 2, 7, 14})
            s << TimeStep{d * kDay, 0};
        for (int m : {1, 3, 6})
            s << TimeStep{0, m};
        for (int y : {1, 2, 5, 10, 20, 50, 100})
            s << TimeStep{0, 12 * y};
        return s;
    }();
    return steps;
}

QList<qint64> TimeTicks(qint64 from, qint64 to, const TimeStep& step, int limit) {
    QList<qint64> ticks;
    if (from > to || limit <= 0)
        return ticks;
    if (step.months <= 0) {
        if (step.ms <= 0)
            return ticks;
        // Weeks start on Monday; shorter steps divide a day, so they start at midnight.
        const qint64 origin = step.ms % (7 * kDay) == 0 ? kFirstMonday : 0;
        qint64 t = floorDiv(from - origin, step.ms) * step.ms + origin;
        if (t < from)
            t += step.ms;
        for (; t <= to && ticks.size() < limit; t += step.ms)
            ticks << t;
        return ticks;
    }
    const QDate first = utc(from).date();
    // Months counted from year 0, so steps of 3, 6, 12, 24 ... months fall on round ones.
    qint64 index = qint64(first.year()) * 12 + first.month() - 1;
    index = floorDiv(index, step.months) * step.months;
    for (;; index += step.months) {
        const QDate d(int(floorDiv(index, 12)), int(index - floorDiv(index, 12) * 12) + 1, 1);
        const qint64 t = QDateTime(d, QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
        if (t > to || ticks.size() >= limit)
            break;
        if (t >= from)
            ticks << t;
    }
    return ticks;
}

QString TimeTickLabel(qint64 t, const TimeStep& step) {
    const QDateTime d = utc(t);
    if (step.months >= 12)
        return d.toString(QStringLiteral("yyyy"));
    if (step.months > 0)
        return d.toString(QStringLiteral("yyyy-MM"));
    if (step.ms >= kDay)
        return d.toString(QStringLiteral("yyyy-MM-dd"));
    if (step.ms >= kMinute)
        return d.toString(QStringLiteral("HH:mm"));
    if (step.ms >= kSecond)
        return d.toString(QStringLiteral("HH:mm:ss"));
    return d.toString(QStringLiteral("HH:mm:ss.zzz"));
}

QString TimeContextLabel(qint64 t, const TimeStep& step) {
    if (step.months > 0 || step.ms >= kDay)
        return {};
    return utc(t).toString(QStringLiteral("yyyy-MM-dd"));
}

QString DurationText(qint64 ms) {
    const QString sign = ms < 0 ? QStringLiteral("-") : QString();
    const qint64 a = ms < 0 ? -ms : ms;
    if (a < kSecond)
        return QStringLiteral("%1%2 ms").arg(sign).arg(a);
    if (a < kMinute)
        return QStringLiteral("%1%2.%3 s")
            .arg(sign)
            .arg(a / kSecond)
            .arg(a % kSecond, 3, 10, QLatin1Char('0'));
    if (a < kHour)
        return QStringLiteral("%1%2 min %3.%4 s")
            .arg(sign)
            .arg(a / kMinute)
            .arg(a % kMinute / kSecond, 2, 10, QLatin1Char('0'))
            .arg(a % kSecond, 3, 10, QLatin1Char('0'));
    if (a < kDay)
        return QStringLiteral("%1%2 h %3 min")
            .arg(sign)
            .arg(a / kHour)
            .arg(a % kHour / kMinute, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1%2 d %3 h").arg(sign).arg(a / kDay).arg(a % kDay / kHour);
}

double CoarsestMsPerPixel(int width) {
    return kCenturyMs / std::max(width, 1);
}

TimeView ZoomedView(const TimeView& view, double x, double factor, int width) {
    if (!(factor > 0) || !std::isfinite(factor))
        return view;
    const double anchor = view.TimeAt(x);
    TimeView zoomed;
    zoomed.msPerPixel = std::clamp(view.msPerPixel / factor, kFinestMsPerPixel, CoarsestMsPerPixel(width));
    zoomed.start = anchor - x * zoomed.msPerPixel;
    return zoomed;
}

TimeView FittedView(qint64 from, qint64 to, int width) {
    if (to < from)
        std::swap(from, to);
    double span = double(to - from);
    if (span <= 0) {
        from -= kSecond;
        span = 2 * kSecond;
    }
    width = std::max(width, 1);
    // A twentieth of the width free at either end, so the first and the last events stand clear
    // of the frame.
    TimeView view;
    view.msPerPixel = std::clamp(span / (width * 0.9), kFinestMsPerPixel, CoarsestMsPerPixel(width));
    view.start = from + span / 2 - width / 2.0 * view.msPerPixel;
    return view;
}
