// Arbitrary input through the compressor: the stream must be the plain reference's, byte
// for byte, must read back to the input, and must cost no more than a few times the
// reference's time. Inputs of several MB are welcome (-max_len=8388608); give each a time
// limit (-timeout=30) so that a search that never ends is reported as one.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/compress_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t length) {
    if (length == 0 || length > (size_t(8) << 20)) return 0;
    // An even first byte: a file behind the usual space prefix, which must read back.
    // An odd one: the rest is the whole buffer, prefix included, as nothing stops a caller.
    // The other bits pick a chunk size, from a few bytes to a few windows, in at most 64
    // chunks so that each run stays short.
    const bool spacePrefix = (bytes[0] & 1) == 0;
    const size_t pick = bytes[0] >> 1;
    size_t chunkBytes = 1 + pick * pick * 3;
    if (chunkBytes < length / 64) chunkBytes = length / 64 + 1;
    std::vector<unsigned char> input;
    if (spacePrefix) input.assign(kWindowPrefixLength, 0x20);
    input.insert(input.end(), bytes + 1, bytes + length);
    fuzz::CheckCompression(input, spacePrefix, chunkBytes);
    return 0;
}
