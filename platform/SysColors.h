#pragma once

#include <QColor>

// System colour indices, with the values the classic desktop gave them.
constexpr int COLOR_BTNFACE = 15;
constexpr int COLOR_BTNSHADOW = 16;
constexpr int COLOR_BTNHIGHLIGHT = 20;
constexpr int COLOR_3DDKSHADOW = 21;
constexpr int COLOR_3DLIGHT = 22;

// The colour of a system colour index. The values are fixed, those of the classic grey scheme:
// face RGB(212, 208, 200), shadow RGB(128, 128, 128), highlight white, dark shadow black and
// light equal to the face. They do not follow the Qt palette, so an owner-drawn control looks the
// same under every desktop style. An unknown index gives black.
QColor GetSysColor(int index);

// Lets a test change one system colour (as a user changing the desktop scheme would), or put
// every one back to its classic value.
void SetSysColorForTest(int index, const QColor& colour);
void ResetSysColorsForTest();
