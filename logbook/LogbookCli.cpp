#include "logbook/LogbookCli.h"

#include "archive/Archive.h"
#include "archive/ArchiveFormat.h"
#include "archive/Import.h"
#include "logbook/MatchCommand.h"
#include "logbook/ServerCli.h"
#include "logbook/VisitReport.h"

#include <QDate>
#include <QDateTime>

namespace {

const char* const kUsage =
    "Usage:\n"
    "  lmx207-logbook                       the logbook's windows\n"
    "  lmx207-logbook import [--unit NAME] [--side local|remote] FILE|FOLDER...\n"
    "        keep the records of record files (any name; ASCII, GBK or UTF-8) in the archive, as\n"
    "        the records of unit NAME (a name, or the address code of a known unit; default: the\n"
    "        unit that holds the file's events already, else one named after the file's folder and\n"
    "        side); the side from the file's name (Local, Remote, 本地, 对端) unless --side gives\n"
    "        it; a folder is searched at any depth, and each of its files not taken is listed on\n"
    "        standard error with the reason\n"
    "  lmx207-logbook export [--unit NAME] [--side local|remote] [--from DATE] [--to DATE]\n"
    "                        [--format csv|json]\n"
    "        write the events to standard output, unit by unit, each unit's oldest first (DATE\n"
    "        as 2026-12-07, on the unit's clock); CSV columns: unit, side, time, code, English\n"
    "        text, Chinese text, first seen (PC time, UTC), visit\n"
    "  lmx207-logbook visits                the visits, newest first\n"
    "  lmx207-logbook report --visit N -o FILE.pdf\n"
    "        the printable report of visit N (A4 PDF) in the language the logbook shows\n"
    "  lmx207-logbook match [--visit N | --local NAME --remote NAME] [--format csv|json]\n"
    "        both ends of a link: each command sent at one unit matched with its receipt at the\n"
    "        other across the two clocks, the commands lost and unwanted, the clocks' offset\n"
    "  lmx207-logbook --help                this text\n"
    "Every command takes --archive FILE to use another archive than\n"
    "  $XDG_DATA_HOME/lmx207/logbook.sqlite (default ~/.local/share/lmx207/logbook.sqlite).\n"
    "Exit status: 0 done, 1 bad input, 2 the archive cannot be used.\n";

struct Output {
    std::FILE* out;
    std::FILE* err;
    void Write(const QByteArray& bytes) const {
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), out);
    }
    int Fail(int status, const QString& message) const {
        std::fputs(("lmx207-logbook: " + message + '\n').toLocal8Bit().constData(), err);
        return status;
    }
};

// The options a command allows, taken from `args`; the rest are operands.
struct Options {
    QString unit;
    std::optional<UnitSide> side;
    QDate from;
    QDate to;
    QString format = QStringLiteral("csv");
    QString archive;
    QStringList operands;
};

bool TakeOptions(const QStringList& args, const QStringList& allowed, Options* o, QString* error) {
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (!a.startsWith(QLatin1String("--")) || a == QLatin1String("--")) {
            if (a != QLatin1String("--"))
                o->operands << a;
            else
                o->operands << args.mid(i + 1);
            if (a == QLatin1String("--"))
                break;
            continue;
        }
        QString name = a;
        QString value;
        const qsizetype eq = a.indexOf('=');
        if (eq > 0) {
            name = a.left(eq);
            value = a.mid(eq + 1);
        } else if (allowed.contains(name)) {
            if (i + 1 >= args.size()) {
                *error = QStringLiteral("%1 needs a value").arg(name);
                return false;
            }
            value = args[++i];
        }
        if (!allowed.contains(name)) {
            *error = QStringLiteral("unknown option %1").arg(name);
            return false;
        }
        if (name == QLatin1String("--unit")) {
            o->unit = value;
        } else if (name == QLatin1String("--side")) {
            o->side = SideFromText(value);
            if (!o->side) {
                *error = QStringLiteral("--side takes local or remote, not \"%1\"").arg(value);
                return false;
            }
        } else if (name == QLatin1String("--from") || name == QLatin1String("--to")) {
            const QDate d = QDate::fromString(value, Qt::ISODate);
            if (!d.isValid()) {
                *error = QStringLiteral("%1 takes a date like 2026-12-07, not \"%2\"").arg(name, value);
                return false;
            }
            (name == QLatin1String("--from") ? o->from : o->to) = d;
        } else if (name == QLatin1String("--format")) {
            if (value != QLatin1String("csv") && value != QLatin1String("json")) {
                *error = QStringLiteral("--format takes csv or json, not \"%1\"").arg(value);
                return false;
            }
            o->format = value;
        } else if (name == QLatin1String("--archive")) {
            o->archive = value;
        }
    }
    return true;
}

