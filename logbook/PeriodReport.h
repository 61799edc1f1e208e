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
