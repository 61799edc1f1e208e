#include "logbook/LogbookCli.h"

#include "archive/Archive.h"
#include "archive/ArchiveFormat.h"
#include "archive/Import.h"
#include "logbook/CliOptions.h"
#include "logbook/LogbookLanguage.h"
#include "logbook/MatchCommand.h"
#include "logbook/PeriodReport.h"
#include "logbook/ServerCli.h"
#include "logbook/VisitReport.h"
#include "platform/SafeFile.h"

#include <QDate>
#include <QDateTime>
#include <QScopeGuard>
#include <QTextDocument>

#include <unistd.h>

namespace {

const char* const kUsage =
    "Usage:\n"
    "  lmx207-logbook                       the logbook's windows\n"
    "  lmx207-logbook import [--unit NAME] [--side local|remote] FILE|FOLDER...\n"
    "        keep the records of record files (any name; ASCII, GBK or UTF-8) in the archive, as\n"
    "        the records of unit NAME (a name, or the address code of a known unit; default: the\n"
    "        unit that holds the file's events already, else \"<folder> local\" or \"<folder> remote\"\n"
    "        after the file's folder and side); a file is taken by its content, the side from\n"
    "        --side, else from the file's name (Local, Remote, 本地, 对端); a folder is searched at\n"
    "        any depth, and each of its files not taken is listed on standard error with the\n"
    "        reason; a named file that cannot be taken makes the exit status 1\n"
    "  lmx207-logbook export [--unit NAME] [--side local|remote] [--from DATE] [--to DATE]\n"
    "                        [--format csv|json] [-o FILE]\n"
    "        the events, unit by unit, each unit's oldest first (DATE as 2026-12-07 or as the\n"
    "        record files write it, 2026-12-7: whole days on the unit's clock); CSV columns: unit,\n"
    "        side, time, code, English text, Chinese text, first seen (PC time, UTC), visit\n"
    "  lmx207-logbook visits                the visits, newest first, each with its #N last\n"
    "  lmx207-logbook report --visit N [--lang en|zh] [-o FILE.pdf]\n"
    "        the printable report of visit N (A4 PDF), in English or Chinese (default: the\n"
    "        language the logbook shows)\n"
    "  lmx207-logbook report --unit NAME --from DATE --to DATE [--lang en|zh] [-o FILE.pdf]\n"
    "        the report of one unit over whole days (PC dates; its events by its clock): its\n"
    "        events counted, the configurations read and written, its clock readings, the\n"
    "        actions sent to it\n"
    "  lmx207-logbook report --local NAME --remote NAME --from DATE --to DATE [--lang en|zh]\n"
    "                        [-o FILE.pdf]\n"
    "        the report of a link over whole days of the local unit's clock (NAME as match takes\n"
    "        it): the clocks' segments, each command's figures both ways, the lost and unwanted\n"
    "        commands on both clocks, the events the other log does not cover\n"
    "  lmx207-logbook match [--visit N | --local NAME --remote NAME] [--format csv|json] [-o FILE]\n"
    "        both ends of a link: each command sent at one unit matched with its receipt at the\n"
    "        other across the two clocks, the commands lost and unwanted, the clocks' offset\n"
    "  lmx207-logbook --help                this text\n";

// What --help says of every command, after the commands of the team archive.
const char* const kUsageNotes =
    "A command that writes a file writes FILE whole or not at all with -o FILE (--output FILE),\n"
    "  and standard output without it (report refuses a terminal). N is a visit's number as visits,\n"
    "  the window and report show it (#12 or 12), or its id. DATE is a whole day, 2026-12-07 or\n"
    "  2026-12-7; a time of day is refused. Options take their value as the next word or after\n"
    "  \"=\" (--unit=NAME); \"--\" ends the options.\n"
    "Every command but server init takes --archive FILE to use another archive than\n"
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
    QString output; // -o FILE: written whole in its place; empty: standard output
    QStringList operands;
};

