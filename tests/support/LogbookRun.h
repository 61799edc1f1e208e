#pragma once

// The logbook's command line run in this process, for the suites that link the logbook's code.

#include "logbook/LogbookCli.h"

#include <QByteArray>
#include <QStringList>

#include <cstdio>
#include <cstdlib>

// Its exit status and what it wrote to standard output and standard error.
struct CliRun {
    int status = -1;
    QByteArray out;
    QByteArray err;
};

inline CliRun RunCli(const QStringList& args) {
    char* outBuf = nullptr;
    char* errBuf = nullptr;
    size_t outLen = 0, errLen = 0;
    std::FILE* out = open_memstream(&outBuf, &outLen);
    std::FILE* err = open_memstream(&errBuf, &errLen);
    CliRun r;
    r.status = RunLogbookCommand(args, out, err);
    std::fclose(out);
    std::fclose(err);
    r.out = QByteArray(outBuf, qsizetype(outLen));
    r.err = QByteArray(errBuf, qsizetype(errLen));
    std::free(outBuf);
    std::free(errBuf);
    return r;
}
