#pragma once

#include <QDateTime>
#include <QString>

// A made-up visit that read both ends of a link carrying commands, written through the archive's
// own recorder as the service program would keep it: for the link view's and the visit report's
// suites, and the tour.
//
// Commands travel both ways, one every few minutes of the local clock: a send at one unit, its
// receive at the other after a transfer time, each command's return after it. The remote clock
// runs `offsetMs` ahead of the local one. One local send of command 4 never arrives (lost, with its
// return), one receive of command 3 at the remote unit was never sent (unwanted); both units log a
// fibre A interruption and its return; the local unit logs a receive alarm and a fibre B
// interruption whose return is not in its log. Before the records, the visit reads both units'
// configurations and clocks (the local clock 3 s ahead of the PC), and writes the local unit's
// configuration with command 2's Output Delay changed from 0ms to 50ms, which its read-back shows.
struct LinkSampleSpec {
    int commands = 40;      // commands sent, alternately local → remote and back
    double offsetMs = 2314; // remote clock minus local clock
    int localAddress = 300;
    int remoteAddress = 301;
    QDateTime localStart = QDateTime(QDate(2026, 12, 5), QTime(8, 0), Qt::UTC); // first send, local clock
    QDateTime pcStart = QDateTime(QDate(2026, 12, 5), QTime(10, 0), Qt::OffsetFromUTC, 8 * 3600);
};

// What the sample holds, for the suites to check against.
struct LinkSampleFacts {
    qint64 visitId = 0;
    QString visitUuid;
    int transferMinMs = 8, transferMaxMs = 15;
};

// Adds the visit to the archive at `path` (created when absent). False with the reason in *error.
bool AddLinkSampleVisit(const QString& path, const LinkSampleSpec& spec, LinkSampleFacts* facts,
                        QString* error);
