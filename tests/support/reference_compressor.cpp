#include "tests/support/reference_compressor.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "common/string_utils.h"

namespace reference {
namespace {

constexpr uint32_t kKeys = 65536;
constexpr uint32_t kSlice = 65536;
constexpr int32_t kPrefix = 18;
constexpr uint32_t kWindow = 4095;
constexpr int kMaxLength = 18;

char kLoadingText[] = "Loading data matrix ...";
char kChecksumText[] = "Calculating CRC ...";

uint32_t KeyAt(const unsigned char* data, uint32_t p) { return data[p] + 256u * data[p + 1]; }

template <typename T> T* AllocateZeroed(uint32_t count) {
    return static_cast<T*>(std::calloc(count, sizeof(T)));
}

struct DataMatrix {
    const unsigned char* data = nullptr;
    uint32_t lastIndex = 0;
    uint32_t indexedEnd = 0;
    uint32_t* positions = nullptr;
    uint32_t** groups = nullptr;
    uint32_t* counts = nullptr;
    uint32_t* cursors = nullptr;

    DataMatrix(const unsigned char* input, uint32_t size) {
        if (!input || size == 0) return;
        data = input;
        lastIndex = size - 1;
        positions = AllocateZeroed<uint32_t>(kKeys);
        groups = AllocateZeroed<uint32_t*>(kKeys);
        counts = AllocateZeroed<uint32_t>(kKeys);
        cursors = AllocateZeroed<uint32_t>(kKeys);
        if (!positions || !groups || !counts || !cursors) {
            Release();
            throw int(E_NO_MEMORY);
        }
        try {
            Build();
        } catch (...) {
            Release();
            throw;
        }
    }
    ~DataMatrix() { Release(); }
    DataMatrix(const DataMatrix&) = delete;
    DataMatrix& operator=(const DataMatrix&) = delete;

    void Release() {
        std::free(positions);
        std::free(groups);
        std::free(counts);
        std::free(cursors);
        data = nullptr;
        lastIndex = indexedEnd = 0;
        positions = nullptr;
        groups = nullptr;
        counts = cursors = nullptr;
    }

    void Build() {
        uint32_t n = lastIndex - indexedEnd < kSlice ? lastIndex - indexedEnd : kSlice;
        uint32_t first = indexedEnd;
        for (uint32_t p = first; p < first + n; ++p) ++counts[KeyAt(data, p)];
        uint32_t* slice = positions;
        for (uint32_t key = 0; key < kKeys; ++key) {
            if (counts[key] == 0) continue;
            groups[key] = slice;
            slice += counts[key];
        }
        uint32_t* filled = AllocateZeroed<uint32_t>(kKeys);
        if (!filled) throw int(E_NO_MEMORY);
        for (uint32_t p = first; p < first + n; ++p) {
            uint32_t key = KeyAt(data, p);
            groups[key][filled[key]++] = p;
            ++indexedEnd;
        }
        std::free(filled);
    }

    void Rebuild() {
        std::memset(counts, 0, kKeys * sizeof(uint32_t));
        std::memset(cursors, 0, kKeys * sizeof(uint32_t));
        Build();
    }

    uint32_t Find(uint32_t key, uint32_t low, uint32_t cur, const uint32_t** first) {
        if (cur <= low) return 0;
        if (cur >= indexedEnd) {
            indexedEnd = low;
            Rebuild();
        }
        if (counts[key] == 0 || cursors[key] >= counts[key]) return 0;
        uint32_t i = cursors[key];
        while (i < counts[key]) {
            uint32_t p = groups[key][i];
            if (p < low) {
                cursors[key] = ++i;
                continue;
            }
            if (p == low) cursors[key] = i + 1;
            break;
        }
        if (i >= counts[key]) return 0;
        *first = groups[key] + i;
        return counts[key] - i;
    }
};

struct Match {
    int length = -1;
    uint32_t distance = 0;
};

Match FindRunMatch(const unsigned char* data, uint32_t size, uint32_t cur) {
    Match none;
    if (size - cur < 3) return none;
    int run1 = 0, run2 = 0;
    bool open1 = true, open2 = true;
    for (uint32_t q = cur; q < size && (open1 || open2); ++q) {
        if (open1) {
            if (data[q] == data[q - 1]) {
                if (++run1 == kMaxLength) return Match{run1, 1};
            } else {
                open1 = false;
            }
        }
        if (open2) {
            if (data[q] == data[q - 2]) {
                if (++run2 == kMaxLength) return Match{run2, 2};
            } else {
                open2 = false;
            }
        }
    }
    if (run1 < 3 && run2 < 3) return none;
    return run1 >= run2 ? Match{run1, 1} : Match{run2, 2};
}

Match FindMatrixMatch(const unsigned char* data, DataMatrix& matrix, uint32_t size, uint32_t cur) {
    Match none;
    uint32_t pos = cur;
    uint32_t low = pos > kWindow ? pos - kWindow : 0;
    uint32_t remaining = size - pos;
    if (remaining < 3) return none;
    const uint32_t* candidates = nullptr;
    uint32_t count = matrix.Find(KeyAt(data, pos), low, pos, &candidates);
    if (count == 0) return none;
    int maxLen = remaining < uint32_t(kMaxLength) ? int(remaining) : kMaxLength;
    int limit = maxLen;
    int L = 3;
    int best = -1;
    uint32_t distance = 0;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t c = candidates[i];
        if (c > pos - 3 || c > pos - L) break;
        if (pos - c < uint32_t(maxLen)) limit = int(pos - c);
        if (limit < 3 || limit < best) break;
        if (L > limit) continue;
        if (data[c + L - 1] != data[pos + L - 1]) continue;
        while (CompareBytes(data + c + 2, data + pos + 2, L - 2) == 0) {
            distance = pos - c;
            best = L;
            if (L == kMaxLength) return Match{best, distance};
            if (++L > limit) break;
        }
    }
    if (best < 0) return none;
    return Match{best, distance};
}

int CallProgress(tProcessDataProc progress, const char* name, int count) {
    return progress(const_cast<char*>(name), count);
}

} // namespace

