// Arbitrary receive batches, ticks of the first-read, clock and write timers, clicks on
// Write Date && Time, Write Config and Reset, and the user's edits, into the remote configuration
// dialog: the receive count never goes negative (the address sanitizer sees any store outside the
// buffer) and the fields stay well-formed.

#include "ConfigFuzz.h"
#include "config/RemoteConfigDlg.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::Initialize(argc, argv, [] {
        CRemoteConfigDlg dlg;
        dlg.Create();
        MemoryCommBackend::Last()->deliver(QByteArray(1, char(0x79)));
        dlg.OnTimer(1);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    data = fuzz::Begin(data, size);
    CRemoteConfigDlg dlg;
    dlg.Create();
    fuzz::Steps steps;
    steps.timers = {1, 2, 3};
    steps.buttons = {&dlg.m_btnWriteTime, &dlg.m_btnWriteConfig, &dlg.m_btnReset};
    steps.userAction = [&dlg](uint8_t a) {
        fuzz::EditConfig(a, dlg.m_edtAddress, dlg.m_cells, dlg.m_dtpDate, dlg.m_dtpTime);
    };
    steps.afterStep = [&dlg] {
        fuzz::Check(dlg.m_nRxCount >= 0, "receive count negative");
        fuzz::Check(dlg.m_nAnswer >= 0 && dlg.m_nAnswer <= 255, "answer byte out of range");
        fuzz::Check(dlg.m_b8Commands == 0 || dlg.m_b8Commands == 1, "command count flag");
        for (int v : dlg.m_clock) // BCD bytes read (at most 165) and the counting from them
            fuzz::Check(v >= 0 && v <= 165, "clock field out of range");
        fuzz::CheckConfigFields(dlg.m_edtDate->text(), dlg.m_edtTime->text());
    };
    fuzz::Run(dlg, steps, data, size);
    return 0;
}
