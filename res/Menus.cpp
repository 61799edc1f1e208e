#include "res/Menus.h"

#include <Qt>

namespace {
const std::vector<MenuItem> kMenu128 = {
    {0,
     "开始",
     {{32782, "本地配置\tF2", {}},
      {32786, "对端配置\tF3", {}},
      {32783, "本地记录\tF4", {}},
      {32787, "对端记录\tF5", {}},
      {0, nullptr, {}},
      {57665, "退出\tEsc", {}}}},
    {0, "串口", {{32784, "串口1", {}}, {32785, "串口2", {}}}},
    {0, "语言", {{32802, "中文", {}}, {32803, "英文", {}}}},
    {57664, "关于", {}},
    {181, "更改密码", {}},
};

const std::vector<MenuItem> kMenu147 = {
    {0,
     "&Begin",
     {{32782, "Local Config\tF2", {}},
      {32786, "Remote Config\tF3", {}},
      {32783, "Local Record\tF4", {}},
      {32787, "Remote Record\tF5", {}},
      {0, nullptr, {}},
      {57665, "E&xit\tEsc", {}}}},
    {0, "&SerialPort", {{32784, "COM1", {}}, {32785, "COM2", {}}}},
    {0, "&Language", {{32802, "Chinese", {}}, {32803, "English", {}}}},
    {57664, "&About", {}},
    {181, "ChangePassword", {}},
};

const ToolbarResource kToolbar128 = {128, 56, 18, {32782, 32786, 0, 32783, 32787, 32784, 32785}};
const ToolbarResource kToolbar150 = {150, 59, 18, {32782, 32786, 0, 32783, 32787, 32784, 32785}};
} // namespace

const std::vector<MenuItem>* FindMenuResource(int id) {
    if (id == 128)
        return &kMenu128;
    if (id == 147)
        return &kMenu147;
    return nullptr;
}

const ToolbarResource* FindToolbarResource(int id) {
    if (id == 128)
        return &kToolbar128;
    if (id == 150)
        return &kToolbar150;
    return nullptr;
}

const std::vector<Accelerator>& AcceleratorTable() {
    static const std::vector<Accelerator> table = {
        {Qt::Key_Escape, 57665}, {Qt::Key_F2, 32782}, {Qt::Key_F3, 32786},
        {Qt::Key_F4, 32783},     {Qt::Key_F5, 32787},
    };
    return table;
}
