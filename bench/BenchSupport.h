#pragma once

// What the benchmarks share: the median of their samples, and the set-up of an in-process run of
// the dialogs (off-screen unless a platform is named, message boxes printed and answered OK, the
// tool on COM1).

#include "app/KelpApp.h"
#include "platform/Platform.h"

#include <QByteArray>

#include <algorithm>
#include <cstdio>
#include <vector>

inline double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    if (v.empty())
        return 0;
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Before the QApplication is built.
inline void UseOffscreenUnlessSet() {
    if (qgetenv("QT_QPA_PLATFORM").isEmpty())
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

// After it: message boxes are printed and answered OK, the tool talks on COM1 in English.
inline void PrepareDialogRun() {
    SetMessageBoxHook([](const MessageBoxCall& c) {
        std::printf("message box: %s\n", qPrintable(c.text));
        return IDOK;
    });
    AfxGetApp().m_strPort = QStringLiteral("COM1");
    g_bChinese = 0;
}
