#include "codec/compressor.h"

#include <cstdlib>
#include <cstring>
#include <optional>

#include "codec/match_search.h"

namespace {

constexpr int32_t kPrefix = 18;
constexpr int kGroupTokens = 8;
constexpr uint32_t kSmallInput = 1u << 16;

// The host's callback takes a writable string; these are never written.
char kLoadingText[] = "Loading data matrix ...";
char kChecksumText[] = "Calculating CRC ...";

// The output buffer.
struct Output {
    unsigned char* bytes = nullptr;
    uint32_t capacity = 0;

    ~Output() { std::free(bytes); }

    bool Grow(uint32_t newCapacity) {
        unsigned char* grown = static_cast<unsigned char*>(std::realloc(bytes, newCapacity));
        if (!grown) return false;
        bytes = grown;
        capacity = newCapacity;
        return true;
    }
    void Release() {
        std::free(bytes);
        bytes = nullptr;
    }
};

struct Progress {
    const char* name;
    tProcessDataProc callback;
    int32_t sinceReport = 0;
    int32_t reported = 0;
};

// True when a callback is set and answers the report with 0 (stop).
bool Stopped(tProcessDataProc progress, const char* text, int count) {
    return progress && progress(const_cast<char*>(text), count) == 0;
}

uint32_t ByteSum(const unsigned char* data, uint32_t begin, uint32_t end) {
    uint32_t sum = 0;
    uint32_t i = begin;
#if KYRZBK_SSE2
    // Sixteen bytes at a time into two 64-bit lanes, which no file can overflow.
    __m128i lanes = _mm_setzero_si128();
    for (; end - i >= 16; i += 16)
        lanes = _mm_add_epi64(lanes, _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i)),
                                                  _mm_setzero_si128()));
    sum += uint32_t(_mm_cvtsi128_si32(lanes)) + uint32_t(_mm_cvtsi128_si32(_mm_unpackhi_epi64(lanes, lanes)));
#endif
    // Eight bytes at a time into four 16-bit lanes, emptied before they can overflow.
    constexpr uint64_t kLanes = 0x00FF00FF00FF00FFull;
    constexpr uint32_t kWordsPerFlush = 128; // 128 * 2 * 255 < 65536
    while (end - i >= 8) {
        uint64_t lanes = 0;
        for (uint32_t w = 0; w < kWordsPerFlush && end - i >= 8; ++w, i += 8) {
            uint64_t word;
            std::memcpy(&word, data + i, sizeof word);
            lanes += (word & kLanes) + ((word >> 8) & kLanes);
        }
        lanes = (lanes & 0x0000FFFF0000FFFFull) + ((lanes >> 16) & 0x0000FFFF0000FFFFull);
        sum += uint32_t(lanes) + uint32_t(lanes >> 32);
    }
    for (; i < end; ++i) sum += data[i];
    return sum;
}

