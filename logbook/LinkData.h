#pragma once

#include "archive/Matching.h"
#include "logbook/LinkPicture.h"
#include "platform/Lang.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

// What the link view and the visit report make of a link's match, in the terms they show. The
// picture, the counts table and the texts are plain functions of the match; the loaders read the
// archive at `path` on the calling thread (each opens its own read-only connection).

// A link read and matched: its two units, their events, and the match.
struct LinkResult {
    LinkEnds ends;
    std::shared_ptr<const LinkEvents> events;
    LinkMatch match;
    LinkPictureData picture;
    QString error; // why there is nothing to show, when there is not
};

// Reads the link of visit `visitId` (or of the two units, when no visit is given) and matches it.
LinkResult LoadLink(const QString& path, std::optional<qint64> visitId, qint64 localUnitId,
                    qint64 remoteUnitId, const MatchOptions& options, Lang lang);
// The same link matched again with other options (a hand correction), its events not read again.
LinkResult RematchLink(const LinkResult& before, const MatchOptions& options, Lang lang);

// The picture of a match: the local unit's events on lane 0, the remote unit's on lane 1 at their
// corrected times, matches paired, lost and unwanted commands flagged, fibre interruptions as bands.
// A mark's source is the index of its event in events.local or events.remote.
LinkPictureData LinkPictureOf(const LinkEvents& events, const LinkMatch& match, const LinkEnds& ends,
                              Lang lang);

// The span of the newest visit's events on the picture (those the latest visit that kept any of
// the link's events kept first), on the axis; std::nullopt when no mark has a visit.
std::optional<std::pair<double, double>> NewestVisitSpan(const LinkEvents& events,
                                                         const LinkPictureData& picture);

// "Local: Address 300" / "本地：地址 300".
QString LinkEndTitle(const UnitRow& unit, UnitSide side, Lang lang);

// A transfer time as the counts show it: "10.0 ms", "-" when there is none.
QString TransferCellText(const std::optional<double>& ms);
// The counts table's header and its rows, one per command that any event of the link names (all
// eight when none does): command, sent, received, matched, lost, unwanted, and the transfer time's
// median, 95th percentile and maximum.
QStringList CommandCountHeaders(Lang lang);
QList<QStringList> CommandCountRows(const LinkMatch& match, Lang lang);

// The offset as the view states it: its value, how it was found, the typical transfer time, and
// the clock readings' word on it.
QString OffsetStatement(const LinkMatch& match, Lang lang);

// What the view shows of a chosen mark: its record line and, when it has a pair, the pair's line
// and the transfer time; for a lost or unwanted command, what is missing at the other end; for one
// the other log does not cover, that log.
QString ChosenMarkText(const LinkResult& link, const LinkMarkRef& mark, Lang lang);

// A command the match could not pair, as the list beside the picture shows it: its mark on the
// picture and the row's cells (the time on the local unit's clock; the command, "4" or "4 return";
// the way it went or should have gone; and what it is: "lost", "unwanted" or "not covered by the
// other log").
struct LinkProblem {
    LinkMarkRef mark;
    QStringList cells;
};
QStringList LinkProblemHeaders(Lang lang);
// The lost, unwanted and not covered commands of a link in the order of the axis (lost before
// unwanted before not covered at one moment); none without events.
QList<LinkProblem> LinkProblems(const LinkResult& link, Lang lang);

// The choices of the link view: the visits that read both ends (newest first, at most `limit`),
// and every unit.
struct LinkChoices {
    QList<VisitRow> visits;
    QList<LinkEnds> visitEnds; // beside each visit
    QList<UnitRow> units;
};
LinkChoices LoadLinkChoices(const QString& path, int limit, QString* error);
