// Bytes as a compressed entry block, expanded with and without a size hint.
#include <cstdint>
#include <cstring>

#include "codec/decompressor.h"

namespace {
int KYR_CALL Progress(char*, int) { return 1; }
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    uint32_t hint = 0;
    if (size >= 4) std::memcpy(&hint, data, 4);
    CTextBuffer out;
    int result = DecompressEntry(data, static_cast<int32_t>(size), "fuzz", &out, Progress);
    CTextBuffer hinted;
    int hintedResult = DecompressEntry(data, static_cast<int32_t>(size), "fuzz", &hinted, nullptr, hint);
    // The hint only sizes the buffer; the verdict and the output may not depend on it.
    if (result != hintedResult || out.Length() != hinted.Length() ||
        (out.Length() > 0 && std::memcmp(out.Data(), hinted.Data(), static_cast<size_t>(out.Length())) != 0))
        __builtin_trap();
    return 0;
}
