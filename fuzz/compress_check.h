// The compressor's oracle for the fuzz targets: the stream must be the plain reference's,
// byte for byte, must read back to the input, and must not take much longer than the
// reference took (a search that goes round, or walks far more than the window, shows as
// time long before it shows as a wrong stream).
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codec/compressor.h"
#include "codec/decompressor.h"
#include "common/text_buffer.h"
#include "tests/support/memory_stream.h"
#include "tests/support/reference_compressor.h"

namespace fuzz {

using CompressFunction = int (*)(unsigned char**, int32_t*, const char*, tProcessDataProc);

inline std::vector<unsigned char> CompressTimed(CompressFunction compress, const std::vector<unsigned char>& input,
                                                int* result, double* seconds) {
    auto* data = static_cast<unsigned char*>(std::malloc(input.size() ? input.size() : 1));
    if (!input.empty()) std::memcpy(data, input.data(), input.size());
    int32_t size = int32_t(input.size());
    const auto start = std::chrono::steady_clock::now();
    *result = compress(&data, &size, nullptr, nullptr);
    *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::vector<unsigned char> stream;
    if (*result == 0) stream.assign(data, data + size);
    std::free(data);
    return stream;
}

// Slower than this many times the reference, plus a constant for the clock's and the
// machine's noise, counts as a fault.
constexpr double kSlowerFactor = 4.0;
constexpr double kNoiseSeconds = 0.05;

// The whole-buffer call in chunks of `chunkBytes` (0: the usual size) must give the
// reference's stream too, and so must the streaming call from the file's bytes alone.
inline void CheckChunks(const std::vector<unsigned char>& input, bool prefixed, size_t chunkBytes,
                        const std::vector<unsigned char>& expected, int expectedResult) {
    if (chunkBytes == 0) return;
    auto* data = static_cast<unsigned char*>(std::malloc(input.size() ? input.size() : 1));
    if (!input.empty()) std::memcpy(data, input.data(), input.size());
    int32_t size = int32_t(input.size());
    const int result = CompressBufferInChunks(&data, &size, nullptr, nullptr, chunkBytes);
    std::vector<unsigned char> stream;
    if (result == 0) stream.assign(data, data + size);
    std::free(data);
    if (result != expectedResult || stream != expected) {
        std::fprintf(stderr, "chunks of %zu bytes: the stream differs from the reference's\n", chunkBytes);
        std::abort();
    }
    if (!prefixed) return;
    const std::vector<unsigned char> file(input.begin() + kWindowPrefixLength, input.end());
    int streamed = -1;
    if (memory_stream::Compress(file, chunkBytes, &streamed) != expected || streamed != expectedResult) {
        std::fprintf(stderr, "streamed in chunks of %zu bytes: the stream differs from the reference's\n", chunkBytes);
        std::abort();
    }
}

// `input` is the whole buffer, window prefix included; `prefixed` says that it starts with
// the usual 18 spaces, so that the stream must read back to the rest. `chunkBytes` as for
// CheckChunks.
inline void CheckCompression(const std::vector<unsigned char>& input, bool prefixed, size_t chunkBytes = 0) {
    int fast = -1, plain = -1;
    double fastSeconds = 0, plainSeconds = 0;
    std::vector<unsigned char> stream = CompressTimed(CompressBuffer, input, &fast, &fastSeconds);
    std::vector<unsigned char> expected = CompressTimed(reference::CompressBuffer, input, &plain, &plainSeconds);
    if (fast != plain || stream != expected) {
        std::fprintf(stderr, "the stream differs from the reference's (results %d and %d)\n", fast, plain);
        std::abort();
    }
    CheckChunks(input, prefixed, chunkBytes, expected, plain);
    // One slow run may be the machine's doing: two more rounds decide, the compressor's best
    // against the reference's slowest, so that only a real difference is reported.
    for (int round = 0; round < 2 && fastSeconds > plainSeconds * kSlowerFactor + kNoiseSeconds; ++round) {
        double again = 0;
        CompressTimed(CompressBuffer, input, &fast, &again);
        fastSeconds = std::min(fastSeconds, again);
        CompressTimed(reference::CompressBuffer, input, &plain, &again);
        plainSeconds = std::max(plainSeconds, again);
    }
    if (fastSeconds > plainSeconds * kSlowerFactor + kNoiseSeconds) {
        std::fprintf(stderr, "compressing %zu bytes took %.3f s, the reference %.3f s\n", input.size(), fastSeconds,
                     plainSeconds);
        std::abort();
    }
    if (fast != 0 || !prefixed) return;
    CTextBuffer expanded;
    if (DecompressEntry(stream.data(), static_cast<int32_t>(stream.size()), "fuzz", &expanded, nullptr) != 0)
        std::abort();
    const unsigned char* out = reinterpret_cast<const unsigned char*>(expanded.Data());
    if (static_cast<size_t>(expanded.Length()) != input.size() ||
        !std::equal(out + kWindowPrefixLength, out + expanded.Length(), input.begin() + kWindowPrefixLength))
        std::abort();
}

} // namespace fuzz
