#include "logbook/CliOptions.h"

#include <QRegularExpression>

const QList<CliOption>& LogbookOptions() {
    static const QList<CliOption> table{
        {"--unit", nullptr, true, {"import", "export", "report"}},
        {"--side", nullptr, true, {"import", "export"}},
        {"--from", nullptr, true, {"export", "report"}},
        {"--to", nullptr, true, {"export", "report"}},
        {"--format", nullptr, true, {"export", "match"}},
        {"--visit", nullptr, true, {"report", "match"}},
        {"--local", nullptr, true, {"report", "match"}},
        {"--remote", nullptr, true, {"report", "match"}},
        {"--lang", nullptr, true, {"report"}},
        {"--output", "-o", true, {"export", "report", "match"}},
        {"--server", nullptr, true, {"sync", "server init"}},
        {"--archive", nullptr, true, {"import", "export", "visits", "report", "match", "sync"}},
    };
    return table;
}

namespace {

const CliOption* findOption(const QString& name, const QList<CliOption>& table) {
    for (const CliOption& o : table)
        if (name == QLatin1String(o.name) || (o.alias && name == QLatin1String(o.alias)))
            return &o;
    return nullptr;
}

} // namespace

std::optional<CliArgs> ParseCliOptions(const QString& command, const QStringList& args,
                                       const QList<CliOption>& table, QString* error) {
    CliArgs parsed;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& word = args[i];
        if (word == QLatin1String("--")) {
            parsed.operands << args.mid(i + 1);
            break;
        }
        if (!word.startsWith(QLatin1Char('-')) || word == QLatin1String("-")) {
            parsed.operands << word;
            continue;
        }
        QString name = word;
        std::optional<QString> value;
        const qsizetype eq = word.indexOf(QLatin1Char('='));
        if (word.startsWith(QLatin1String("--")) && eq > 2) {
            name = word.left(eq);
            value = word.mid(eq + 1);
        }
        const CliOption* option = findOption(name, table);
        if (!option || !option->commands.contains(command)) {
            *error = QStringLiteral("unknown option %1").arg(name);
            return std::nullopt;
        }
        if (option->takesValue && !value) {
            if (i + 1 >= args.size()) {
                *error = QStringLiteral("%1 needs a value").arg(name);
                return std::nullopt;
            }
            value = args[++i];
        } else if (!option->takesValue && value) {
            *error = QStringLiteral("%1 takes no value").arg(name);
            return std::nullopt;
        }
        parsed.values.insert(QLatin1String(option->name), value.value_or(QString()));
    }
    return parsed;
}

QStringList CliOptionNames(const QString& command, const QList<CliOption>& table) {
    QStringList names;
    for (const CliOption& o : table)
        if (o.commands.contains(command))
            names << QLatin1String(o.name);
    return names;
}

std::optional<QDate> CliDay(const QString& name, const QString& text, QString* error) {
    static const QRegularExpression day(QStringLiteral("^(\\d{4})-(\\d{1,2})-(\\d{1,2})$"));
    const QRegularExpressionMatch m = day.match(text.trimmed());
    const QDate d =
        m.hasMatch() ? QDate(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt()) : QDate();
    if (d.isValid())
        return d;
    *error = text.contains(QLatin1Char('T')) || text.contains(QLatin1Char(':'))
                 ? QStringLiteral("%1 takes a whole day (2026-12-07 or 2026-12-7), not a time of day: \"%2\"")
                       .arg(name, text)
                 : QStringLiteral("%1 takes a date like 2026-12-07 or 2026-12-7, not \"%2\"").arg(name, text);
    return std::nullopt;
}

bool CliPeriod(const CliArgs& args, QDate* from, QDate* to, QString* error) {
    for (const char* name : {"--from", "--to"})
        if (args.Has(name)) {
            const std::optional<QDate> d = CliDay(QLatin1String(name), args.Value(name), error);
            if (!d)
                return false;
            *(qstrcmp(name, "--from") == 0 ? from : to) = *d;
        }
    if (from->isValid() && to->isValid() && *from > *to) {
        *error = QStringLiteral("--from is after --to");
        return false;
    }
    return true;
}
