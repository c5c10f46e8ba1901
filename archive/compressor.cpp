#include "archive/compressor.h"

#include <cstdlib>
#include <memory>

#include "archive/data_matrix.h"

namespace {

constexpr int32_t kPrefix = 18;
constexpr int kGroupTokens = 8;

// The host's callback takes a writable string; these are never written.
char kLoadingText[] = "Loading data matrix ...";
char kChecksumText[] = "Calculating CRC ...";

// The stream under construction: a flag byte reserved ahead of each group of eight tokens.
struct TokenWriter {
    unsigned char* out = nullptr;
    uint32_t capacity = 0;
    uint32_t written = 1; // byte 0 is the first group's flag byte
    uint32_t flagAt = 0;
    unsigned flags = 0;
    int bit = 0;

    ~TokenWriter() { std::free(out); }

    bool Grow(uint32_t newCapacity) {
        unsigned char* grown = static_cast<unsigned char*>(std::realloc(out, newCapacity));
        if (!grown) return false;
        out = grown;
        capacity = newCapacity;
        return true;
    }
    void Literal(unsigned char c) {
        out[written++] = c;
        flags |= 1u << bit;
        EndToken();
    }
    void Reference(uint32_t distance, int length) {
        out[written++] = static_cast<unsigned char>(distance & 0xFF);
        out[written++] = static_cast<unsigned char>(((distance >> 4) & 0xF0) | unsigned(length - 3));
        EndToken();
    }
    void EndToken() {
        if (++bit < kGroupTokens) return;
        out[flagAt] = static_cast<unsigned char>(flags);
        flagAt = written++;
        flags = 0;
        bit = 0;
    }
    // A group that has just been filled leaves a flag byte of 0 behind: the decoder reads
    // one after every eighth token.
    void CloseGroup() { out[flagAt] = static_cast<unsigned char>(flags); }
};

int Report(tProcessDataProc progress, const char* text, int count) {
    return progress(const_cast<char*>(text), count);
}

uint32_t ByteSum(const unsigned char* data, uint32_t begin, uint32_t end) {
    uint32_t sum = 0;
    for (uint32_t i = begin; i < end; ++i) sum += data[i];
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

    TokenWriter writer;
    if (!writer.Grow(end / 2)) return E_NO_MEMORY;

    // Only a failed reallocation of the output tells the callback, name or no name, and
    // only once the memory held so far has been given back.
    auto outOfMemory = [&]() {
        std::free(writer.out);
        writer.out = nullptr;
        matrix.reset();
        if (progress && Report(progress, progressName, -reported) == 0) return int(E_EABORTED);
        return int(E_NO_MEMORY);
    };

    uint32_t pos = kPrefix;
    while (pos < end) {
        if (writer.capacity <= writer.written + 3 && !writer.Grow(writer.capacity * 2)) return outOfMemory();
        MatchResult taken = matrix->BestMatch(pos);
        if (taken.length < 0) {
            writer.Literal(input[pos]);
            pos += 1;
            sinceReport += 1;
        } else {
            writer.Reference(taken.distance, taken.length);
            pos += uint32_t(taken.length);
            sinceReport += taken.length;
        }
        if (reporting && sinceReport >= 1024) {
            if (progress && Report(progress, progressName, sinceReport) == 0) return E_EABORTED;
            reported += sinceReport;
            sinceReport = 0;
        }
    }
    writer.CloseGroup();

    if (reporting) {
        if (progress && Report(progress, progressName, *size - reported) == 0) return E_EABORTED;
        reported = *size;
        if (progress && Report(progress, kChecksumText, 0) == 0) return E_EABORTED;
    }
    uint32_t sum = ByteSum(input, kPrefix, end);
    if (writer.capacity < writer.written + 4 && !writer.Grow(writer.written + 4)) return outOfMemory();
    for (int i = 0; i < 4; ++i) writer.out[writer.written++] = static_cast<unsigned char>(sum >> (8 * i));

    matrix.reset();
    std::free(*data);
    *data = writer.out;
    *size = int32_t(writer.written);
    writer.out = nullptr;
    return 0;
}
