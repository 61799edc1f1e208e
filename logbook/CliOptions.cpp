#include "logbook/CliOptions.h"

const QList<CliOption>& LogbookOptions() {
    static const QList<CliOption> table{
        {"--unit", nullptr, true, {"import", "export"}},
        {"--side", nullptr, true, {"import", "export"}},
        {"--from", nullptr, true, {"export"}},
        {"--to", nullptr, true, {"export"}},
        {"--format", nullptr, true, {"export", "match"}},
        {"--visit", nullptr, true, {"report", "match"}},
        {"--local", nullptr, true, {"match"}},
        {"--remote", nullptr, true, {"match"}},
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
