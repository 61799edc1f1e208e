// Arbitrary receive batches, in any order with the decision tick, into the About box: whatever
// the unit says, the two version lines are either the unit's lines or the blank labels.

#include "DialogFuzz.h"
#include "link/AboutDlg.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::InitializeTarget<CAboutDlg>(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    data = fuzz::Begin(data, size);
    CAboutDlg dlg;
    dlg.Create();
    fuzz::Steps steps;
    steps.timers = {1};
    steps.afterStep = [&dlg] {
        fuzz::Check(dlg.m_nAnswer >= 0 && dlg.m_nAnswer <= 255, "answer byte out of range");
        const QString l1 = dlg.m_stcLine1->text();
        const QString l2 = dlg.m_stcLine2->text();
        const bool none = l1.isEmpty() && l2.isEmpty();
        const bool known = l1 == QStringLiteral("CPU Version : 1.0\tTime : 2004-5-27") &&
                           l2 == QStringLiteral("CRC : 3C82\t\tROM : 97250AE8");
        const bool blank =
            l1 == QStringLiteral("CPU Version :\t\tTime : ") && l2 == QStringLiteral("CRC :\t\t\tROMH : ");
        fuzz::Check(none || known || blank, "version lines");
        // One request, sent at opening; nothing the unit says makes the box send again.
        fuzz::Check(MemoryCommBackend::Last()->m_sent == QByteArray("\x86"), "bytes sent");
    };
    fuzz::Run(dlg, steps, data, size);
    return 0;
}
