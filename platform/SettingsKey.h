#pragma once

#include <QString>

// The key under which the service program keeps its settings (language, password, port, ...) in the
// settings file. The logbook reads its language from there, never writing it.
inline const QString SETTINGS_KEY =
    QStringLiteral("SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\POLICIES\\EXPLORER");
