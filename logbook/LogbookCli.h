#pragma once

#include <QStringList>

#include <cstdio>

// The logbook from scripts: import, export, visits, report and --help, with nothing on screen. `args` are
// the program's arguments without the program name. Writes results to `out` and messages to `err`.
// Returns the exit status: 0 done, 1 bad input (a message on `err`), 2 the archive cannot be used.
int RunLogbookCommand(const QStringList& args, std::FILE* out, std::FILE* err);
