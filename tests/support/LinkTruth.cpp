#include "support/LinkTruth.h"

#include "archive/ArchiveFormat.h"

#include <QDateTime>
#include <QRandomGenerator>

#include <algorithm>
#include <cmath>

namespace {

constexpr double kDayMs = 86'400'000.0;
constexpr qint64 kReturnAfterMs = 100;
constexpr double kTwinAfterMs = 3;
constexpr double kBurstGapMs = 20;

int bcd(int v) {
    return (v / 10) * 16 + v % 10;
}

} // namespace

EventRow TruthEvent(qint64 unitMs, int code, bool local, qint64 id) {
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(unitMs, Qt::UTC);
    EventRow row;
    row.id = id;
    row.unitId = local ? 1 : 2;
    row.side = local ? UnitSide::Local : UnitSide::Remote;
    row.code = code;
    row.unitTime =
        UnitTimeKeyOf(bcd(t.date().year() % 100), t.date().month(), bcd(t.date().day()), bcd(t.time().hour()),
                      bcd(t.time().minute()), bcd(t.time().second()), t.time().msec());
    return row;
}

LinkTruth MakeLinkTruth(const LinkTruthSpec& spec) {
    LinkTruth truth;
    QRandomGenerator random(spec.seed);
    const double t0 = double(QDateTime(QDate(2026, 3, 2), QTime(6, 0), Qt::UTC).toMSecsSinceEpoch());
    const double length = spec.days * kDayMs;
    const double localSet = spec.localSetAt < 0 ? INFINITY : t0 + spec.localSetAt * length;
    const double remoteSet = spec.remoteSetAt < 0 ? INFINITY : t0 + spec.remoteSetAt * length;
    // The local clock reads true time (plus its set); the remote clock the offset ahead, drifting.
    const auto localClock = [&](double t) { return t + (t >= localSet ? spec.localSetMs : 0); };
    const auto remoteClock = [&](double t) {
        return t + spec.offsetMs + spec.driftMsPerDay * (t - t0) / kDayMs +
               (t >= remoteSet ? spec.remoteSetMs : 0);
    };
    const auto clockOf = [&](bool local, double t) {
        return qint64(std::floor(local ? localClock(t) : remoteClock(t)));
    };
    const auto inside = [&](std::pair<double, double> c, double t) {
        return t >= t0 + c.first * length && t <= t0 + c.second * length;
    };
    struct Ev {
        qint64 ms;
        int code;
        qint64 id;
    };
    QList<Ev> logs[2];
    qint64 id = 1;
    int sent = 0;
    double t = t0 + 60'000;
    while (t < t0 + length - 120'000) {
        // No command close to a clock set: one in flight across it has no clock to be judged by.
        const bool nearSet = std::abs(t - localSet) < 5000 || std::abs(t - remoteSet) < 5000;
        for (int b = 0; b < spec.burst && !nearSet; ++b) {
            const double at = t + b * kBurstGapMs;
            const double fraction = (at - t0) / length;
            bool l2r = spec.ways == LinkTruthSpec::LocalToRemote ||
                       (spec.ways == LinkTruthSpec::Both && (sent / spec.burst) % 2 == 0);
            if (fraction >= spec.oneWayStretch.first && fraction <= spec.oneWayStretch.second)
                l2r = true;
            const int dir = l2r ? 0 : 1;
            const int k = (sent / spec.burst / 2) % 8 + 1;
            ++sent;
            const bool lost = random.generateDouble() < spec.lossRate;
            const bool twin = !lost && random.generateDouble() < spec.twinRate;
            for (int ret = 0; ret < 2; ++ret) {
                // Each transmission (the command, then its return) takes its own time.
                const double transfer =
                    spec.transfer[dir][0] +
                    random.generateDouble() * (spec.transfer[dir][1] - spec.transfer[dir][0]);
                const double s = at + ret * kReturnAfterMs;
                const double r = s + transfer;
                const int code = 2 * k - 1 + ret;
                const bool senderHolds = inside(l2r ? spec.localCovers : spec.remoteCovers, s);
                const bool receiverHolds = inside(l2r ? spec.remoteCovers : spec.localCovers, r);
                LinkTruthPair pair;
                pair.localToRemote = l2r;
                pair.transferMs = transfer;
                pair.offsetMs = remoteClock(s) - localClock(s);
                pair.apparentMs = double(clockOf(!l2r, r) - clockOf(l2r, s));
                if (senderHolds) {
                    pair.sendId = id;
                    logs[l2r ? 0 : 1].append({clockOf(l2r, s), code, id++});
                    if (lost || !receiverHolds)
                        (receiverHolds ? truth.lost : truth.notCovered).insert(pair.sendId);
                }
                if (!lost && receiverHolds) {
                    pair.receiveId = senderHolds ? id : 0;
                    if (!senderHolds)
                        truth.notCovered.insert(id);
                    logs[l2r ? 1 : 0].append({clockOf(!l2r, r), code + 16, id++});
                    if (twin && inside(l2r ? spec.remoteCovers : spec.localCovers, r + kTwinAfterMs)) {
                        const bool judged =
                            inside(l2r ? spec.localCovers : spec.remoteCovers, s + kTwinAfterMs);
                        (judged ? truth.unwanted : truth.notCovered).insert(id);
                        logs[l2r ? 1 : 0].append({clockOf(!l2r, r + kTwinAfterMs), code + 16, id++});
                    }
                }
                if (ret == 0 && pair.sendId)
                    truth.pairs << (lost ? LinkTruthPair{pair.sendId, 0, l2r, transfer, 0, pair.offsetMs}
                                         : pair);
            }
        }
        t += spec.spacingMs * (0.5 + random.generateDouble());
    }
    for (int end = 0; end < 2; ++end) {
        std::stable_sort(logs[end].begin(), logs[end].end(),
                         [](const Ev& a, const Ev& b) { return a.ms < b.ms; });
        QList<EventRow>& rows = end == 0 ? truth.events.local : truth.events.remote;
        for (const Ev& e : logs[end])
            rows << TruthEvent(e.ms, e.code, end == 0, e.id);
        // The read saw the unit's clock over its part of the length.
        const std::pair<double, double> c = end == 0 ? spec.localCovers : spec.remoteCovers;
        (end == 0 ? truth.events.localCovered : truth.events.remoteCovered) << CoveredSpan{
            clockOf(end == 0, t0 + c.first * length), clockOf(end == 0, t0 + c.second * length)};
    }
    if (spec.archivedSets) {
        if (std::isfinite(localSet))
            truth.events.clockWrites << ClockWriteMark{UnitSide::Local, localClock(localSet), 1};
        if (std::isfinite(remoteSet))
            truth.events.clockWrites << ClockWriteMark{UnitSide::Remote, remoteClock(remoteSet), 1};
    }
    const bool both = spec.ways == LinkTruthSpec::Both;
    truth.visibleShiftMs = both ? (spec.transfer[0][0] - spec.transfer[1][0]) / 2 : 0;
    return truth;
}
