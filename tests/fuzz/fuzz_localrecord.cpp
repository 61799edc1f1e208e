// The local record dialog under arbitrary receive batches, ticks and clicks (RecordFuzz.h).

#include "RecordFuzz.h"
#include "records/LocalRecordDlg.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::InitializeTarget<CLocalRecordDlg>(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::RunRecordTarget<CLocalRecordDlg>(data, size);
    return 0;
}
