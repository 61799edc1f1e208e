#pragma once

#include "logbook/LinkData.h"
#include "logbook/LogbookSources.h"
#include "platform/Lang.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class QTextDocument;
class QWidget;

// The report of one visit, printable: its units, the configurations read and written with what
// changed, both clocks against the PC, the actions sent, and, when the visit read both ends, the
// commands between the units (counts, transfer times, lost and unwanted ones) with the link's
// picture. An A4 PDF through QTextDocument; it paints, so the process needs a QGuiApplication
// (no window is shown).

// A configuration the visit saw, and the one of the same unit before it (in this visit or an
// earlier one).
struct ReportConfig {
    ConfigSnapshot snapshot;
    UnitRow unit;
    std::optional<ConfigSnapshot> before;
};

// A clock reading of the visit, with its unit.
struct ReportClock {
    ClockReading reading;
    UnitRow unit;
};

// Everything a visit's report shows, read from the archive.
struct VisitReportData {
    VisitRow visit;
    std::optional<UnitRow> local, remote;
    QList<ReportConfig> configs;    // in the order the visit kept them
    QList<ReportClock> clocks;      // in the order the visit kept them
    QList<ActionEntry> actions;     // oldest first
    std::optional<LinkResult> link; // when the visit read both ends
    QString linkError;              // why there is no link, when there is none
};

// Reads visit `visitId` of the archive at `path`. False with a message in *error when the archive
// cannot be read or has no such visit.
bool LoadVisitReport(const QString& path, qint64 visitId, Lang lang, VisitReportData* data, QString* error);

// The report as HTML for QTextDocument, in the language chosen; the link's picture is the image
// resource named by kReportPictureUrl.
QString VisitReportHtml(const VisitReportData& data, Lang lang);
inline constexpr const char* kReportPictureUrl = "lmx207:link-picture";

// Plain text as the reports' HTML: escaped, and a run of more than 24 characters with no place to
// break (no blank, hyphen or Chinese character: a unit's name, a host) given one after every 24,
// since a report's lines break between words only and such a run would otherwise run past its
// column or the page.
QString ReportText(const QString& text);

// A table of the report: a header row, then rows of cells already escaped (a cell may hold
// markup: "<b>" marks a change, "<tt" a record line, which keeps its blanks). Words are never
// broken inside a column: a long record line wraps instead.
QString ReportTableHtml(const QStringList& headers, const QList<QStringList>& rows);

// The link's sections of a report, inside section `first` (whose heading and opening words the caller
// writes): how the remote clock was placed (OffsetStatement) and the counts per command and
// direction (CommandCountRows); then section first + 1, the lost and unwanted commands, each with
// its record line and the same moment on the other unit's clock, after the count of those the
// other log does not cover. `match` is `link.match` or a slice of it (MatchWithin); the events
// are those of `link`.
QString LinkSectionsHtml(const LinkResult& link, const LinkMatch& match, int first, Lang lang);

// The report laid out on A4 pages (15 mm margins), its headings kept with what follows them: for
// a PDF writer or a printer.
std::unique_ptr<QTextDocument> VisitReportDocument(const VisitReportData& data, Lang lang);
// Gives `doc` the reports' page: `html` in a 9 pt face (WenQuanYi first in Chinese) on A4 pages of
// the document's pixels (96 to the inch) with 15 mm margins, headings kept with what follows them.
// Resources the html names (pictures) are added to `doc` before.
void LayOutReport(QTextDocument* doc, const QString& html, Lang lang);
// Moves each heading that its page would leave alone at its foot to the top of the next page
// (a page break before it), once `doc` has its page size.
void KeepHeadingsWithNext(QTextDocument* doc);

// A laid-out report as the bytes of an A4 PDF with the title `title`, made by lmx207-logbook.
QByteArray ReportPdf(QTextDocument* doc, const QString& title);
// Writes a report's PDF to `pdfPath` whole or not at all (platform/SafeFile's rules, 0600 when
// new). False with "FILE cannot be written: why" in *error.
bool SaveReportPdf(const QByteArray& pdf, const QString& pdfPath, Lang lang, QString* error);
// The title of the report of a visit: "LMX-207 visit report, visit #N".
QString VisitReportTitle(qint64 visitId, Lang lang);

// Writes the report as an A4 PDF to `pdfPath`. False with a message in *error when the file cannot
// be written.
bool WriteVisitReport(const VisitReportData& data, Lang lang, const QString& pdfPath, QString* error);

// Asks where to keep the report of visit `visitId` (a save dialog offering "visit-N.pdf" in the
// home folder) and writes it there. Returns what happened, for the status line; empty when the
// user cancelled.
QString SaveVisitReportAs(QWidget* parent, const QString& archivePath, qint64 visitId, Lang lang);
