// First-game configuration decoder: kyrzbk decode on arbitrary bytes.
#include "config/kyr_bin_manager.h"
#include "fuzz/config_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz::RunConfigInput<CKyrBinManager>(data, size);
}
