#include "archive/compressor.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "archive/data_matrix.h"

namespace {

constexpr int32_t kPrefix = 18;
constexpr int kGroupTokens = 8;

// The host's callback takes a writable string; these are never written.
char kLoadingText[] = "Loading data matrix ...";
char kChecksumText[] = "Calculating CRC ...";

// The output buffer; the token loop keeps its write position in a register and hands it
// back only to grow the buffer.
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

int Report(tProcessDataProc progress, const char* text, int count) {
    return progress(const_cast<char*>(text), count);
}

uint32_t ByteSum(const unsigned char* data, uint32_t begin, uint32_t end) {
    // Eight bytes at a time into four 16-bit lanes, emptied before they can overflow.
    constexpr uint64_t kLanes = 0x00FF00FF00FF00FFull;
    constexpr uint32_t kWordsPerFlush = 128; // 128 * 2 * 255 < 65536
    uint32_t sum = 0;
    uint32_t i = begin;
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

} // namespace

int CompressBuffer(unsigned char** data, int32_t* size, const char* progressName, tProcessDataProc progress) {
    if (!data || !*data || !size || *size < kPrefix + 3) return E_NOT_SUPPORTED;
    const unsigned char* input = *data;
    const uint32_t end = uint32_t(*size);
    const bool reporting = progressName != nullptr;
    int32_t sinceReport = 0;
    int32_t reported = 0;

    if (reporting && progress && Report(progress, kLoadingText, 0) == 0) return E_EABORTED;

    std::unique_ptr<DataMatrix> matrix;
    try {
        matrix.reset(new DataMatrix(input, end));
    } catch (int code) {
        return code;
    } catch (...) {
        return E_NO_MEMORY;
    }

    Output output;
    if (!output.Grow(end / 2)) return E_NO_MEMORY;

    // Only a failed reallocation of the output tells the callback, name or no name, and
    // only once the memory held so far has been given back.
    auto outOfMemory = [&]() {
        output.Release();
        matrix.reset();
        if (progress && Report(progress, progressName, -reported) == 0) return int(E_EABORTED);
        return int(E_NO_MEMORY);
    };

    MatchSearch search(*matrix, input, end);
    unsigned char* out = output.bytes;
    uint32_t written = 1; // byte 0 is the first group's flag byte
    uint32_t flagAt = 0;
    unsigned flags = 0;
    unsigned flagBit = 1;
    uint32_t pos = kPrefix;
    while (pos < end) {
        if (output.capacity <= written + 3) {
            if (!output.Grow(output.capacity * 2)) return outOfMemory();
            out = output.bytes;
        }
        const MatchResult taken = search.BestMatch(pos);
        int32_t consumed;
        if (taken.length < 0) {
            out[written++] = input[pos];
            flags |= flagBit;
            consumed = 1;
        } else {
            out[written] = static_cast<unsigned char>(taken.distance & 0xFF);
            out[written + 1] = static_cast<unsigned char>(((taken.distance >> 4) & 0xF0) | unsigned(taken.length - 3));
            written += 2;
            consumed = taken.length;
        }
        pos += uint32_t(consumed);
        flagBit <<= 1;
        if (flagBit == 1u << kGroupTokens) {
            out[flagAt] = static_cast<unsigned char>(flags);
            flagAt = written++;
            flags = 0;
            flagBit = 1;
        }
        if (reporting) {
            sinceReport += consumed;
            if (sinceReport >= 1024) {
                if (progress && Report(progress, progressName, sinceReport) == 0) return E_EABORTED;
                reported += sinceReport;
                sinceReport = 0;
            }
        }
    }
    // A group that has just been filled leaves a flag byte of 0 behind: the decoder reads
    // one after every eighth token.
    out[flagAt] = static_cast<unsigned char>(flags);

    if (reporting) {
        if (progress && Report(progress, progressName, *size - reported) == 0) return E_EABORTED;
        reported = *size;
        if (progress && Report(progress, kChecksumText, 0) == 0) return E_EABORTED;
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