int CompressBuffer(unsigned char** data, int32_t* size, const char* progressName, tProcessDataProc progress) {
    if (!data || !*data || !size || *size < kPrefix + 3) return E_NOT_SUPPORTED;
    const unsigned char* input = *data;
    const uint32_t end = uint32_t(*size);
    uint32_t capacity = end / 2;
    uint32_t pos = kPrefix;
    unsigned flags = 0;
    int bit = 0;
    uint32_t sum = 0;
    int32_t sinceReport = 0;
    int32_t reported = 0;

    if (progressName && progress && CallProgress(progress, kLoadingText, 0) == 0) return E_EABORTED;

    DataMatrix* matrix = nullptr;
    try {
        matrix = new DataMatrix(input, end);
    } catch (int code) {
        return code;
    } catch (...) {
        return E_NO_MEMORY;
    }
    unsigned char* out = static_cast<unsigned char*>(std::malloc(capacity));
    if (!out) {
        delete matrix;
        return E_NO_MEMORY;
    }
    uint32_t flagAt = 0;
    uint32_t written = 1;

    auto memoryFailure = [&]() {
        std::free(out);
        delete matrix;
        if (progress && CallProgress(progress, progressName, 0) == 0) return int(E_EABORTED);
        return int(E_NO_MEMORY);
    };

    while (pos < end) {
        if (capacity <= written + 3) {
            capacity *= 2;
            unsigned char* grown = static_cast<unsigned char*>(std::realloc(out, capacity));
            if (!grown) return memoryFailure();
            out = grown;
        }
        Match run = FindRunMatch(input, end, pos);
        Match taken;
        if (run.length == kMaxLength) {
            taken = run;
        } else {
            Match matrixMatch;
            try {
                matrixMatch = FindMatrixMatch(input, *matrix, end, pos);
            } catch (...) {
                std::free(out);
                delete matrix;
                return E_NO_MEMORY;
            }
            if (run.length < 0 && matrixMatch.length < 0) {
                out[written++] = input[pos];
                flags |= 1u << bit;
                pos += 1;
                sinceReport += 1;
            } else if (matrixMatch.length > run.length) {
                taken = matrixMatch;
            } else {
                taken = run;
            }
        }
        if (taken.length > 0) {
            out[written++] = static_cast<unsigned char>(taken.distance & 0xFF);
            out[written++] = static_cast<unsigned char>(((taken.distance >> 4) & 0xF0) | unsigned(taken.length - 3));
            pos += uint32_t(taken.length);
            sinceReport += taken.length;
        }
        if (++bit == 8) {
            out[flagAt] = static_cast<unsigned char>(flags);
            flagAt = written++;
            flags = 0;
            bit = 0;
        }
        if (progressName && sinceReport >= 1024) {
            if (progress && CallProgress(progress, progressName, sinceReport) == 0) {
                std::free(out);
                delete matrix;
                return E_EABORTED;
            }
            reported += sinceReport;
            sinceReport = 0;
        }
    }
    out[flagAt] = static_cast<unsigned char>(flags);

    if (progressName) {
        if (progress && CallProgress(progress, progressName, *size - kPrefix - reported) == 0) {
            std::free(out);
            delete matrix;
            return E_EABORTED;
        }
        reported = *size - kPrefix;
        if (progress && CallProgress(progress, kChecksumText, 0) == 0) {
            std::free(out);
            delete matrix;
            return E_EABORTED;
        }
    }
    for (uint32_t i = kPrefix; i < end; ++i) sum += input[i];
    if (capacity < written + 4) {
        capacity = written + 4;
        unsigned char* grown = static_cast<unsigned char*>(std::realloc(out, capacity));
        if (!grown) return memoryFailure();
        out = grown;
    }
    for (int i = 0; i < 4; ++i) out[written++] = static_cast<unsigned char>(sum >> (8 * i));

    delete matrix;
    std::free(*data);
    *data = out;
    *size = int32_t(written);
    return 0;
}

} // namespace reference
