#include "logbook/ConfigDiff.h"

#include "archive/ArchiveFormat.h"
#include "config/ConfigFormat.h"
#include "logbook/LogbookLanguage.h"

namespace {

const char* const kOutputDelay[] = {"0ms", "2ms", "4ms", "50ms"};
const char* const kInputDelay[] = {"0ms", "3ms"};
const char* const kOutputExtend[] = {"0ms", "5ms", "20ms", "100ms"};

} // namespace

QString DelayCodeText(ConfigDiffLine::Field row, int code) {
    if (code < 0)
        return QStringLiteral("-");
    switch (row) {
    case ConfigDiffLine::OutputDelay:
        return code < kOutputDelayCodes ? QString::fromLatin1(kOutputDelay[code]) : QStringLiteral("?");
    case ConfigDiffLine::InputDelay:
        return code < kInputDelayCodes ? QString::fromLatin1(kInputDelay[code]) : QStringLiteral("?");
    case ConfigDiffLine::OutputExtend:
        return code < kOutputExtendCodes ? QString::fromLatin1(kOutputExtend[code]) : QStringLiteral("?");
    default:
        return QStringLiteral("?");
    }
}

QList<ConfigDiffLine> DiffConfigLines(const ConfigSnapshot& a, const ConfigSnapshot& b) {
    const ConfigDifference diff = DiffConfigs(a, b);
    QList<ConfigDiffLine> lines;
    auto add = [&lines](ConfigDiffLine::Field field, int command, QString va, QString vb, bool changed) {
        ConfigDiffLine line;
        line.field = field;
        line.command = command;
        line.a = std::move(va);
        line.b = std::move(vb);
        line.changed = changed;
        lines << line;
    };
    add(ConfigDiffLine::Address, 0, QString::number(a.address), QString::number(b.address), diff.address);
    add(ConfigDiffLine::Commands, 0, QString::number(a.commandCount), QString::number(b.commandCount),
        diff.commandCount);
    // The archive keeps the rows in the order input delay, output delay, output extend; the dialog
    // shows Output Delay first.
    static const std::pair<ConfigDiffLine::Field, int> kRows[3] = {
        {ConfigDiffLine::OutputDelay, 1}, {ConfigDiffLine::InputDelay, 0}, {ConfigDiffLine::OutputExtend, 2}};
    auto code = [](const ConfigSnapshot& s, int row, int k) {
        return k < s.commandCount ? s.codes[row][k] : -1;
    };
    const int commands = (a.commandCount == 8 || b.commandCount == 8) ? 8 : 4;
    for (int k = 0; k < commands; ++k)
        for (const auto& [field, row] : kRows)
            add(field, k + 1, DelayCodeText(field, code(a, row, k)), DelayCodeText(field, code(b, row, k)),
                diff.codes[row][k]);
    return lines;
}

QString ConfigLineName(const ConfigDiffLine& line, Lang lang) {
    switch (line.field) {
    case ConfigDiffLine::Address:
        return LbText(lang, "Address", "地址");
    case ConfigDiffLine::Commands:
        return LbText(lang, "Commands", "命令数");
    case ConfigDiffLine::OutputDelay:
        return LbText(lang, "Command %1 Output Delay", "命令%1 判别时间").arg(line.command);
    case ConfigDiffLine::InputDelay:
        return LbText(lang, "Command %1 Input Delay", "命令%1 输入延时").arg(line.command);
    case ConfigDiffLine::OutputExtend:
        return LbText(lang, "Command %1 Output Extend", "命令%1 输出扩展").arg(line.command);
    }
    return {};
}
