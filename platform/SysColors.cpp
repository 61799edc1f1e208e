#include "platform/SysColors.h"

#include <map>

namespace {

std::map<int, QColor>& Overrides() {
    static std::map<int, QColor> overrides;
    return overrides;
}

QColor ClassicColour(int index) {
    switch (index) {
    case COLOR_BTNFACE:
    case COLOR_3DLIGHT:
        return QColor(212, 208, 200);
    case COLOR_BTNSHADOW:
        return QColor(128, 128, 128);
    case COLOR_BTNHIGHLIGHT:
        return QColor(255, 255, 255);
    case COLOR_3DDKSHADOW:
        return QColor(0, 0, 0);
    default:
        return QColor(0, 0, 0);
    }
}

} // namespace

QColor GetSysColor(int index) {
    const auto it = Overrides().find(index);
    if (it != Overrides().end())
        return it->second;
    return ClassicColour(index);
}

void SetSysColorForTest(int index, const QColor& colour) {
    Overrides()[index] = colour;
}

void ResetSysColorsForTest() {
    Overrides().clear();
}
