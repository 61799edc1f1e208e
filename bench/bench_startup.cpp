// Prints the tool's start-up figures against a bare Qt window program built the same way, and
// gathers the exchange figures of the configuration and record benchmarks into one summary:
//   - start to the login window: the tool (its start-up probe, lmx207-bench-startup-probe ready,
//     which runs the very start-up of lmx207) against the bare program's 500 x 400 main window, alternating,
//     each run with fresh settings, runtime and drive-C folders, off-screen and, when xvfb-run is installed,
//     on an X server (Xvfb);
//   - resident memory of the idle main window after the login (the probe's idle run) against the
//     bare program's idle window;
//   - the lines of bench_config (open to configuration, CPU while the local dialog polls) and of
//     bench_records (a 254-record read), each against its line time.
// Finds the probe and the other programs next to itself. Asserts nothing.
//   bench_startup [--runs N] [--no-exchanges]
#include "bench/BenchSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct Program {
    QString name;
    QString path;
};

struct Sample {
    bool ok = false;
    double wallMs = 0;   // from starting the process to its line, as seen from here
    double ownMs = 0;    // the program's own figure (since it was loaded), or VmRSS
    double secondKb = 0; // VmHWM for the idle runs
};

// Starts `program` with fresh XDG folders and the argument `mode`, and waits for its one line.
Sample RunOnce(const Program& program, const QByteArray& mode) {
    Sample s;
    QTemporaryDir dir;
    if (!dir.isValid())
        return s;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* folder : {"config", "runtime", "cache", "data", "drive-c"})
        QDir(dir.path()).mkpath(QString::fromLatin1(folder));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.filePath(QStringLiteral("runtime")));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), dir.filePath(QStringLiteral("cache")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("LMX207_DRIVE_C"), dir.filePath(QStringLiteral("drive-c")));
    QFile::setPermissions(dir.filePath(QStringLiteral("runtime")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    QProcess p;
    p.setProcessEnvironment(env);
    p.setStandardErrorFile(QProcess::nullDevice());
    p.setWorkingDirectory(dir.path());
    QElapsedTimer clock;
    clock.start();
    p.start(program.path, {QString::fromLatin1(mode)});
    QByteArray line;
    while (!p.canReadLine() && clock.elapsed() < 20000)
        if (!p.waitForReadyRead(20000) && p.state() != QProcess::Running)
            break;
    if (p.canReadLine()) {
        s.wallMs = clock.nsecsElapsed() / 1e6;
        line = p.readLine().trimmed();
    }
    if (!p.waitForFinished(5000)) {
        p.kill();
        p.waitForFinished(2000);
    }
    const QList<QByteArray> words = line.split(' ');
    if (words.size() >= 2 && words[0] == mode) {
        s.ok = true;
        s.ownMs = words[1].toDouble();
        s.secondKb = words.value(2).toDouble();
    } else {
        std::printf("  %s: no \"%s\" line (got \"%s\", exit %d)\n", qPrintable(program.name),
                    mode.constData(), line.constData(), p.exitCode());
    }
    return s;
}

// Start to the first window, `runs` times each, tool and bare program alternating which goes first.
void StartUp(const Program& tool, const Program& bare, int runs, const QString& where) {
    std::vector<double> toolWall, bareWall, toolOwn, bareOwn, pairRatios;
    for (int i = 0; i < runs; ++i) {
        Sample t, b;
        if (i % 2 == 0) {
            t = RunOnce(tool, "ready");
            b = RunOnce(bare, "ready");
        } else {
            b = RunOnce(bare, "ready");
            t = RunOnce(tool, "ready");
        }
        if (!t.ok || !b.ok)
            continue;
        toolWall.push_back(t.wallMs);
        bareWall.push_back(b.wallMs);
        toolOwn.push_back(t.ownMs);
        bareOwn.push_back(b.ownMs);
        pairRatios.push_back(t.wallMs / b.wallMs);
    }
    if (toolWall.empty()) {
        std::printf("| start to login window, %s | no run completed | | |\n", qPrintable(where));
        return;
    }
    std::printf("| start to login window, %s (median of %zu; in-process part) | %.1f ms (%.0f ms) | "
                "%.1f ms (%.0f ms) | %.2f (pairwise median %.2f) |\n",
                qPrintable(where), toolWall.size(), Median(toolWall), Median(toolOwn), Median(bareWall),
                Median(bareOwn), Median(toolWall) / Median(bareWall), Median(pairRatios));
    std::fflush(stdout);
}

// Resident memory after 2 s of idling: the tool's main window after the login, the bare window.
void IdleMemory(const Program& tool, const Program& bare, int runs, const QString& where) {
    std::vector<double> toolRss, bareRss, toolHwm, bareHwm;
    for (int i = 0; i < runs; ++i) {
        const Sample t = RunOnce(tool, "idle");
        const Sample b = RunOnce(bare, "idle");
        if (!t.ok || !b.ok)
            continue;
        toolRss.push_back(t.ownMs);
        toolHwm.push_back(t.secondKb);
        bareRss.push_back(b.ownMs);
        bareHwm.push_back(b.secondKb);
    }
    if (toolRss.empty()) {
        std::printf("| idle memory, %s | no run completed | | |\n", qPrintable(where));
        return;
    }
    std::printf("| idle main window, VmRSS, %s (median of %zu) | %.1f MB | %.1f MB | %.2f |\n",
                qPrintable(where), toolRss.size(), Median(toolRss) / 1024, Median(bareRss) / 1024,
                Median(toolRss) / Median(bareRss));
    std::printf("| idle main window, VmHWM (peak), %s | %.1f MB | %.1f MB | %.2f |\n", qPrintable(where),
                Median(toolHwm) / 1024, Median(bareHwm) / 1024, Median(toolHwm) / Median(bareHwm));
    std::fflush(stdout);
}

// Runs another benchmark program and returns its output lines.
QStringList RunBenchmark(const QString& path) {
    QProcess p;
    p.setStandardErrorFile(QProcess::nullDevice());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.setProcessEnvironment(env);
    p.start(path, {});
    if (!p.waitForFinished(600000))
        p.kill();
    QStringList lines;
    for (const QByteArray& line : p.readAllStandardOutput().split('\n'))
        if (!line.trimmed().isEmpty())
            lines << QString::fromLocal8Bit(line);
    if (lines.isEmpty())
        lines << QStringLiteral("%1: no output (exit %2)").arg(path).arg(p.exitCode());
    return lines;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    int runs = 20;
    if (const qsizetype i = args.indexOf(QStringLiteral("--runs")); i > 0 && i + 1 < args.size())
        runs = std::max(1, args[i + 1].toInt());
    const bool exchanges = !args.contains(QStringLiteral("--no-exchanges"));
    // Internal: the run under xvfb-run, on the X server it started.
    const bool onDisplay = args.contains(QStringLiteral("--on-display"));

    const QString here = QCoreApplication::applicationDirPath();
    const Program tool{QStringLiteral("lmx207-bench-startup-probe"),
                       here + QStringLiteral("/lmx207-bench-startup-probe")};
    const Program bare{QStringLiteral("bench-bare-window"), here + QStringLiteral("/bench-bare-window")};
    for (const Program& p : {tool, bare})
        if (!QFileInfo(p.path).isExecutable()) {
            std::printf("%s not found at %s (build the target bench_startup)\n", qPrintable(p.name),
                        qPrintable(p.path));
            return 0;
        }

    if (onDisplay) {
        qputenv("QT_QPA_PLATFORM", "xcb");
        StartUp(tool, bare, runs, QStringLiteral("Xvfb"));
        IdleMemory(tool, bare, 5, QStringLiteral("Xvfb"));
        return 0;
    }

    std::printf("| figure | lmx207 | bare Qt window | ratio |\n|---|---|---|---|\n");
    std::fflush(stdout);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    StartUp(tool, bare, runs, QStringLiteral("offscreen"));
    IdleMemory(tool, bare, 5, QStringLiteral("offscreen"));

    const QString xvfbRun = QStandardPaths::findExecutable(QStringLiteral("xvfb-run"));
    if (!xvfbRun.isEmpty()) {
        QProcess p;
        p.setProcessChannelMode(QProcess::ForwardedOutputChannel);
        p.setStandardErrorFile(QProcess::nullDevice());
        p.start(xvfbRun, {QStringLiteral("-a"), QStringLiteral("-s"),
                          QStringLiteral("-screen 0 1280x1024x24"), QCoreApplication::applicationFilePath(),
                          QStringLiteral("--on-display"), QStringLiteral("--runs"), QString::number(runs)});
        if (!p.waitForFinished(600000))
            p.kill();
    } else {
        std::printf("| start to login window, Xvfb | xvfb-run not installed | | |\n");
    }
    std::fflush(stdout);

    if (!exchanges)
        return 0;
    for (const char* name : {"bench_config", "bench_records"}) {
        const QString path = here + QLatin1Char('/') + QString::fromLatin1(name);
        std::printf("\n%s:\n", name);
        if (!QFileInfo(path).isExecutable()) {
            std::printf("  not found at %s\n", qPrintable(path));
            continue;
        }
        std::fflush(stdout);
        for (const QString& line : RunBenchmark(path))
            std::printf("  %s\n", qPrintable(line));
    }
    return 0;
}
