#include "logbook/MatchCommand.h"

#include "archive/Archive.h"
#include "archive/ArchiveFormat.h"
#include "archive/MatchOutput.h"
#include "archive/Matching.h"
#include "logbook/CliOptions.h"
#include "platform/SafeFile.h"

namespace {

int Fail(std::FILE* err, int status, const QString& message) {
    std::fputs(("lmx207-logbook: " + message + '\n').toLocal8Bit().constData(), err);
    return status;
}

} // namespace

int RunMatchCommand(const QStringList& args, std::FILE* out, std::FILE* err) {
    QString error;
    const std::optional<CliArgs> parsed =
        ParseCliOptions(QStringLiteral("match"), args, LogbookOptions(), &error);
    if (!parsed)
        return Fail(err, 1, error);
    if (!parsed->operands.isEmpty())
        return Fail(err, 1, QStringLiteral("match takes no operands"));
    const QString format = parsed->Has("--format") ? parsed->Value("--format") : QStringLiteral("csv");
    const QString output = parsed->Value("--output");
    if (parsed->Has("--output") && output.isEmpty())
        return Fail(err, 1, QStringLiteral("-o needs a file name"));
    QString visit = parsed->Value("--visit").trimmed();
    if (visit.startsWith(QLatin1Char('#'))) // the number as `visits` and the window show it
        visit.remove(0, 1);
    const QString local = parsed->Value("--local");
    const QString remote = parsed->Value("--remote");
    const QString archivePath = parsed->Value("--archive");
    if (format != QLatin1String("csv") && format != QLatin1String("json"))
        return Fail(err, 1, QStringLiteral("--format takes csv or json, not \"%1\"").arg(format));
    const bool byVisit = parsed->Has("--visit");
    const bool byUnits = parsed->Has("--local") || parsed->Has("--remote");
    if (byVisit == byUnits || (byUnits && (local.isEmpty() || remote.isEmpty())))
        return Fail(err, 1, QStringLiteral("match takes --visit N, or --local NAME and --remote NAME"));
    if (byVisit && visit.isEmpty())
        return Fail(err, 1, QStringLiteral("--visit takes a visit's number or id"));

    Archive archive;
    if (!archive.Open(archivePath, Archive::Mode::ReadOnly))
        return Fail(err, 2, QStringLiteral("the archive cannot be used: %1").arg(archive.LastError()));
    qint64 visitId = 0;
    if (byVisit) {
        const std::optional<qint64> id = VisitIdOf(archive, visit);
        if (!id)
            return archive.LastError().isEmpty()
                       ? Fail(err, 1, QStringLiteral("visit %1 is not in the archive").arg(visit))
                       : Fail(err, 2,
                              QStringLiteral("the archive cannot be read: %1").arg(archive.LastError()));
        visitId = *id;
    }
    LinkEnds ends;
    if (!(byVisit ? LinkOfVisit(archive, visitId, &ends, &error)
                  : LinkOfUnits(archive, local, remote, &ends, &error)))
        return archive.LastError().isEmpty()
                   ? Fail(err, 1, error)
                   : Fail(err, 2, QStringLiteral("the archive cannot be read: %1").arg(error));
    LinkEvents events;
    // A visit is matched on what the archive held as of it, so its answer never changes later.
    if (!ReadLinkEvents(archive, ends, &events, &error,
                        byVisit ? std::optional<qint64>(visitId) : std::nullopt))
        return Fail(err, 2, QStringLiteral("the archive cannot be read: %1").arg(error));
    const LinkMatch match = MatchLink(events);
    const QByteArray text = format == QLatin1String("json") ? MatchJson(match, ends) : MatchCsv(match, ends);
    if (!output.isEmpty()) {
        QString why;
        if (!ReplaceFile(output, text, 0600, InPlaceWrite::Never, &why))
            return Fail(err, 1, QStringLiteral("%1 cannot be written: %2").arg(output, why));
    } else {
        std::fwrite(text.constData(), 1, size_t(text.size()), out);
        std::fflush(out);
        if (std::ferror(out))
            return Fail(err, 1, QStringLiteral("standard output cannot be written"));
    }
    if (match.basis == OffsetBasis::OneWay)
        Fail(err, 0,
             QStringLiteral("the commands went one way only: the times shown are apparent delays, which "
                            "cannot be split into clock offset and transfer time"));
    else if (match.basis == OffsetBasis::None || match.basis == OffsetBasis::Readings)
        Fail(err, 0,
             QStringLiteral("no command of %1 matched one of %2: %3")
                 .arg(UnitLabel(ends.local), UnitLabel(ends.remote),
                      match.basis == OffsetBasis::None
                          ? QStringLiteral("no offset")
                          : QStringLiteral("the offset is the clock readings'")));
    return 0;
}
