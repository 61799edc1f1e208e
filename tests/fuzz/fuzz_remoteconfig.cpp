// The remote configuration dialog under arbitrary receive batches, ticks of its first-read, clock
// and write timers, clicks and edits (ConfigFuzz.h).

#include "ConfigFuzz.h"
#include "config/RemoteConfigDlg.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::InitializeTarget<CRemoteConfigDlg>(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::RunConfigTarget<CRemoteConfigDlg>(data, size, {1, 2, 3});
    return 0;
}
