#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// The logbook's own settings: values under its own key in the per-user settings store
// (platform/Registry), beside the service program's and never among them. Reading never creates
// the store; a value that cannot be read is as if it were not there.

// The key the logbook keeps its settings under.
QString LogbookSettingsKey();

// A value's bytes, or std::nullopt when the key or the value is absent or the store unreadable.
std::optional<QByteArray> ReadLogbookValue(const QString& name);
// Writes a value (REG_BINARY bytes), creating the key when needed. False when the store refuses.
bool WriteLogbookValue(const QString& name, const QByteArray& bytes);

// A text value, kept as a string (REG_SZ) in UTF-8.
QString ReadLogbookText(const QString& name);
bool WriteLogbookText(const QString& name, const QString& text);

// The archives opened most recently, newest first, at most kRecentArchives; a server location is
// kept without its password.
constexpr int kRecentArchives = 6;
QStringList RecentArchives();
void AddRecentArchive(const QString& location);
