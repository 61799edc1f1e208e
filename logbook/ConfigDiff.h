#pragma once

#include "archive/ArchiveTypes.h"
#include "platform/Lang.h"

#include <QList>
#include <QString>

// One line of two configurations side by side: the address, the number of commands, or one delay
// setting of one command.
struct ConfigDiffLine {
    enum Field { Address, Commands, OutputDelay, InputDelay, OutputExtend };
    Field field = Address;
    int command = 0; // 1 to 8 for a delay setting, else 0
    QString a, b;    // the values as the configuration dialog shows them; "-" where a unit has no
                     // such command
    bool changed = false;
};

// The lines of two snapshots in the order of the configuration dialog: address, commands, then
// for each command 1 to 8 its Output Delay, Input Delay and Output Extend (commands 5 to 8 only
// where either snapshot has 8 commands). A line is changed exactly where the archive's
// comparison of the two snapshots says it differs.
QList<ConfigDiffLine> DiffConfigLines(const ConfigSnapshot& a, const ConfigSnapshot& b);

// The text of a delay code as the configuration dialog's list shows it ("0ms", "2ms", ...), "-"
// for no selection and "?" for a code the dialog never offers.
QString DelayCodeText(ConfigDiffLine::Field row, int code);

// The name of a line in the language chosen, e.g. "Command 3 Output Delay" / "命令3 判别时间".
QString ConfigLineName(const ConfigDiffLine& line, Lang lang);
