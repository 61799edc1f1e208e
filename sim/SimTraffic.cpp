#include "sim/SimTraffic.h"

#include <QRandomGenerator>

#include <algorithm>
#include <cmath>

namespace {

constexpr qint64 kReturnAfterMs = 100;
constexpr qint64 kInventedAfterMs = 2500;
constexpr double kDayMs = 86'400'000.0;

SimRecord RecordAt(const QDateTime& at, int code) {
    const QDate d = at.date();
    const QTime t = at.time();
    return {toBcd(d.year() % 100), toBcd(d.day()),       toBcd(t.hour()),
            toBcd(t.minute()),     toBcd(t.second()),    quint8(d.month() << 4 | t.msec() / 100),
            quint8(code),          toBcd(t.msec() % 100)};
}

struct Stamped {
    QDateTime at;
    int code;
};

} // namespace

QList<SimTrafficCommand> AddSimTraffic(SimPair& pair, const SimTraffic& traffic, const QDateTime& now,
                                       quint32 seed) {
    const QDateTime pcNow(now.date(), now.time(), Qt::UTC);
    pair.local().setClock(pcNow.addMSecs(traffic.localClockOffsetMs));
    pair.remote().setClock(pcNow.addMSecs(traffic.remoteClockOffsetMs));
    QList<SimTrafficCommand> done;
    if (traffic.commands <= 0)
        return done;

    QRandomGenerator random(seed);
    const int kinds = std::min(pair.local().commands, pair.remote().commands);
    // A unit's clock at a PC time `before` ms ago: its offset now, less the drift since then.
    qint64 setBefore[2] = {-1, -1}; // PC time before now of each clock's set (-1: none)
    const auto stamp = [&](bool local, qint64 before) {
        const qint64 set = setBefore[local ? 0 : 1];
        const qint64 offset =
            (local ? traffic.localClockOffsetMs : traffic.remoteClockOffsetMs) -
            (set >= 0 && before > set ? (local ? traffic.localClockSetMs : traffic.remoteClockSetMs) : 0);
        const double drift = local ? traffic.localDriftMsPerDay : traffic.remoteDriftMsPerDay;
        return pcNow.addMSecs(offset - before - qint64(std::floor(drift * double(before) / kDayMs)));
    };
    std::vector<qint64> gaps(size_t(traffic.commands), 0);
    for (int i = 1; i < traffic.commands; ++i)
        gaps[size_t(i)] = traffic.spacingMs + qint64(random.bounded(5000));
    qint64 before = 0; // of the first command
    for (qint64 g : gaps)
        before += g;
    before += kInventedAfterMs + kReturnAfterMs + traffic.transferMs + traffic.jitterMs; // all in the past
    // Each set halfway between its command and the next one (gaps are a minute and more).
    {
        qint64 at = before;
        for (int i = 0; i < traffic.commands; ++i) {
            at -= gaps[size_t(i)];
            const qint64 next = i + 1 < traffic.commands ? at - gaps[size_t(i + 1)] : 0;
            if (traffic.localClockSetAfter == i + 1)
                setBefore[0] = (at + next) / 2;
            if (traffic.remoteClockSetAfter == i + 1)
                setBefore[1] = (at + next) / 2;
        }
    }

    QList<Stamped> logs[2]; // local, remote
    const auto transfer = [&] {
        return traffic.transferMs +
               (traffic.jitterMs > 0 ? int(random.bounded(2 * traffic.jitterMs + 1)) - traffic.jitterMs : 0);
    };
    for (int i = 0; i < traffic.commands; ++i) {
        before -= gaps[size_t(i)];
        SimTrafficCommand c;
        c.number = i + 1;
        c.localToRemote = traffic.ways == SimTraffic::Ways::Both
                              ? i % 2 == 0
                              : traffic.ways == SimTraffic::Ways::LocalToRemote;
        c.command = (traffic.ways == SimTraffic::Ways::Both ? i / 2 : i) % std::max(kinds, 1) + 1;
        c.lost = traffic.lose.contains(c.number);
        const bool senderLocal = c.localToRemote;
        const int send = 2 * c.command - 1;
        for (int ret = 0; ret < 2; ++ret) {
            const qint64 sentBefore = before - ret * kReturnAfterMs;
            const qint64 receivedBefore = sentBefore - transfer();
            logs[senderLocal ? 0 : 1].append({stamp(senderLocal, sentBefore), send + ret});
            if (!c.lost)
                logs[senderLocal ? 1 : 0].append({stamp(!senderLocal, receivedBefore), send + 16 + ret});
            if (ret == 0) {
                c.sentAt = stamp(senderLocal, sentBefore);
                if (!c.lost)
                    c.receivedAt = stamp(!senderLocal, receivedBefore);
            }
        }
        done.append(c);
        if (traffic.invent.contains(c.number)) {
            SimTrafficCommand ghost = c;
            ghost.number = 0;
            ghost.lost = false;
            ghost.sentAt = QDateTime();
            for (int ret = 0; ret < 2; ++ret) {
                const QDateTime at = stamp(!senderLocal, before - kInventedAfterMs - ret * kReturnAfterMs);
                logs[senderLocal ? 1 : 0].append({at, send + 16 + ret});
                if (ret == 0)
                    ghost.receivedAt = at;
            }
            done.append(ghost);
        }
    }
    for (int end = 0; end < 2; ++end) {
        QList<Stamped>& l = logs[end];
        std::stable_sort(l.begin(), l.end(), [](const Stamped& a, const Stamped& b) { return a.at > b.at; });
        std::vector<SimRecord>& log = (end == 0 ? pair.local() : pair.remote()).log;
        std::vector<SimRecord> head;
        for (const Stamped& s : l)
            head.push_back(RecordAt(s.at, s.code));
        log.insert(log.begin(), head.begin(), head.end());
        if (log.size() > 255)
            log.resize(255);
    }
    return done;
}
