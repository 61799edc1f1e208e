#pragma once

#include <QDate>
#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>

// The options of lmx207-logbook's commands, read one way for every command. An option is written
// "--name VALUE", "--name=VALUE" or, for the short ones, "-o VALUE"; an option without a value is
// written "--name" alone. "--" ends the options: every word after it is an operand, as is every word
// that does not begin with "-" (and "-" alone). The value of an option that takes one is the next
// word whatever it looks like ("--unit --odd" names the unit "--odd").

// One option: its name ("--unit"), an other name for it ("-o" for "--output"; null: none), whether
// it takes a value, and the commands that allow it ("import", "export", ..., "server init").
struct CliOption {
    const char* name;
    const char* alias;
    bool takesValue;
    QStringList commands;
};

// The options and operands of one command line, each option's value under its name (not its
// alias); a later value of an option replaces an earlier one; an option without a value maps to "".
struct CliArgs {
    QHash<QString, QString> values;
    QStringList operands;

    bool Has(const char* name) const { return values.contains(QLatin1String(name)); }
    QString Value(const char* name) const { return values.value(QLatin1String(name)); }
};

// Every option of every command of lmx207-logbook.
const QList<CliOption>& LogbookOptions();

// `args` (the words after the command's name) read against the options `command` allows among
// `table`. std::nullopt, with a one-line reason in *error, for an option the command does not allow
// ("unknown option --x"), an option that takes a value given none ("--unit needs a value") and a value
// given to an option that takes none ("--help takes no value").
std::optional<CliArgs> ParseCliOptions(const QString& command, const QStringList& args,
                                       const QList<CliOption>& table, QString* error);

// The options `command` allows, in the table's order, as --help and the manual page list them.
QStringList CliOptionNames(const QString& command, const QList<CliOption>& table);

// A day given as `name` (--from, --to): as the record files write it (2026-5-9) or as ISO 8601
// (2026-05-09). Days are whole: a time of day ("2026-05-09T10:00") is refused, never dropped.
// std::nullopt with a one-line reason in *error for anything else.
std::optional<QDate> CliDay(const QString& name, const QString& text, QString* error);
// The days of --from and --to (each left as it is when not given), read by CliDay; false with a
// one-line reason in *error for a bad one, or for --from after --to.
bool CliPeriod(const CliArgs& args, QDate* from, QDate* to, QString* error);