int Import(const Options& o, const Output& io) {
    if (o.operands.isEmpty())
        return io.Fail(1, QStringLiteral("import needs at least one file or folder"));
    Archive archive;
    if (!archive.Open(o.archive, Archive::Mode::ReadWrite))
        return io.Fail(2, QStringLiteral("the archive cannot be used: %1").arg(archive.LastError()));
    if (!archive.SetAsideAs().isEmpty())
        io.Fail(0, QStringLiteral("%1 was damaged: kept as %2, a new archive started")
                       .arg(archive.Path(), archive.SetAsideAs()));
    ImportOptions options;
    options.unitName = o.unit;
    options.side = o.side;
    ImportReport report;
    if (!ImportRecordPaths(archive, o.operands, options, &report))
        return io.Fail(2, QStringLiteral("the archive cannot be written: %1").arg(archive.LastError()));
    io.Write(QStringLiteral("%1 file(s) imported, %2 unchanged; %3 record(s) read, %4 new event(s)\n")
                 .arg(report.filesImported)
                 .arg(report.filesUnchanged)
                 .arg(report.events)
                 .arg(report.newEvents)
                 .toUtf8());
    for (const QString& line : report.skipped)
        io.Fail(0, QStringLiteral("skipped: %1").arg(line));
    for (const QString& line : report.refused)
        io.Fail(1, QStringLiteral("refused: %1").arg(line));
    return report.refused.isEmpty() ? 0 : 1;
}

int Export(const Options& o, const Output& io) {
    if (!o.operands.isEmpty())
        return io.Fail(1, QStringLiteral("export takes no file names: it writes to standard output"));
    if (o.from.isValid() && o.to.isValid() && o.from > o.to)
        return io.Fail(1, QStringLiteral("--from is after --to"));
    Archive archive;
    if (!archive.Open(o.archive, Archive::Mode::ReadOnly))
        return io.Fail(2, QStringLiteral("the archive cannot be used: %1").arg(archive.LastError()));
    EventFilter filter;
    filter.side = o.side;
    filter.from = o.from;
    filter.to = o.to;
    if (!o.unit.isEmpty()) {
        const QList<UnitRow> units = archive.Units();
        if (!archive.LastError().isEmpty())
            return io.Fail(2, QStringLiteral("the archive cannot be read: %1").arg(archive.LastError()));
        for (const UnitRow& u : units)
            if (u.name == o.unit || UnitLabel(u) == o.unit ||
                (u.address && QString::number(*u.address) == o.unit))
                filter.unitId = u.id;
        if (!filter.unitId)
            return io.Fail(1, QStringLiteral("no unit called \"%1\" in the archive").arg(o.unit));
    }
    const bool json = o.format == QLatin1String("json");
    io.Write(json ? QByteArrayLiteral("[") : CsvEventHeader());
    bool first = true;
    CsvEventWriter csv;
    QByteArray chunk;
    const bool ok =
        archive.ForEachEvent(filter, EventSort::Unit, Qt::AscendingOrder, [&](const EventRow& row) {
            if (json)
                chunk += (first ? QByteArrayLiteral("\n") : QByteArrayLiteral(",\n")) + JsonEventObject(row);
            else
                csv.Append(row, &chunk);
            first = false;
            if (chunk.size() < 64 * 1024)
                return true;
            io.Write(chunk);
            chunk.clear();
            return std::ferror(io.out) == 0;
        });
    io.Write(chunk);
    if (json)
        io.Write(first ? QByteArrayLiteral("]\n") : QByteArrayLiteral("\n]\n"));
    std::fflush(io.out);
    if (!ok)
        return io.Fail(2, QStringLiteral("the archive cannot be read: %1").arg(archive.LastError()));
    if (std::ferror(io.out))
        return io.Fail(1, QStringLiteral("standard output cannot be written"));
    return 0;
}

