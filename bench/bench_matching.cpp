// Prints how long matching both ends of a link takes: 2 x 100,000 events (50,000 commands and their
// returns, alternately each way, over five weeks, the remote clock 2.314 s ahead and drifting a
// second a day, one command in a thousand lost), what it found, and how long writing it as CSV and
// as JSON takes. Asserts nothing.
//
// With --cases: a markdown table of the matching suite's cases (tests/support/LinkTruth), each
// truth beside what the match found.
#include "archive/ArchiveFormat.h"
#include "archive/MatchOutput.h"
#include "archive/Matching.h"
#include "bench/BenchSupport.h"
#include "support/LinkTruth.h"

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

QString Percent(double fraction) {
    return QString::number(fraction * 100, 'f', 0) + QStringLiteral(" %");
}

// The truth of a case: the offset at the start, the sets, the drift.
QString TruthText(const LinkTruthSpec& s) {
    QString t = QStringLiteral("%1 ms").arg(s.offsetMs, 0, 'f', 1);
    if (s.localSetAt >= 0)
        t +=
            QStringLiteral("; local set %1 ms at %2").arg(s.localSetMs, 0, 'f', 0).arg(Percent(s.localSetAt));
    if (s.remoteSetAt >= 0)
        t += QStringLiteral("; remote set %1 ms at %2")
                 .arg(s.remoteSetMs, 0, 'f', 0)
                 .arg(Percent(s.remoteSetAt));
    if (s.archivedSets)
        t += QStringLiteral(" (archived)");
    return t;
}

// What the match found: each segment's offset at its first pair (the apparent delay one way) and rate.
QString SegmentsText(const LinkMatch& m) {
    QStringList parts;
    for (const ClockSegment& seg : m.segments)
        parts << QStringLiteral("%1 ms, %2 ms/day%3")
                     .arg(seg.OffsetAt(seg.fromMs), 0, 'f', 1)
                     .arg(std::abs(seg.MsPerDay()) < 0.05 ? 0.0 : seg.MsPerDay(), 0, 'f', 1) // no "-0.0"
                     .arg(seg.basis == SegmentBasis::OneWay ? QStringLiteral(" (one way)") : QString());
    return parts.join(QStringLiteral("; "));
}

int PrintCases() {
    std::printf(
        "| case | truth: offset | drift ms/day | lost | unwanted | found: segments (offset, rate) | lost | "
        "unwanted | not covered | mispaired | worst offset error ms | worst transfer error ms |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|---|---|\n");
    for (const LinkTruthCase& c : LinkTruthCases()) {
        const LinkTruth truth = MakeLinkTruth(c.spec);
        const LinkMatch m = MatchLink(truth.events);
        const LinkTruthScore score = ScoreLinkMatch(c.spec, truth, m);
        const QString line =
            QStringLiteral("| %1 | %2 | %3 | %4 | %5 | %6 | %7 | %8 | %9 | %10 | %11 | %12 |")
                .arg(c.name, TruthText(c.spec))
                .arg(c.spec.driftMsPerDay, 0, 'f', 0)
                .arg(truth.lost.size())
                .arg(truth.unwanted.size())
                .arg(SegmentsText(m))
                .arg(m.lost.size())
                .arg(m.unwanted.size())
                .arg(m.notCovered.size())
                .arg(score.mispaired)
                .arg(score.worstOffsetMs, 0, 'f', 2)
                .arg(score.worstTransferMs, 0, 'f', 2);
        std::printf("%s\n", qPrintable(line));
    }
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    if (app.arguments().contains(QStringLiteral("--cases")))
        return PrintCases();
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
    // Each writer's wall time and processor time, medians of 5.
    std::vector<double> writeMs[2][2];
    qsizetype bytes[2] = {0, 0};
    for (int run = 0; run < 5; ++run)
        for (int json = 0; json < 2; ++json) {
            QElapsedTimer timer;
            timer.start();
            const double cpuStart = ThreadCpuMs();
            bytes[json] = (json ? MatchJson(m, LinkEnds()) : MatchCsv(m, LinkEnds())).size();
            writeMs[json][1].push_back(ThreadCpuMs() - cpuStart);
            writeMs[json][0].push_back(double(timer.nsecsElapsed()) / 1e6);
        }
    for (int json = 0; json < 2; ++json)
        std::printf("  the match as %s: %.1f ms, %.1f ms of processor time, %lld bytes (medians of 5%s)\n",
                    json ? "JSON" : "CSV", Median(writeMs[json][0]), Median(writeMs[json][1]),
                    qlonglong(bytes[json]), json ? "" : "; target 500 ms");
    std::printf("  memory after writing: %.1f MB resident at most\n", PeakRssMb());
    return 0;
}
