#pragma once

#include "archive/Matching.h"

#include <QList>
#include <QSet>

// Pairs of record logs with a known truth, for the matching's suites: commands travel a link
// between two units whose clocks stand any distance apart, drift, and are set in between; some
// never arrive, some receives are twins nobody sent; each log covers a period of its own. Every
// time is a true moment turned into each unit's clock and cut to the millisecond as a unit stamps.
struct LinkTruthSpec {
    double days = 21;           // the traffic's length
    double spacingMs = 600'000; // mean gap between commands (each gap 0.5 to 1.5 times it)
    enum Ways { Both, LocalToRemote, RemoteToLocal } ways = Both;
    std::pair<double, double> oneWayStretch{-1,
                                            -1}; // a part (fractions of the length) sent local → remote only
    double offsetMs = 2314;                      // remote clock minus local clock at the start
    double driftMsPerDay = 0;                    // the remote clock gains this on the local one
    double localSetAt = -1; // fraction of the length where the local clock is set (-1: never)
    double localSetMs = 0;  // by how much
    double remoteSetAt = -1;
    double remoteSetMs = 0;
    bool archivedSets = false;                   // the archive holds the clock writes
    double transfer[2][2] = {{8, 12}, {8, 12}};  // [direction] lowest and highest transfer, evenly spread
    double lossRate = 0;                         // commands that never arrive
    double twinRate = 0;                         // receives followed 3 ms later by a twin nobody sent
    int burst = 1;                               // commands sent in bursts of this many, 20 ms apart
    std::pair<double, double> localCovers{0, 1}; // the part of the length each log holds
    std::pair<double, double> remoteCovers{0, 1};
    quint32 seed = 207;
};

struct LinkTruthPair {
    qint64 sendId = 0;
    qint64 receiveId = 0; // 0: lost
    bool localToRemote = true;
    double transferMs = 0; // true
    double apparentMs = 0; // receive minus send, each on its own clock
    double offsetMs = 0;   // the true remote-minus-local offset at the send
};

struct LinkTruth {
    LinkEvents events;
    QList<LinkTruthPair> pairs; // every command sent (not the returns) both logs hold or not
    QSet<qint64> lost;          // sends (commands and returns) lost where the receiving log looks
    QSet<qint64> unwanted;      // twins where the sending log looks
    QSet<qint64> notCovered;    // sends and receives outside the other log's period
    double visibleShiftMs = 0;  // half the difference of the fastest transfers (a path asymmetry)
};

LinkTruth MakeLinkTruth(const LinkTruthSpec& spec);

// An event row of a unit at unit-clock milliseconds (the archive's key, as a read keeps it).
EventRow TruthEvent(qint64 unitMs, int code, bool local, qint64 id);

// One case of the matching's table: a named truth and the clock segments the match must find.
struct LinkTruthCase {
    QString name;
    LinkTruthSpec spec;
    int segments = 1;
};
// The table: clocks hours to years apart, set with and without the archived write, drifting up to
// 20 s a day, logs of different periods, loss and twins in bursts, jitter, one way, asymmetry.
QList<LinkTruthCase> LinkTruthCases();

// A match of a truth's logs against the truth, over the commands (not the returns) both logs hold.
struct LinkTruthScore {
    int pairs = 0;     // commands sent and received where both logs look
    int mispaired = 0; // of those, paired otherwise (or a lost one paired, or a wrong apparent delay)
    QString firstMispaired;
    int transfersWrong = 0; // pairs with a transfer where the segment went one way, or without one where not
    // The worst transfer and offset errors (half a path asymmetry is in the offset, as the logs hold it).
    double worstTransferMs = 0;
    double worstOffsetMs = 0;
};
LinkTruthScore ScoreLinkMatch(const LinkTruthSpec& spec, const LinkTruth& truth, const LinkMatch& match);
