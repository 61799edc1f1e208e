// lmx207-sim: a simulated pair of LMX-207 units on a pseudo-terminal.

#include "sim/SimPtyServer.h"
#include "sim/SimTraffic.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <algorithm>
#include <csignal>
#include <cstdio>

namespace {

const char* const kDescription =
    R"(Simulated pair of LMX-207 units: a local unit on a pseudo-terminal and a remote
unit behind it on a simulated optical link. Prints the pseudo-terminal's path on
stdout (one line) and answers on it until SIGINT or SIGTERM.

Point the tool at it with LMX207_COM1=<path> (or use --link for a fixed path).

Answers (local command -> answer; the remote twin answers with the local command byte):
  86 -> 79                  identification
  87 -> 78 N records        local event log (N = 0..255, 8 bytes a record)
  88 -> 77                  clears the local log
  89 -> 76 + 8 bytes        local configuration (flags, address, delay codes)
  90 -> 6F + 6 BCD bytes    local date and time (YY MM DD hh mm ss)
  91 -> 6E, then the date (3 BCD bytes or FF = unchanged) and the time (same)
  92 -> 6D, then the 7-byte configuration block
  76 -> 89 ..., 6F -> 90 ..., 6E -> 91 ..., 6D -> 92 ...   the same for the remote unit
  78 -> 87 N records        remote event log (at most 254 records: 255 marks busy)
  77 -> 88                  clears the remote log
Bytes sent after an invitation are data, never commands; data left incomplete for
3 s is dropped. Other bytes get no answer.

Writes: a date/time write with any invalid BCD digit or an impossible date or time
(month 13, 31 April, hour 24, ...) is ignored as a whole; the clock keeps running.
A configuration block with an address above 65000 is ignored as a whole. A 4-command
unit keeps no codes for commands 5 to 8.

Defaults: both units have 8 commands; local address 300 with the example delay
settings (answer 76 01 01 2C 81 E4 55 1B 00), remote address 301; each log holds 42
records covering every event code 1..38 and the invalid codes 0, 39, 128, 255. The
clocks start at the PC's local time and run.

Traffic (--traffic N): the link has carried N commands before the program starts,
one a minute or so, the last just now. When one unit logged "Send Command k" the
other logged "Receive Command k" a transfer time later (10 ms +- 2 ms by default),
and 100 ms later each logged the command's return the same way; commands go
alternately local -> remote and remote -> local (see --traffic-ways), command 1 to
8 in turn. Each unit stamps them on its own clock: the PC's local time plus its
clock offset, drifting by its rate before now; the clocks then run from their
offsets. The traffic is logged on top of the seeded records (which hold commands
of their own in 2024): add --local-records 0 --remote-records 0 for traffic alone.
A remote log answer carries at most 254 records, so keep N within 127.

The wire log has one line per batch: time, PC->unit or unit->PC, hex bytes.)";

