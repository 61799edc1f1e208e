#pragma once

#include "sim/SimPair.h"

#include <QDateTime>
#include <QList>

// Commands carried over the simulated optical link: a history of traffic written into both
// units' logs as the units would have logged it. When one unit logs "Send Command k" the other
// logs "Receive Command k" a transfer time later; 100 ms after the command each logs its return
// ("Send Command k Return", "Receive Command k Return") the same way. Each unit stamps its events on
// its own clock: the PC's time plus its offset, drifting by its rate.
struct SimTraffic {
    int commands = 0;       // commands sent, the last one ending now; 0: no traffic
    int transferMs = 10;    // the link's transfer time ...
    int jitterMs = 2;       // ... plus or minus up to this, evenly spread
    int spacingMs = 60'000; // between commands (each gets up to 5 s more, so times are irregular)
    enum class Ways { Both, LocalToRemote, RemoteToLocal } ways = Ways::Both; // both: alternately
    qint64 localClockOffsetMs = 0; // each unit's clock minus the PC's local time, now
    qint64 remoteClockOffsetMs = 0;
    double localDriftMsPerDay = 0; // how much faster each clock runs than the PC's, ms a day
    double remoteDriftMsPerDay = 0;
    // A clock set during the traffic: after command n (1 = the first; 0: never) the unit's clock was
    // set by this many ms (its clock before the set read that much less than the offset says).
    int localClockSetAfter = 0;
    qint64 localClockSetMs = 0;
    int remoteClockSetAfter = 0;
    qint64 remoteClockSetMs = 0;
    QList<int> lose;   // commands (1 = the first) that never arrive: no receive, no receive return
    QList<int> invent; // after these commands the receiving unit logs one more receive (and its
                       // return) of the same command, 2.5 s later, that nobody sent
};

// One command of the traffic as it happened, for a person or a test to compare with.
struct SimTrafficCommand {
    int number = 1;  // 1 = the first
    int command = 1; // 1 to 8
    bool localToRemote = true;
    bool lost = false;
    QDateTime sentAt;     // the sender's clock
    QDateTime receivedAt; // the receiver's clock (invalid when lost)
};

// Sets both units' clocks to `now` (the PC's local time, as a zone-less wall time) plus their
// offsets, and puts the traffic's events at the head of their logs, newest first, before whatever
// the logs held; a log keeps its newest 255 records. Commands take their numbers 1 to n in turn,
// up to the smaller unit's command count. Every random choice comes from `seed`, so the same
// switches give the same logs. Returns the commands as sent, oldest first, and the invented
// receives as commands with number 0.
QList<SimTrafficCommand> AddSimTraffic(SimPair& pair, const SimTraffic& traffic, const QDateTime& now,
                                       quint32 seed = 207);