// The token loop. Its state lives in registers: the write position, the flag byte of
// the current group and its token bits, which enter at bit 15 and move down one place
// per token, so that the group is complete when the marker that starts at bit 8 reaches
// bit 0. Results: 0, 21 (the callback said stop) or -1 (no memory for a larger output).
// Kept out of CompressBuffer: inlined there, its loop keeps fewer of its values in registers.
template <bool kReporting>
KYRZBK_NOINLINE int EncodeTokens(const unsigned char* input, int32_t end, DataMatrix& matrix, Output& output, uint32_t* written,
                 Progress& progress) {
    constexpr unsigned kMarker = 1u << kGroupTokens;
    MatchSearch search(matrix, input, uint32_t(end));
    unsigned char* w = output.bytes + 1; // byte 0 is the first group's flag byte
    unsigned char* flagAt = output.bytes;
    unsigned flags = kMarker;
    int32_t pos = kPrefix;
    // Returns false when the callback said stop.
    auto emit = [&](MatchResult taken) KYRZBK_INLINE_LAMBDA {
        flags >>= 1;
        int32_t consumed;
        if (taken.length < 0) {
            *w++ = input[pos];
            flags |= 1u << 15;
            consumed = 1;
        } else {
            w[0] = static_cast<unsigned char>(taken.distance & 0xFF);
            w[1] = static_cast<unsigned char>(((taken.distance >> 4) & 0xF0) | unsigned(taken.length - 3));
            w += 2;
            consumed = taken.length;
        }
        pos += consumed;
        if (flags & 1) {
            *flagAt = static_cast<unsigned char>(flags >> kGroupTokens);
            flagAt = w++;
            flags = kMarker;
        }
        if (kReporting) {
            progress.sinceReport += consumed;
            if (progress.sinceReport >= 1024) {
                if (Stopped(progress.callback, progress.name, progress.sinceReport)) return false;
                progress.reported += progress.sinceReport;
                progress.sinceReport = 0;
            }
        }
        return true;
    };
    // Room for the tokens of `positions` more positions: a byte each at most, and a flag
    // byte per eight.
    auto room = [&](int32_t positions) KYRZBK_INLINE_LAMBDA {
        const size_t at = size_t(w - output.bytes), flagOffset = size_t(flagAt - output.bytes);
        const uint64_t needed = uint64_t(at) + uint64_t(positions) + uint64_t(positions) / 8 + 4;
        if (needed <= output.capacity) return true;
        uint64_t grown = uint64_t(output.capacity) * 2;
        if (grown < needed) grown = needed;
        if (grown > UINT32_MAX) grown = needed;
        if (grown > UINT32_MAX || !output.Grow(uint32_t(grown))) return false;
        w = output.bytes + at;
        flagAt = output.bytes + flagOffset;
        return true;
    };

    // A token needs at least 3 bytes; the last two positions can only be literals.
    const int32_t searchEnd = end - 2;
    while (pos < searchEnd) {
        int32_t stop = search.LinkNext();
        if (stop > searchEnd) stop = searchEnd;
        if (!room(stop - pos)) return -1;
        while (pos < stop)
            if (!emit(search.BestMatch(pos))) return E_EABORTED;
    }
    if (!room(end - pos)) return -1;
    while (pos < end)
        if (!emit(MatchResult{})) return E_EABORTED;
    // A group that has just been filled leaves a flag byte of 0 behind: the decoder reads
    // one after every eighth token.
    while (!(flags & 1)) flags >>= 1;
    *flagAt = static_cast<unsigned char>(flags >> kGroupTokens);
    *written = uint32_t(w - output.bytes);
    return 0;
}

} // namespace

int CompressBuffer(unsigned char** data, int32_t* size, const char* progressName, tProcessDataProc progress) {
    if (!data || !*data || !size || *size < kPrefix + 3) return E_NOT_SUPPORTED;
    const unsigned char* input = *data;
    const uint32_t end = uint32_t(*size);
    const bool reporting = progressName != nullptr;
    Progress state{progressName, progress};

    if (reporting && Stopped(progress, kLoadingText, 0)) return E_EABORTED;

    // Enough for the index of inputs up to 746 bytes.
    alignas(16) unsigned char scratch[16384];
    std::optional<DataMatrix> matrix;
    try {
        matrix.emplace(input, end, scratch, sizeof scratch);
    } catch (int code) {
        return code;
    } catch (...) {
        return E_NO_MEMORY;
    }

    // Small inputs get the bound of their tokens at once: growing it would cost them a
    // copy. Large ones start at half, which most files end below.
    Output output;
    const uint32_t bound = end + end / 8 + 8;
    if (!output.Grow(end < kSmallInput ? bound : end / 2)) return E_NO_MEMORY;

    // Only a failed reallocation of the output tells the callback, name or no name, and
    // only once the memory held so far has been given back. Hosts read a negative count as
    // a percentage, so the bytes already reported cannot be taken back: the call reports none.
    auto outOfMemory = [&]() {
        output.Release();
        matrix.reset();
        if (Stopped(progress, progressName, 0)) return int(E_EABORTED);
        return int(E_NO_MEMORY);
    };

    uint32_t written = 0;
    const int encoded = reporting ? EncodeTokens<true>(input, int32_t(end), *matrix, output, &written, state)
                                  : EncodeTokens<false>(input, int32_t(end), *matrix, output, &written, state);
    if (encoded < 0) return outOfMemory();
    if (encoded > 0) return encoded;

    if (reporting) {
        // The window prefix is none of the file's bytes.
        if (Stopped(progress, progressName, *size - kPrefix - state.reported)) return E_EABORTED;
        state.reported = *size - kPrefix;
        if (Stopped(progress, kChecksumText, 0)) return E_EABORTED;
    }
    uint32_t sum = ByteSum(input, kPrefix, end);
    if (output.capacity < written + 4 && !output.Grow(written + 4)) return outOfMemory();
    for (int i = 0; i < 4; ++i) output.bytes[written++] = static_cast<unsigned char>(sum >> (8 * i));

    matrix.reset();
    std::free(*data);
    *data = output.bytes;
    *size = int32_t(written);
    output.bytes = nullptr;
    return 0;
}
