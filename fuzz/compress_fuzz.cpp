// Arbitrary input through the compressor: the stream must be the plain reference's, byte
// for byte, and must read back to the input.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "archive/compressor.h"
#include "archive/decompressor.h"
#include "common/text_buffer.h"
#include "tests/support/reference_compressor.h"

namespace {

constexpr size_t kPrefix = 18;

std::vector<unsigned char> Compress(int (*compress)(unsigned char**, int32_t*, const char*, tProcessDataProc),
                                    const std::vector<unsigned char>& input, int* result) {
    auto* data = static_cast<unsigned char*>(std::malloc(input.size() ? input.size() : 1));
    if (!input.empty()) std::memcpy(data, input.data(), input.size());
    int32_t size = int32_t(input.size());
    *result = compress(&data, &size, nullptr, nullptr);
    std::vector<unsigned char> stream;
    if (*result == 0) stream.assign(data, data + size);
    std::free(data);
    return stream;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t length) {
    if (length == 0 || length > (1u << 20)) return 0;
    // An even first byte: a file behind the usual space prefix, which must read back.
    // An odd one: the rest is the whole buffer, prefix included, as nothing stops a caller.
    const bool spacePrefix = (bytes[0] & 1) == 0;
    std::vector<unsigned char> input;
    if (spacePrefix) input.assign(kPrefix, 0x20);
    input.insert(input.end(), bytes + 1, bytes + length);

    int fast = -1, plain = -1;
    std::vector<unsigned char> stream = Compress(CompressBuffer, input, &fast);
    std::vector<unsigned char> expected = Compress(reference::CompressBuffer, input, &plain);
    if (fast != plain || stream != expected) std::abort();
    if (fast != 0 || !spacePrefix) return 0;

    CTextBuffer expanded;
    if (DecompressEntry(stream.data(), static_cast<int32_t>(stream.size()), "fuzz", &expanded, nullptr) != 0)
        std::abort();
    if (static_cast<size_t>(expanded.Length()) != input.size() ||
        !std::equal(expanded.Data() + kPrefix, expanded.Data() + expanded.Length(), input.begin() + kPrefix))
        std::abort();
    return 0;
}
