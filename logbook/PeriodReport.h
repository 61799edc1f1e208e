#pragma once

#include <QDate>
#include <QString>

class QTextDocument;

// The report of one unit over a period of days (PC dates, both days included): its events counted
// per command, the configurations read and written with what each changed, its clock readings and
// the actions sent to it, each with its visit. An A4 PDF, laid out as the visit report is.

// The report as a document on A4 pages. False with a message in *error when the archive cannot
// be read or holds no such unit.
bool MakePeriodReport(const QString& archivePath, qint64 unitId, QDate from, QDate to, bool chinese,
                      QTextDocument* doc, QString* error);
// Writes it as an A4 PDF to `pdfPath` (platform/SafeFile's rules).
bool WritePeriodReport(const QString& archivePath, qint64 unitId, QDate from, QDate to, bool chinese,
                       const QString& pdfPath, QString* error);