QString AddressText(const std::optional<int>& a) {
    return a ? QString::number(*a) : QStringLiteral("-");
}

int Visits(const Options& o, const Output& io) {
    if (!o.operands.isEmpty())
        return io.Fail(1, QStringLiteral("visits takes no arguments"));
    Archive archive;
    if (!archive.Open(o.archive, Archive::Mode::ReadOnly))
        return io.Fail(2, QStringLiteral("the archive cannot be used: %1").arg(archive.LastError()));
    io.Write("started (PC local time)\tuser@host\tport\tprogram\tlocal\tremote\treads\tnew events\t"
             "config reads\tclock readings\tactions\tvisit\n");
    constexpr int kPage = 500;
    for (int offset = 0;; offset += kPage) {
        const QList<VisitRow> visits = archive.Visits(offset, kPage);
        if (!archive.LastError().isEmpty())
            return io.Fail(2, QStringLiteral("the archive cannot be read: %1").arg(archive.LastError()));
        for (const VisitRow& v : visits) {
            const QDateTime local =
                QDateTime::fromMSecsSinceEpoch(v.started.utcMs, Qt::OffsetFromUTC, v.started.offsetSeconds);
            io.Write(QStringList{local.toString(Qt::ISODate), v.pcUser + '@' + v.pcHost, v.port, v.program,
                                 AddressText(v.localAddress), AddressText(v.remoteAddress),
                                 QString::number(v.recordReads), QString::number(v.newEvents),
                                 QString::number(v.configReads), QString::number(v.clockReadings),
                                 QString::number(v.actions), v.uuid}
                         .join('\t')
                         .toUtf8() +
                     '\n');
        }
        if (visits.size() < kPage)
            break;
    }
    return 0;
}

} // namespace

int RunLogbookCommand(const QStringList& args, std::FILE* out, std::FILE* err) {
    const Output io{out, err};
    if (args.isEmpty() || args[0] == QLatin1String("--help") || args[0] == QLatin1String("-h") ||
        args[0] == QLatin1String("help")) {
        std::fputs(kUsage, out);
        std::fputs(kServerUsage, out);
        return 0;
    }
    const QString command = args[0];
    if (command == QLatin1String("sync") || command == QLatin1String("server"))
        return RunServerCommand(args, out, err);
    const QStringList rest = args.mid(1);
    if (command == QLatin1String("report"))
        return RunReportCommand(rest, out, err);
    if (command == QLatin1String("match"))
        return RunMatchCommand(rest, out, err);
    QStringList allowed{QStringLiteral("--archive")};
    if (command == QLatin1String("import"))
        allowed << QStringLiteral("--unit") << QStringLiteral("--side");
    else if (command == QLatin1String("export"))
        allowed << QStringLiteral("--unit") << QStringLiteral("--side") << QStringLiteral("--from")
                << QStringLiteral("--to") << QStringLiteral("--format");
    else if (command != QLatin1String("visits")) {
        std::fputs(("lmx207-logbook: unknown command \"" + command + "\"\n").toLocal8Bit().constData(), err);
        std::fputs(kUsage, err);
        return 1;
    }
    Options o;
    QString error;
    if (!TakeOptions(rest, allowed, &o, &error))
        return io.Fail(1, error);
    if (command == QLatin1String("import"))
        return Import(o, io);
    if (command == QLatin1String("export"))
        return Export(o, io);
    return Visits(o, io);
}
