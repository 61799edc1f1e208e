// Arbitrary receive batches, ticks of the link timer, Update Record and Clear Record clicks with
// either answer to the confirmation, into the local record dialog: the receive count never goes
// negative (the address sanitizer sees any store outside the 2042-byte buffer), and the list is
// well-formed.

#include "RecordFuzz.h"
#include "records/LocalRecordDlg.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::Initialize(argc, argv, [] {
        CLocalRecordDlg dlg;
        dlg.Create();
        MemoryCommBackend::Last()->deliver(QByteArray(1, char(0x79)));
        dlg.OnTimer(1);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    data = fuzz::Begin(data, size);
    CLocalRecordDlg dlg;
    dlg.Create();
    fuzz::Steps steps;
    steps.timers = {1};
    steps.buttons = {&dlg.m_btnUpdate, &dlg.m_btnClear};
    steps.afterStep = [&dlg] {
        fuzz::Check(dlg.m_nRxCount >= 0, "receive count negative");
        fuzz::Check(dlg.m_nAnswer >= 0 && dlg.m_nAnswer <= 255, "answer byte out of range");
        fuzz::CheckRecordList(dlg.m_lstRecords, dlg.m_progress, dlg.m_nRecords);
    };
    fuzz::Run(dlg, steps, data, size);
    return 0;
}
