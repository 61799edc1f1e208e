#include "support/LinkTruth.h"

#include "archive/ArchiveFormat.h"

#include <QDateTime>
#include <QHash>
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

QList<LinkTruthCase> LinkTruthCases() {
    QList<LinkTruthCase> cases;
    const auto add = [&cases](const QString& name, const LinkTruthSpec& s, int segments = 1) {
        cases.append({name, s, segments});
    };
    LinkTruthSpec s;
    s.days = 3;
    s.offsetMs = -3 * 3'600'000.0;
    add("-3 h, no readings", s);
    s.offsetMs = 47 * kDayMs + 1234.5;
    add("+47 days, no readings", s);
    s.offsetMs = 3652 * kDayMs + 777;
    add("+10 years, no readings", s);
    s = LinkTruthSpec{};
    s.days = 4;
    s.localSetAt = 0.4;
    s.localSetMs = 3'600'000;
    add("local clock set +1 h, not archived", s, 2);
    s.archivedSets = true;
    add("local clock set +1 h, archived", s, 2);
    s = LinkTruthSpec{};
    s.days = 4;
    s.remoteSetAt = 0.6;
    s.remoteSetMs = 3'600'000;
    add("remote clock set +1 h, not archived", s, 2);
    s.archivedSets = true;
    add("remote clock set +1 h, archived", s, 2);
    s.remoteSetMs = 800;
    s.archivedSets = false;
    add("remote clock set +0.8 s, not archived", s, 2);
    s = LinkTruthSpec{};
    s.days = 6;
    s.driftMsPerDay = 20'000;
    s.remoteSetAt = 0.5;
    s.remoteSetMs = -60'000;
    add("remote clock set -60 s amid a drift of 20 s/day, not archived", s, 2);
    for (double drift : {1.0, 5.0, 10.0, 20.0}) {
        s = LinkTruthSpec{};
        s.driftMsPerDay = drift * 1000;
        add(QStringLiteral("drift %1 s/day, three weeks").arg(drift), s);
    }
    s = LinkTruthSpec{};
    s.days = 6;
    s.localCovers = {0, 0.7};
    s.remoteCovers = {0.3, 1};
    s.lossRate = 0.05;
    add("logs of different periods", s);
    s = LinkTruthSpec{};
    s.days = 3;
    s.lossRate = 0.05;
    s.twinRate = 0.05;
    s.burst = 3;
    add("5 % lost, 5 % twins 3 ms late, bursts 20 ms apart", s);
    s = LinkTruthSpec{};
    s.days = 6;
    s.transfer[0][0] = s.transfer[1][0] = 5;
    s.transfer[0][1] = s.transfer[1][1] = 200;
    s.driftMsPerDay = 5000;
    add("jitter 5-200 ms, drifting 5 s/day", s);
    s = LinkTruthSpec{};
    s.days = 3;
    s.ways = LinkTruthSpec::LocalToRemote;
    s.driftMsPerDay = 1000;
    add("one way only", s);
    s.ways = LinkTruthSpec::RemoteToLocal;
    add("one way only, remote to local", s);
    s = LinkTruthSpec{};
    s.days = 4;
    s.oneWayStretch = {0.3, 0.6};
    s.driftMsPerDay = 1000;
    add("a one-way stretch inside two-way traffic", s);
    s = LinkTruthSpec{};
    s.days = 3;
    s.transfer[0][0] = 8;
    s.transfer[0][1] = 12;
    s.transfer[1][0] = 20;
    s.transfer[1][1] = 24;
    add("asymmetric paths (8-12 ms against 20-24 ms)", s);
    return cases;
}

LinkTruthScore ScoreLinkMatch(const LinkTruthSpec& spec, const LinkTruth& truth, const LinkMatch& match) {
    LinkTruthScore score;
    QHash<qint64, const CommandMatch*> bySend;
    for (const CommandMatch& c : match.matches)
        bySend.insert(c.sent.id, &c);
    const bool oneWay = spec.ways != LinkTruthSpec::Both;
    const auto mispaired = [&score](const QString& what) {
        if (!score.mispaired++)
            score.firstMispaired = what;
    };
    for (const LinkTruthPair& p : truth.pairs) {
        const CommandMatch* c = bySend.value(p.sendId);
        if (!p.receiveId) {
            if (c)
                mispaired(QStringLiteral("lost send %1 paired with %2").arg(p.sendId).arg(c->received.id));
            continue;
        }
        ++score.pairs;
        if (!c || c->received.id != p.receiveId || c->apparentMs != p.apparentMs) {
            mispaired(QStringLiteral("send %1 paired with %2, not %3")
                          .arg(p.sendId)
                          .arg(c ? c->received.id : 0)
                          .arg(p.receiveId));
            continue;
        }
        if (oneWay != !c->transferMs) {
            ++score.transfersWrong;
            continue;
        }
        if (oneWay)
            continue;
        const double shift = truth.visibleShiftMs;
        const double transfer = p.transferMs - (p.localToRemote ? shift : -shift);
        score.worstTransferMs = std::max(score.worstTransferMs, std::abs(*c->transferMs - transfer));
        score.worstOffsetMs =
            std::max(score.worstOffsetMs, std::abs(OffsetAt(match, c->sentAxisMs) - (p.offsetMs + shift)));
    }
    return score;
}
