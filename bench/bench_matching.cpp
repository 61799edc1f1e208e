// Prints how long matching both ends of a link takes: 2 x 100,000 events (50,000 commands and their
// returns, alternately each way, over five weeks, the remote clock 2.314 s ahead and drifting a
// second a day, one command in a thousand lost), and what it found. Asserts nothing.
#include "archive/ArchiveFormat.h"
#include "archive/MatchOutput.h"
#include "archive/Matching.h"
#include "bench/BenchSupport.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>

#include <cmath>
#include <cstdio>
#include <ctime>

namespace {

EventRow Event(qint64 unitMs, int code, qint64 unitId, qint64 id) {
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(unitMs, Qt::UTC);
    const auto bcd = [](int v) { return (v / 10) * 16 + v % 10; };
    EventRow row;
    row.id = id;
    row.unitId = unitId;
    row.side = unitId == 1 ? UnitSide::Local : UnitSide::Remote;
    row.code = code;
    row.unitTime =
        UnitTimeKeyOf(bcd(t.date().year() % 100), t.date().month(), bcd(t.date().day()), bcd(t.time().hour()),
                      bcd(t.time().minute()), bcd(t.time().second()), t.time().msec());
    return row;
}

// The process's peak resident set, from /proc (VmHWM).
double PeakRssMb() {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return 0;
}

double ThreadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    constexpr int kCommands = 50'000;
    const qint64 start = QDateTime(QDate(2026, 1, 5), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
    const auto offset = [start](qint64 localMs) {
        return 2314.0 + 1000.0 * double(localMs - start) / 86'400'000.0;
    };
    QRandomGenerator random(207);
    LinkEvents events;
    qint64 id = 1;
    int lost = 0;
    qint64 t = start;
    for (int i = 0; i < kCommands; ++i) {
        t += 50'000 + random.bounded(20'000);
        const int k = (i / 2) % 8 + 1;
        const bool l2r = i % 2 == 0;
        const bool losing = i % 1000 == 999;
        lost += losing ? 1 : 0;
        for (int ret = 0; ret < 2; ++ret) {
            const qint64 at = t + ret * 100;
            const qint64 transfer = 8 + random.bounded(8);
            const int send = 2 * k - 1 + ret;
            if (l2r) {
                events.local << Event(at, send, 1, id++);
                const qint64 r = at + transfer;
                events.remote << Event(losing ? r + 7 : qint64(std::floor(double(r) + offset(r))),
                                       losing ? 33 + ret : send + 16, 2, id++);
            } else {
                events.remote << Event(qint64(std::floor(double(at) + offset(at))), send, 2, id++);
                events.local << Event(at + transfer, losing ? 33 + ret : send + 16, 1, id++);
            }
        }
    }
    std::printf("matching: %lld local and %lld remote events, %d commands lost\n",
                qlonglong(events.local.size()), qlonglong(events.remote.size()), lost);
    // Wall time, and the thread's own processor time, which a machine busy with other work
    // inflates less.
    std::vector<double> times;
    std::vector<double> cpu;
    LinkMatch m;
    for (int run = 0; run < 7; ++run) {
        QElapsedTimer timer;
        timer.start();
        const double cpuStart = ThreadCpuMs();
        m = MatchLink(events);
        cpu.push_back(ThreadCpuMs() - cpuStart);
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::printf(
        "matching 2 x 100,000 events: %.1f ms, %.1f ms of processor time (medians of 7; target 200 ms)\n",
        Median(times), Median(cpu));
    double worst = 0;
    for (const CommandMatch& c : m.matches)
        worst = std::max(worst, std::abs(OffsetAt(m, c.sentAxisMs) - offset(qint64(c.sentAxisMs))));
    std::printf(
        "  %lld matches, %lld lost, %lld unwanted; %lld segment(s), %.1f ms a day; offset within %.2f ms "
        "of the truth\n",
        qlonglong(m.matches.size()), qlonglong(m.lost.size()), qlonglong(m.unwanted.size()),
        qlonglong(m.segments.size()), m.segments.isEmpty() ? 0.0 : m.segments.first().MsPerDay(), worst);
    std::printf("  memory: %.1f MB resident at most\n", PeakRssMb());
    QElapsedTimer timer;
    timer.start();
    const QByteArray csv = MatchCsv(m, LinkEnds());
    std::printf("  the match as CSV: %.1f ms, %lld bytes\n", double(timer.nsecsElapsed()) / 1e6,
                qlonglong(csv.size()));
    return 0;
}
