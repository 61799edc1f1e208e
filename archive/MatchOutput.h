#pragma once

#include "archive/Matching.h"

#include <QByteArray>
#include <QString>

// The match as text for scripts. Pure.
//
// Times: a unit's events as its clock shows them ("2008-12-25T13:45:07.123", no zone: a unit keeps
// none, so no `Z`); axis times on the local unit's clock, the same way. Commands and returns are
// counted under their own names. Where a segment went one way, a pair's time is an apparent delay
// (receive minus send, each on its own clock) in its own column, never a transfer. The text says
// that a path slower one way than the other cannot be seen: it moves the offset by half the
// difference and leaves every figure as it is.
//
// CSV (RFC 4180, CR LF), one header row:
//   kind,command,direction,pair,local clock,remote clock,axis time,transfer ms,apparent delay ms,
//   offset ms,rate ms/day,pairs,basis,sent,received,lost,unwanted,not covered,median ms,p95 ms,max ms
// then "note" rows (the clocks, asymmetry, the visit it was made as of), one "segment" row per
// clock segment (from and to on both clocks, offset at its start, rate, the pairs both ways, how it
// was found), one "count" row per pair kind, direction and command with traffic, and one row per
// "match", "lost", "unwanted" and "not covered" event.
// JSON: one object with "local", "remote", "clocks", "asymmetry", "asOfVisit", "basis", "split",
// "offsetMs" and "transferMs" (or "apparentDelayMs" one way), "segments", "counts" (commands per
// command, both ways), "perDirection", "matches", "lost", "unwanted", "notCovered" and
// "crossCheck", ending in a line feed.
QByteArray MatchCsv(const LinkMatch& match, const LinkEnds& ends);
QByteArray MatchJson(const LinkMatch& match, const LinkEnds& ends);

// "both-ways", "one-way", "readings", "hand" or "none".
QString BasisText(OffsetBasis basis);
// How a segment was found, in the command line's words: "both-ways", "one-way", "readings", "hand".
QString SegmentBasisText(SegmentBasis basis);
// Where it starts: "first-traffic", "clock-write", "step".
QString SegmentStartText(SegmentStart start);
// The note on what the logs cannot show.
QString AsymmetryNote();