int parseInt(const QCommandLineParser& parser, const QString& name, int lo, int hi, int fallback) {
    if (!parser.isSet(name))
        return fallback;
    bool ok = false;
    const QString text = parser.value(name);
    const int value = text.startsWith(QLatin1String("0x")) ? text.mid(2).toInt(&ok, 16) : text.toInt(&ok);
    if (!ok || value < lo || value > hi) {
        fprintf(stderr, "lmx207-sim: --%s must be %d to %d, not \"%s\"\n", qPrintable(name), lo, hi,
                qPrintable(text));
        exit(2);
    }
    return value;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("lmx207-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    parser.addHelpOption();
    const auto opt = [&](const char* name, const char* help, const char* value = nullptr) {
        parser.addOption(value ? QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(help),
                                                    QString::fromLatin1(value))
                               : QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(help)));
    };
    opt("local-commands", "Commands of the local unit: 4 or 8 (default 8).", "n");
    opt("remote-commands", "Commands of the remote unit: 4 or 8 (default 8).", "n");
    opt("local-address", "Address code of the local unit, 0..65000 (default 300).", "code");
    opt("remote-address", "Address code of the remote unit, 0..65000 (default 301).", "code");
    opt("local-records", "Records in the local log, 0..255 (default 42).", "n");
    opt("remote-records", "Records in the remote log, 0..255 (default 42; answers send at most 254).", "n");
    opt("silent", "Fault: no answer at all; nothing is applied.");
    opt("late", "Fault: every answer starts late (see --late-ms).");
    opt("late-ms", "Delay of --late in ms, 0..60000 (default 300).", "ms");
    opt("split", "Fault: answers come in arbitrary batches of 1-6 bytes with 2-13 ms gaps.");
    opt("wrong-first-byte", "Fault: the answer byte of every answer is replaced (see --wrong-byte); a "
                            "garbled invitation expects no data, so the next byte is a command again.");
    opt("wrong-byte", "Replacement of --wrong-first-byte, 0..255 or 0x00..0xFF (default 0x00).", "byte");
    opt("remote-unreachable", "Fault: the remote configuration read is answered 89 <flags> FF.");
    opt("remote-busy", "Fault: the remote record read is answered 87 FF.");
    opt("cable-pulled", "Fault: the first answer stops after half its bytes; nothing after that.");
    opt("full-local-log", "Fault: the local log holds 255 records (a 2042-byte answer).");
    opt("traffic", "Commands the link carried before now, 0..1000 (default 0: none).", "n");
    opt("transfer-ms", "Transfer time of a command over the link in ms, 0..10000 (default 10).", "ms");
    opt("transfer-jitter-ms",
        "Each transfer varies by up to this many ms either way, 0..transfer (default 2).", "ms");
    opt("traffic-spacing-ms", "Time between commands in ms, 1000..86400000 (default 60000), plus up to 5 s.",
        "ms");
    opt("traffic-ways",
        "Which way commands go: both (alternately), local (local -> remote) or remote "
        "(remote -> local); default both.",
        "ways");
    opt("local-clock-offset-ms", "The local unit's clock minus the PC's local time in ms (default 0).", "ms");
    opt("remote-clock-offset-ms", "The remote unit's clock minus the PC's local time in ms (default 0).",
        "ms");
    opt("local-drift-ms-per-day",
        "How much faster the local clock ran than the PC's before now, ms a day, "
        "-100000..100000 (default 0).",
        "ms");
    opt("remote-drift-ms-per-day", "The same for the remote clock (default 0).", "ms");
    opt("local-clock-set-after", "The local clock was set after command n of the traffic (default: never).",
        "n");
    opt("local-clock-set-ms", "By how much that set moved the local clock, ms (default 3600000).", "ms");
    opt("remote-clock-set-after", "The remote clock was set after command n of the traffic (default: never).",
        "n");
    opt("remote-clock-set-ms", "By how much that set moved the remote clock, ms (default 3600000).", "ms");
    opt("lose-command", "Fault: command n of the traffic (1 = the first) never arrives; repeat for more.",
        "n");
    opt("invent-command",
        "Fault: 2.5 s after command n the receiving unit logs one more receive of it (and "
        "its return) that nobody sent; repeat for more.",
        "n");
    opt("no-pacing", "Send answers at once instead of at 9600 baud (about 1.04 ms a byte).");
    opt("wire-log", "Append the wire log to this file; \"-\" for stderr.", "file");
    opt("link", "Also make a symbolic link to the pseudo-terminal here (removed at exit).", "path");
    parser.process(app);

    SimFaults faults;
    faults.silent = parser.isSet(QStringLiteral("silent"));
    faults.late = parser.isSet(QStringLiteral("late"));
    faults.lateMs = parseInt(parser, QStringLiteral("late-ms"), 0, 60000, 300);
    faults.split = parser.isSet(QStringLiteral("split"));
    faults.wrongFirstByte = parser.isSet(QStringLiteral("wrong-first-byte"));
    faults.wrongByte = quint8(parseInt(parser, QStringLiteral("wrong-byte"), 0, 255, 0));
    faults.remoteUnreachable = parser.isSet(QStringLiteral("remote-unreachable"));
    faults.remoteBusy = parser.isSet(QStringLiteral("remote-busy"));
    faults.cablePulled = parser.isSet(QStringLiteral("cable-pulled"));
    faults.fullLocalLog = parser.isSet(QStringLiteral("full-local-log"));

    const auto commands = [&](const char* name) {
        const int n = parseInt(parser, QString::fromLatin1(name), 4, 8, 8);
        if (n != 4 && n != 8) {
            fprintf(stderr, "lmx207-sim: --%s must be 4 or 8\n", name);
            exit(2);
        }
        return n;
    };
    const int localCommands = commands("local-commands");
    const int remoteCommands = commands("remote-commands");
    const int localAddress = parseInt(parser, QStringLiteral("local-address"), 0, 65000, 300);
    const int remoteAddress = parseInt(parser, QStringLiteral("remote-address"), 0, 65000, 301);
    const int localRecords = parseInt(parser, QStringLiteral("local-records"), 0, 255, 42);
    const int remoteRecords = parseInt(parser, QStringLiteral("remote-records"), 0, 255, 42);

    SimTraffic traffic;
    traffic.commands = parseInt(parser, QStringLiteral("traffic"), 0, 1000, 0);
    traffic.transferMs = parseInt(parser, QStringLiteral("transfer-ms"), 0, 10000, 10);
    traffic.jitterMs = parseInt(parser, QStringLiteral("transfer-jitter-ms"), 0, traffic.transferMs,
                                std::min(2, traffic.transferMs));
    traffic.spacingMs = parseInt(parser, QStringLiteral("traffic-spacing-ms"), 1000, 86'400'000, 60'000);
    const QString ways = parser.value(QStringLiteral("traffic-ways"));
    if (ways == QLatin1String("local"))
        traffic.ways = SimTraffic::Ways::LocalToRemote;
    else if (ways == QLatin1String("remote"))
        traffic.ways = SimTraffic::Ways::RemoteToLocal;
    else if (!ways.isEmpty() && ways != QLatin1String("both")) {
        fprintf(stderr, "lmx207-sim: --traffic-ways must be both, local or remote, not \"%s\"\n",
                qPrintable(ways));
        exit(2);
    }
    constexpr int kMaxOffset = 2'000'000'000;
    traffic.localClockOffsetMs =
        parseInt(parser, QStringLiteral("local-clock-offset-ms"), -kMaxOffset, kMaxOffset, 0);
    traffic.remoteClockOffsetMs =
        parseInt(parser, QStringLiteral("remote-clock-offset-ms"), -kMaxOffset, kMaxOffset, 0);
    traffic.localDriftMsPerDay =
        parseInt(parser, QStringLiteral("local-drift-ms-per-day"), -100000, 100000, 0);
    traffic.remoteDriftMsPerDay =
        parseInt(parser, QStringLiteral("remote-drift-ms-per-day"), -100000, 100000, 0);
    traffic.localClockSetAfter =
        parseInt(parser, QStringLiteral("local-clock-set-after"), 0, std::max(traffic.commands, 0), 0);
    traffic.localClockSetMs =
        parseInt(parser, QStringLiteral("local-clock-set-ms"), -kMaxOffset, kMaxOffset, 3600000);
    traffic.remoteClockSetAfter =
        parseInt(parser, QStringLiteral("remote-clock-set-after"), 0, std::max(traffic.commands, 0), 0);
    traffic.remoteClockSetMs =
        parseInt(parser, QStringLiteral("remote-clock-set-ms"), -kMaxOffset, kMaxOffset, 3600000);
    for (const char* name : {"lose-command", "invent-command"})
        for (const QString& value : parser.values(QString::fromLatin1(name))) {
            bool ok = false;
            const int n = value.toInt(&ok);
            if (!ok || n < 1 || n > traffic.commands) {
                fprintf(stderr, "lmx207-sim: --%s must be 1 to --traffic (%d), not \"%s\"\n", name,
                        traffic.commands, qPrintable(value));
                exit(2);
            }
            (name[0] == 'l' ? traffic.lose : traffic.invent) << n;
        }
    const bool clocksOrTraffic =
        traffic.commands > 0 || traffic.localClockOffsetMs != 0 || traffic.remoteClockOffsetMs != 0;

    SimPtyServer server;
    server.setPacing(!parser.isSet(QStringLiteral("no-pacing")));
    server.setWireLogPath(parser.value(QStringLiteral("wire-log")));
    server.setLinkPath(parser.value(QStringLiteral("link")));
    server.withPair([&](SimPair& pair) {
        pair.local().commands = localCommands;
        pair.remote().commands = remoteCommands;
        pair.local().address = localAddress;
        pair.remote().address = remoteAddress;
        pair.local().seedLog(localRecords);
        pair.remote().seedLog(remoteRecords);
        pair.setFaults(faults);
        if (clocksOrTraffic)
            AddSimTraffic(pair, traffic, QDateTime::currentDateTime());
    });

    // The server thread inherits this mask, so the signals reach sigwait() below only.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    QString error;
    if (!server.start(&error)) {
        fprintf(stderr, "lmx207-sim: %s\n", qPrintable(error));
        return 1;
    }
    printf("%s\n", qPrintable(server.slavePath()));
    fflush(stdout);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    server.stop();
    return 0;
}