// The options of `command` as its runner uses them; false, with a one-line reason, for bad ones.
bool TakeOptions(const QString& command, const QStringList& args, Options* o, QString* error) {
    const std::optional<CliArgs> parsed = ParseCliOptions(command, args, LogbookOptions(), error);
    if (!parsed)
        return false;
    o->operands = parsed->operands;
    o->unit = parsed->Value("--unit");
    o->archive = parsed->Value("--archive");
    if (parsed->Has("--side")) {
        const QString value = parsed->Value("--side");
        o->side = SideFromText(value);
        if (!o->side) {
            *error = QStringLiteral("--side takes local or remote, not \"%1\"").arg(value);
            return false;
        }
    }
    if (!CliPeriod(*parsed, &o->from, &o->to, error))
        return false;
    if (parsed->Has("--format")) {
        o->format = parsed->Value("--format");
        if (o->format != QLatin1String("csv") && o->format != QLatin1String("json")) {
            *error = QStringLiteral("--format takes csv or json, not \"%1\"").arg(o->format);
            return false;
        }
    }
    if (parsed->Has("--output")) {
        o->output = parsed->Value("--output");
        if (o->output.isEmpty()) {
            *error = QStringLiteral("-o needs a file name");
            return false;
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

// The unit `name` names: its name, its label, its address code, or "#id". std::nullopt with a
// message on io.err and *status set (1 no such unit, 2 the archive cannot be read).
std::optional<qint64> UnitNamed(Archive& archive, const QString& name, const Output& io, int* status) {
    const QList<UnitRow> units = archive.Units();
    if (!archive.LastError().isEmpty()) {
        *status = io.Fail(2, QStringLiteral("the archive cannot be read: %1").arg(archive.LastError()));
        return std::nullopt;
    }
    std::optional<qint64> id;
    for (const UnitRow& u : units)
        if (u.name == name || UnitLabel(u) == name || (u.address && QString::number(*u.address) == name) ||
            QStringLiteral("#%1").arg(u.id) == name)
            id = u.id;
    if (!id)
        *status = io.Fail(1, QStringLiteral("no unit called \"%1\" in the archive").arg(name));
    return id;
}

int ExportTo(const Options& o, const Output& io);

int Export(const Options& o, const Output& io0) {
    // With -o the whole export is kept in memory and the file replaced at the end, whole or not at all.
    char* fileBuf = nullptr;
    size_t fileLen = 0;
    std::FILE* toFile = o.output.isEmpty() ? nullptr : open_memstream(&fileBuf, &fileLen);
    if (!o.output.isEmpty() && !toFile)
        return io0.Fail(1, QStringLiteral("%1 cannot be written: out of memory").arg(o.output));
    const auto freeFile = qScopeGuard([&] {
        if (toFile)
            std::fclose(toFile);
        std::free(fileBuf);
    });
    const Output io{toFile ? toFile : io0.out, io0.err};
    const int status = ExportTo(o, io);
    if (status != 0 || !toFile)
        return status;
    std::fflush(toFile);
    QString why;
    if (!ReplaceFile(o.output, QByteArray::fromRawData(fileBuf, qsizetype(fileLen)), 0600,
                     InPlaceWrite::Never, &why))
        return io.Fail(1, QStringLiteral("%1 cannot be written: %2").arg(o.output, why));
    return 0;
}

int ExportTo(const Options& o, const Output& io) {
    if (!o.operands.isEmpty())
        return io.Fail(1, QStringLiteral("export takes no file names: -o FILE, or standard output"));
    Archive archive;
    if (!archive.Open(o.archive, Archive::Mode::ReadOnly))
        return io.Fail(2, QStringLiteral("the archive cannot be used: %1").arg(archive.LastError()));
    EventFilter filter;
    filter.side = o.side;
    filter.from = o.from;
    filter.to = o.to;
    if (!o.unit.isEmpty()) {
        int status = 0;
        filter.unitId = UnitNamed(archive, o.unit, io, &status);
        if (!filter.unitId)
            return status;
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
             "config reads\tclock readings\tactions\tvisit\tnumber\n");
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
                                 QString::number(v.actions), v.uuid, QStringLiteral("#%1").arg(v.id)}
                         .join('\t')
                         .toUtf8() +
                     '\n');
        }
        if (visits.size() < kPage)
            break;
    }
    return 0;
}

