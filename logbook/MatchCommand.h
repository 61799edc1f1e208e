#pragma once

#include <QStringList>

#include <cstdio>

// lmx207-logbook match [--visit N | --local NAME --remote NAME] [--format csv|json] [--archive FILE]:
// both ends of a link matched (N: the visit's number, 1 for the first kept, or its id as `visits`
// prints it), written to `out` (MatchCsv or MatchJson); a note on `err` where the
// commands went one way only and the offset cannot be split from the transfer time. `args` are
// the arguments after "match". Returns 0 done, 1 bad input (a message on `err`), 2 the archive
// cannot be used.
int RunMatchCommand(const QStringList& args, std::FILE* out, std::FILE* err);
