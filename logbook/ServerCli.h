#pragma once

#include <QString>
#include <QStringList>

#include <cstdio>

// The team's server from scripts: "server init" and "sync" (RunLogbookCommand hands them here).
// `args` start with the command's name. Exit status: 0 done; 1 bad input, or the server refuses
// writes for the role while there is something to push, or a visit was refused (each named on
// `err`: a pull checks what it takes, see Sync.h); 2 the archive or the server cannot be
// used.
int RunServerCommand(const QStringList& args, std::FILE* out, std::FILE* err);
// The lines of lmx207-logbook --help that tell these commands.
extern const char* const kServerUsage;

// The server the logbook remembers (its connection string without a password), from the settings
// file; empty when none. RememberServer keeps one there (stripping any password first).
QString RememberedServer(bool* known = nullptr);
bool RememberServer(const QString& conninfo);
