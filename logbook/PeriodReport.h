#pragma once

#include "archive/Matching.h"
#include "platform/Lang.h"

#include <QByteArray>
#include <QDate>
#include <QString>

class QTextDocument;

// Reports over a period of days, A4 PDFs laid out as the visit report is (VisitReport.h):
// - of one unit (PC dates, both days included): its events counted per command, the
//   configurations read and written with what each changed, its clock readings and the actions
//   sent to it, each with its visit;
// - of a link, two units over days of the local unit's clock (the link's common axis): the clock
//   model's segments over the period, the counts per command and direction, the lost and unwanted
//   commands with both clocks' times, and the events the other log does not cover.

// The report of unit `unitId` as a document on A4 pages. False with a message in *error when the
// archive cannot be read or holds no such unit.
bool MakePeriodReport(const QString& archivePath, qint64 unitId, QDate from, QDate to, Lang lang,
                      QTextDocument* doc, QString* error);

// The slice of a link's match in [fromMs, toMs) of the common axis (the local clock): the pairs
// whose send falls in it, the lost, unwanted and not covered events and the incidents in it, the
// segments and bands that overlap it; the counts and their transfer times worked out anew from
// those, and the summary offset that of the segment that carries most pairs. The match was made
// on the whole logs, so an event near the period's edges is judged as the whole logs judge it.
LinkMatch MatchWithin(const LinkMatch& whole, double fromMs, double toMs);

// The report of the link from unit `localUnitId` to unit `remoteUnitId` over the days `from` to
// `to` (both included) of the local unit's clock, as a document on A4 pages. False with a message
// in *error when the archive cannot be read, a unit is not in it, or both are the same unit.
bool MakeLinkPeriodReport(const QString& archivePath, qint64 localUnitId, qint64 remoteUnitId, QDate from,
                          QDate to, Lang lang, QTextDocument* doc, QString* error);

// The report of unit `unitId` (`remoteUnitId` 0), or of the link from it to unit `remoteUnitId`, as
// the bytes of an A4 PDF (ReportPdf), for a file (SaveReportPdf) or standard output. Empty, with a
// message in *error, when it cannot be made.
QByteArray PeriodReportPdf(const QString& archivePath, qint64 unitId, qint64 remoteUnitId, QDate from,
                           QDate to, Lang lang, QString* error);
