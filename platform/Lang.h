#pragma once

#include <QString>

#include <optional>

// The language a text, a report or a command's output is in.
enum class Lang { English, Chinese };

// The language a command line names: "en" or "zh"; std::nullopt for anything else.
inline std::optional<Lang> LangFromCode(const QString& code) {
    if (code == QLatin1String("en"))
        return Lang::English;
    if (code == QLatin1String("zh"))
        return Lang::Chinese;
    return std::nullopt;
}
