// The remote record dialog under arbitrary receive batches, ticks and clicks (RecordFuzz.h).

#include "RecordFuzz.h"
#include "records/RemoteRecordDlg.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::InitializeTarget<CRemoteRecordDlg>(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::RunRecordTarget<CRemoteRecordDlg>(data, size);
    return 0;
}
