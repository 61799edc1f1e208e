#include "res/DialogTemplates.h"

#include <initializer_list>

// Local configuration (130 Chinese, 162 English) and remote configuration (170 Chinese, 168
// English). The four templates share one layout: a status line, a group box whose title is the
// column header, a grid of 24 drop-down lists (three rows of delay settings by eight commands),
// the date and time to write and the unit's date and time on the right, the address code below
// the grid, the serial control and four owner-drawn buttons along the bottom.

namespace {

// The grid's control ids by row (Output Delay, Input Delay, Output Extend) and command 1 to 8.
// The Output Extend cells of commands 5 and 6 run against the order of the ids.
constexpr int kGridIds[3][8] = {
    {1010, 1013, 1016, 1019, 1028, 1031, 1037, 1040},
    {1011, 1014, 1017, 1020, 1029, 1032, 1038, 1041},
    {1012, 1015, 1018, 1021, 1034, 1033, 1036, 1039},
};

constexpr const char* kOutputDelayItems = "0ms\n2ms\n4ms\n50ms";
constexpr const char* kInputDelayItems = "0ms\n3ms";
constexpr const char* kOutputExtendItems = "0ms\n5ms\n20ms\n100ms";
// The Chinese templates carry blanks in two items of the first Output Delay cell of command 5.
constexpr const char* kOutputDelayItems1028Chinese = "0ms \n2ms\n4ms\n50ms    ";

struct Rect {
    int x, y, cx, cy;
};

// What differs between the four templates.
struct Layout {
    bool chinese;
    Rect status, group, rowLabel[3];
    int gridX, gridStep, gridWidth, gridY[3];
    // Drop-down heights of the cells of commands 5 to 8 in the rows Output Delay and Input Delay
    // (the others drop 59 units, the Output Extend row 46).
    int dropHigh[2][4];
    Rect modifyDateLabel, datePicker, modifyTimeLabel, timePicker, dateLabel, dateEdit, timeLabel, timeEdit,
        addressLabel, addressEdit, serial, button7, button6, button5, button2;
    const char* header;
    const char* button7Text;
};

std::vector<DlgControl> Controls(const Layout& l) {
    const char* const* rowLabels;
    static const char* const kChineseRows[3] = {"判别时间:", "输入延时:", "输出扩展:"};
    static const char* const kEnglishRows[3] = {"Output Delay :", "Input Delay :", "Output Extend :"};
    rowLabels = l.chinese ? kChineseRows : kEnglishRows;

    std::vector<DlgControl> c;
    auto add = [&c](DlgCtl kind, int id, const char* text, Rect r, unsigned style = DS_NONE) {
        c.push_back({kind, id, text, r.x, r.y, r.cx, r.cy, style});
    };
    add(DlgCtl::LText, 1005, "", l.status, SS_NOPREFIX);
    add(DlgCtl::GroupBox, IDC_STATIC, l.header, l.group);
    for (int row = 0; row < 3; ++row)
        add(DlgCtl::LText, IDC_STATIC, rowLabels[row], l.rowLabel[row]);
    for (int row = 0; row < 3; ++row) {
        for (int k = 0; k < 8; ++k) {
            const int id = kGridIds[row][k];
            const char* items = row == 0   ? kOutputDelayItems
                                : row == 1 ? kInputDelayItems
                                           : kOutputExtendItems;
            if (id == 1028 && l.chinese)
                items = kOutputDelayItems1028Chinese;
            const int drop = row == 2 ? 46 : k < 4 ? 59 : l.dropHigh[row][k - 4];
            add(DlgCtl::ComboBox, id, items, {l.gridX + l.gridStep * k, l.gridY[row], l.gridWidth, drop},
                WS_VSCROLL);
        }
    }
    add(DlgCtl::LText, IDC_STATIC, l.chinese ? "修改日期 :" : "Modify Date :", l.modifyDateLabel);
    add(DlgCtl::DatePicker, 1008, "", l.datePicker);
    add(DlgCtl::LText, IDC_STATIC, l.chinese ? "修改时间 :" : "Modify Time :", l.modifyTimeLabel);
    add(DlgCtl::TimePicker, 1007, "", l.timePicker);
    add(DlgCtl::LText, IDC_STATIC, l.chinese ? "装置日期 :" : " Date :", l.dateLabel);
    add(DlgCtl::Edit, 1001, "", l.dateEdit, ES_READONLY);
    add(DlgCtl::LText, IDC_STATIC, l.chinese ? "装置时间 :" : "Time :", l.timeLabel);
    add(DlgCtl::Edit, 1002, "", l.timeEdit, ES_READONLY);
    add(DlgCtl::LText, IDC_STATIC, l.chinese ? "地址码(0-65000):" : "Address(0-65000):", l.addressLabel);
    add(DlgCtl::Edit, 1077, "", l.addressEdit, ES_NUMBER);
    add(DlgCtl::Serial, 1075, "", l.serial);
    add(DlgCtl::PushButton, 7, l.button7Text, l.button7, BS_OWNERDRAW);
    add(DlgCtl::PushButton, 6, l.chinese ? "写入配置" : "Write Config", l.button6, BS_OWNERDRAW);
    add(DlgCtl::PushButton, 5, l.chinese ? "写入日期和时间" : "Write Date && Time", l.button5, BS_OWNERDRAW);
    add(DlgCtl::PushButton, IDCANCEL, l.chinese ? "退出" : "Exit", l.button2, BS_OWNERDRAW);
    return c;
}

const Layout kLocalChinese = {
    true,
    {22, 7, 288, 8},
    {4, 23, 306, 117},
    {{6, 42, 36, 8}, {6, 70, 35, 8}, {6, 98, 35, 8}},
    44,
    33,
    33,
    {38, 66, 94},
    {{58, 58, 56, 56}, {56, 56, 58, 58}},
    {316, 27, 38, 8},
    {316, 38, 48, 12},
    {316, 54, 38, 8},
    {316, 66, 48, 12},
    {316, 83, 38, 8},
    {316, 94, 48, 12},
    {316, 109, 38, 8},
    {316, 120, 48, 12},
    {113, 122, 57, 8},
    {176, 120, 33, 12},
    {240, 115, 19, 19},
    {21, 147, 63, 14},
    {106, 147, 63, 14},
    {191, 147, 63, 14},
    {276, 147, 63, 14},
    "类型         命令1      命令2     命令3      命令4      命令5      命令6      命令7      命令8",
    "配置复位",
};

const Layout kLocalEnglish = {
    false,
    {29, 7, 329, 8},
    {4, 26, 357, 116},
    {{7, 43, 50, 8}, {11, 71, 46, 8}, {7, 98, 50, 8}},
    59,
    38,
    33,
    {41, 68, 95},
    {{59, 59, 59, 59}, {59, 59, 59, 59}},
    {366, 30, 50, 8},
    {366, 41, 50, 12},
    {366, 57, 44, 8},
    {366, 68, 50, 12},
    {366, 84, 40, 8},
    {366, 95, 50, 12},
    {366, 111, 26, 8},
    {366, 122, 50, 12},
    {149, 124, 61, 8},
    {211, 122, 33, 12},
    {296, 115, 19, 19},
    {24, 148, 63, 14},
    {110, 148, 63, 14},
    {196, 148, 63, 14},
    {282, 148, 63, 14},
    "        Type       Command1 Command2 Command3 Command4 Command5 Command6 Command7 Command8",
    "Reset Config",
};

const Layout kRemoteChinese = {
    true,
    {22, 7, 281, 8},
    {7, 23, 296, 113},
    {{7, 42, 36, 8}, {7, 67, 35, 8}, {8, 93, 35, 8}},
    44,
    32,
    30,
    {39, 65, 91},
    {{58, 58, 56, 56}, {56, 56, 58, 58}},
    {307, 30, 38, 8},
    {307, 40, 48, 11},
    {307, 56, 38, 8},
    {307, 66, 48, 11},
    {307, 80, 38, 8},
    {307, 91, 48, 12},
    {307, 106, 38, 8},
    {307, 117, 48, 12},
    {113, 119, 57, 8},
    {172, 117, 30, 12},
    {240, 112, 19, 19},
    {24, 143, 63, 14},
    {106, 143, 63, 14},
    {188, 143, 63, 14},
    {270, 143, 63, 14},
    "类型       命令1      命令2     命令3      命令4      命令5      命令6      命令7      命令8",
    "写入配置", // the caption repeats button 6's; the bitmap tells them apart
};

const Layout kRemoteEnglish = {
    false,
    {29, 9, 333, 8},
    {6, 26, 356, 114},
    {{7, 44, 50, 8}, {11, 70, 46, 8}, {7, 97, 50, 8}},
    59,
    38,
    33,
    {41, 68, 95},
    {{59, 59, 59, 59}, {59, 59, 59, 59}},
    {366, 29, 50, 8},
    {366, 41, 50, 12},
    {366, 56, 44, 8},
    {366, 68, 49, 12},
    {366, 84, 40, 8},
    {366, 95, 50, 12},
    {366, 110, 21, 8},
    {366, 122, 50, 12},
    {149, 124, 61, 8},
    {211, 122, 33, 12},
    {277, 115, 19, 19},
    {30, 147, 63, 14},
    {112, 147, 63, 14},
    {194, 147, 63, 14},
    {276, 147, 63, 14},
    "       Type       Command1 Command2 Command3 Command4 Command5 Command6 Command7 Command8",
    "Reset Config",
};

} // namespace

const std::vector<DlgTemplate>& ConfigDialogTemplates() {
    static const std::vector<DlgTemplate> templates = {
        {130, "本地配置", 368, 168, "System", 10, true, Controls(kLocalChinese)},
        {162, "Local Config", 420, 167, "System", 10, true, Controls(kLocalEnglish)},
        {170, "对端配置", 358, 164, "System", 10, true, Controls(kRemoteChinese)},
        {168, "Remote Config", 419, 167, "System", 10, true, Controls(kRemoteEnglish)},
    };
    return templates;
}
