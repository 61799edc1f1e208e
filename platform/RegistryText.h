#pragma once

#include "platform/Win.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// The settings store's file: registry text, the form the registry editor exports and Wine keeps
// its hives in, so that a person can read and edit it:
//
//   REGEDIT4
//
//   [HKEY_CURRENT_USER\SOFTWARE\MICROSOFT\WINDOWS\CURRENTVERSION\POLICIES\EXPLORER]
//   "m_Language"=dword:00000001
//   "Password"="RTN-615"
//
// A value is written as "text" only when it is a REG_SZ whose bytes are valid UTF-8 without
// control characters, ending in exactly one zero byte (not written); as dword:xxxxxxxx when it is
// a REG_DWORD of exactly 4 bytes (little-endian); else as hex:xx,xx,... (REG_BINARY) or
// hex(N):xx,xx,... (type N in hexadecimal). So every value reads back with its exact type and
// bytes. Inside quotes, \\ stands for a backslash and \" for a quote; nothing else is escaped.
//
// Reading forgives what a person's editor leaves: blank lines, ; comments, blanks around a line
// and around =, CR LF line ends, a UTF-8 byte order mark, hex lists continued over lines that end
// in a backslash, and any letter case in the REGEDIT4 line, key paths and value names. Every other
// line is one the reader cannot read, and the file does not parse.
//
// The older form of the store (first line "LMX207-STORE 1", names and data in hex) is read as well;
// it is written as registry text from then on.
//
// Plain functions, no file access: platform/Registry.cpp reads and replaces the file.

struct RegValue {
    DWORD type = REG_NONE;
    QByteArray data;
    bool operator==(const RegValue&) const = default;
};

// One line of the file (a hex list continued over several lines counts as one). Lines are kept
// as they stand, so an edit changes one value's line and leaves comments and unknown values be.
struct RegLine {
    enum Kind { Other, Key, Value }; // Other: the REGEDIT4 line, a blank line or a comment
    Kind kind = Other;
    QString name;    // Key: the full path in brackets; Value: the value name ("" for @)
    RegValue value;  // Value only
    QByteArray text; // the line as written, without its line end
};

struct RegFile {
    QList<RegLine> lines{RegLine{RegLine::Other, {}, {}, "REGEDIT4"}}; // an empty store
    bool crlf = false; // the file had CR LF line ends and keeps them
};

// Parses a whole store file. Returns false, leaving *out alone, when a line cannot be read.
bool ParseRegFile(const QByteArray& bytes, RegFile* out);
// The file's bytes: every line with its line end.
QByteArray SerialiseRegFile(const RegFile& file);

// Keys are paths below HKEY_CURRENT_USER ("SOFTWARE\MICROSOFT\...", "Ports"). Where a key or a
// value occurs twice, the last one counts, as when the registry editor imports the file.
bool HasRegKey(const RegFile& file, const QString& key);
std::optional<RegValue> FindRegValue(const RegFile& file, const QString& key, const QString& name);
// Appends the key's section unless it exists.
void AddRegKey(RegFile* file, const QString& key);
// Replaces the value's line, else adds it after the last line of its key, adding the key first.
void SetRegValue(RegFile* file, const QString& key, const QString& name, const RegValue& value);
// Removes the value's lines; false when there were none.
bool DeleteRegValue(RegFile* file, const QString& key, const QString& name);

// A key path or value name the file can hold: one without control characters, which would break
// its line.
bool IsRegName(const QString& name);

// The line that stores a value, e.g. "Password"="RTN-615".
QByteArray FormatRegValue(const QString& name, const RegValue& value);
