#pragma once

// The two lines a start-up probe prints for bench_startup, shared by the tool's probe and the bare
// window program so that both measure the same way. Each ends the process at once with status 0.

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>
#include <cstring>
#include <unistd.h>

// The probe's one argument: "ready" or "idle". Anything else prints the usage and gives false.
inline bool ParseProbeMode(int argc, char** argv, bool* idle) {
    *idle = argc == 2 && std::strcmp(argv[1], "idle") == 0;
    if (*idle || (argc == 2 && std::strcmp(argv[1], "ready") == 0))
        return true;
    std::fprintf(stderr, "usage: %s ready|idle\n", argv[0]);
    return false;
}

// The probe's clock, started while static objects are built (before main(), once the program and
// its libraries are loaded).
inline QElapsedTimer& StartupClock() {
    static QElapsedTimer clock;
    return clock;
}
inline const bool g_startupClockStarted = (StartupClock().start(), true);

// "ready <ms since the program was loaded>"
[[noreturn]] inline void ReportReady() {
    std::printf("ready %lld\n", static_cast<long long>(StartupClock().elapsed()));
    std::fflush(stdout);
    ::_exit(0);
}

// "idle <VmRSS kB> <VmHWM kB>"
[[noreturn]] inline void ReportIdle() {
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    QByteArray rss = "0", hwm = "0";
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            rss = line.mid(6).trimmed().split(' ').value(0);
        if (line.startsWith("VmHWM:"))
            hwm = line.mid(6).trimmed().split(' ').value(0);
    }
    std::printf("idle %s %s\n", rss.constData(), hwm.constData());
    std::fflush(stdout);
    ::_exit(0);
}