// report: the PDF of a visit, of a unit over days, or of a link over days, to -o FILE or to
// standard output (never to a terminal).
int Report(const QStringList& args, const Output& io) {
    QString error;
    const std::optional<CliArgs> parsed =
        ParseCliOptions(QStringLiteral("report"), args, LogbookOptions(), &error);
    if (!parsed)
        return io.Fail(1, error);
    const QString what = QStringLiteral("--visit N, --unit NAME, or --local NAME and --remote NAME");
    if (!parsed->operands.isEmpty())
        return io.Fail(1, QStringLiteral("report takes %1, not \"%2\"").arg(what, parsed->operands[0]));
    std::optional<Lang> chosen; // --lang; without it the language the logbook shows
    if (parsed->Has("--lang")) {
        chosen = LangFromCode(parsed->Value("--lang"));
        if (!chosen)
            return io.Fail(1,
                           QStringLiteral("--lang takes en or zh, not \"%1\"").arg(parsed->Value("--lang")));
    }
    const bool byVisit = parsed->Has("--visit");
    const bool byUnit = parsed->Has("--unit");
    const bool byLink = parsed->Has("--local") || parsed->Has("--remote");
    if (int(byVisit) + int(byUnit) + int(byLink) != 1 ||
        (byLink && (parsed->Value("--local").isEmpty() || parsed->Value("--remote").isEmpty())))
        return io.Fail(1, QStringLiteral("report takes %1").arg(what));
    QString visit = parsed->Value("--visit").trimmed();
    if (visit.startsWith(QLatin1Char('#')))
        visit.remove(0, 1);
    if (byVisit && visit.isEmpty())
        return io.Fail(1, QStringLiteral("--visit takes a visit's number or id"));
    if (byUnit && parsed->Value("--unit").isEmpty())
        return io.Fail(1, QStringLiteral("--unit takes a unit's name or address"));
    QDate from, to;
    if (!CliPeriod(*parsed, &from, &to, &error))
        return io.Fail(1, error);
    if (byVisit && (from.isValid() || to.isValid()))
        return io.Fail(1, QStringLiteral("a visit's report takes no --from or --to"));
    if (!byVisit && !(from.isValid() && to.isValid()))
        return io.Fail(1, QStringLiteral("report of a unit or a link needs --from DATE and --to DATE"));
    const QString output = parsed->Value("--output");
    if (parsed->Has("--output") && output.isEmpty())
        return io.Fail(1, QStringLiteral("-o needs a file name"));
    if (output.isEmpty() && ::isatty(::fileno(io.out)))
        return io.Fail(1,
                       QStringLiteral("report writes a PDF: give -o FILE.pdf, or send standard output to a "
                                      "file or a program"));

    Archive archive;
    if (!archive.Open(parsed->Value("--archive"), Archive::Mode::ReadOnly))
        return io.Fail(2, QStringLiteral("the archive cannot be used: %1").arg(archive.LastError()));
    const QString archivePath = archive.Path();
    qint64 id = 0, remoteId = 0;
    QString subject; // for the line that says where the report went
    if (byVisit) {
        // The visit's number, or its id as `lmx207-logbook visits` prints it.
        const std::optional<qint64> v = VisitIdOf(archive, visit);
        if (!v)
            return archive.LastError().isEmpty()
                       ? io.Fail(1, QStringLiteral("visit %1 is not in the archive").arg(visit))
                       : io.Fail(2,
                                 QStringLiteral("the archive cannot be read: %1").arg(archive.LastError()));
        id = *v;
        subject = QStringLiteral("visit #%1").arg(id);
    } else if (byUnit) {
        int status = 0;
        const std::optional<qint64> u = UnitNamed(archive, parsed->Value("--unit"), io, &status);
        if (!u)
            return status;
        id = *u;
        subject = parsed->Value("--unit");
    } else {
        LinkEnds ends;
        if (!LinkOfUnits(archive, parsed->Value("--local"), parsed->Value("--remote"), &ends, &error))
            return archive.LastError().isEmpty()
                       ? io.Fail(1, error)
                       : io.Fail(2, QStringLiteral("the archive cannot be read: %1").arg(error));
        id = ends.local.id;
        remoteId = ends.remote.id;
        subject = QStringLiteral("the link %1 - %2").arg(UnitLabel(ends.local), UnitLabel(ends.remote));
    }
    archive.Close();

    const Lang lang = chosen.value_or(StoredLanguage());
    QByteArray pdf;
    if (byVisit) {
        VisitReportData data;
        if (!LoadVisitReport(archivePath, id, lang, &data, &error))
            return io.Fail(2, error);
        pdf = ReportPdf(VisitReportDocument(data, lang).get(), VisitReportTitle(id, lang));
    } else {
        pdf = PeriodReportPdf(archivePath, id, remoteId, from, to, lang, &error);
        if (pdf.isEmpty())
            return io.Fail(2, error);
    }
    if (output.isEmpty()) {
        io.Write(pdf);
        std::fflush(io.out);
        return std::ferror(io.out) ? io.Fail(1, QStringLiteral("standard output cannot be written")) : 0;
    }
    if (!SaveReportPdf(pdf, output, lang, &error))
        return io.Fail(1, error);
    io.Write(QStringLiteral("report of %1 written to %2\n").arg(subject, output).toUtf8());
    return 0;
}

} // namespace

int RunLogbookCommand(const QStringList& args, std::FILE* out, std::FILE* err) {
    const Output io{out, err};
    if (args.isEmpty() || args[0] == QLatin1String("--help") || args[0] == QLatin1String("-h") ||
        args[0] == QLatin1String("help")) {
        std::fputs(kUsage, out);
        std::fputs(kServerUsage, out);
        std::fputs(kUsageNotes, out);
        return 0;
    }
    const QString command = args[0];
    if (command == QLatin1String("sync") || command == QLatin1String("server"))
        return RunServerCommand(args, out, err);
    const QStringList rest = args.mid(1);
    if (command == QLatin1String("report"))
        return Report(rest, io);
    if (command == QLatin1String("match"))
        return RunMatchCommand(rest, out, err);
    if (command != QLatin1String("import") && command != QLatin1String("export") &&
        command != QLatin1String("visits")) {
        std::fputs(("lmx207-logbook: unknown command \"" + command + "\"\n").toLocal8Bit().constData(), err);
        std::fputs(kUsage, err);
        return 1;
    }
    Options o;
    QString error;
    if (!TakeOptions(command, rest, &o, &error))
        return io.Fail(1, error);
    if (command == QLatin1String("import"))
        return Import(o, io);
    if (command == QLatin1String("export"))
        return Export(o, io);
    return Visits(o, io);
}
