// The local configuration dialog under arbitrary receive batches, ticks of its read-and-poll and
// write timers, clicks and edits (ConfigFuzz.h).

#include "ConfigFuzz.h"
#include "config/LocalConfigDlg.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::InitializeTarget<CLocalConfigDlg>(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::RunConfigTarget<CLocalConfigDlg>(data, size, {1, 2});
    return 0;
}
