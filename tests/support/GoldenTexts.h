#pragma once

#include <QFile>
#include <QMap>
#include <QString>

// The texts of a golden file in tests/data: UTF-8, one "key: text" per line, split at the first
// ": " (the text keeps every blank and colon after it). A missing file gives no texts.
inline QMap<QString, QString> GoldenTexts(const QString& name) {
    QFile file(QStringLiteral(LMX207_TEST_DATA "/") + name);
    QMap<QString, QString> texts;
    if (file.open(QIODevice::ReadOnly))
        for (const QString& line : QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts))
            texts.insert(line.section(QStringLiteral(": "), 0, 0), line.section(QStringLiteral(": "), 1));
    return texts;
}
