#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "codec/compressor.h"
#include "tests/support/hard_inputs.h"
#include "tests/support/memory_stream.h"
#include "tests/support/reference_compressor.h"

namespace {

using Bytes = std::vector<unsigned char>;
constexpr size_t kPrefix = 18;

Bytes Noise(size_t n, unsigned seed, unsigned alphabet = 256) {
    std::mt19937 rng(seed);
    Bytes out(n);
    for (auto& b : out) b = static_cast<unsigned char>(rng() % alphabet);
    return out;
}

// `piece` written over `file` so that it starts `before` bytes ahead of the end of chunk
// `k` (chunks counted with the prefix, as the compressor cuts them).
void PlaceAcrossBoundary(Bytes* file, const Bytes& piece, size_t chunk, size_t k, size_t before) {
    const size_t end = (k + 1) * chunk;
    const size_t at = std::min(end > before ? end - before : 0, file->size() - piece.size());
    std::copy(piece.begin(), piece.end(), file->begin() + long(at));
}

// A whole-buffer call over `file` behind the prefix: the stream, empty unless *result is 0.
Bytes OverBuffer(const Bytes& file, int* result, const std::function<int(unsigned char**, int32_t*)>& compress) {
    Bytes input(kPrefix, ' ');
    input.insert(input.end(), file.begin(), file.end());
    auto* data = static_cast<unsigned char*>(std::malloc(input.size()));
    std::memcpy(data, input.data(), input.size());
    int32_t size = int32_t(input.size());
    *result = compress(&data, &size);
    Bytes stream;
    if (*result == 0) stream.assign(data, data + size);
    std::free(data);
    return stream;
}

// The two chunked calls, in memory and streaming.
const char* const kWays[] = {"buffer in chunks", "streamed"};
Bytes InChunks(int way, const Bytes& file, size_t chunk, int* result, const char* name = nullptr,
               tProcessDataProc progress = nullptr) {
    if (way == 1) return memory_stream::Compress(file, chunk, result, name, progress);
    return OverBuffer(file, result, [&](unsigned char** data, int32_t* size) {
        return CompressBufferInChunks(data, size, name, progress, chunk);
    });
}

struct Shape {
    const char* meaning;
    Bytes file;
};

// Inputs whose matches, runs and records cross the ends of chunks of `chunk` bytes.
std::vector<Shape> Shapes(size_t chunk) {
    std::vector<Shape> shapes;
    const size_t n = std::max<size_t>(3 * chunk + 300, 6000);
    Bytes text = Noise(n, 7, 4);
    shapes.push_back({"a four-letter alphabet", text});

    Bytes run = Noise(n, 8);
    PlaceAcrossBoundary(&run, Bytes(60, 'r'), chunk, 0, 20);
    PlaceAcrossBoundary(&run, Bytes(300, 0), chunk, 1, 1);
    shapes.push_back({"runs across the ends of chunks", run});

    Bytes match = Noise(n, 9);
    const Bytes phrase = Noise(40, 10);
    std::copy(phrase.begin(), phrase.end(), match.begin() + 100);
    PlaceAcrossBoundary(&match, phrase, chunk, 0, 1);
    PlaceAcrossBoundary(&match, phrase, chunk, 1, 18);
    PlaceAcrossBoundary(&match, phrase, chunk, 2, 19);
    shapes.push_back({"long matches that start just before the ends of chunks", match});

    shapes.push_back({"records repeated with breaks", hard_inputs::RepeatedRecords(37, 2, n)});
    shapes.push_back({"records longer than the window", hard_inputs::RepeatedRecords(5000, 20, n + 10000)});
    shapes.push_back({"runs whose records are reused", hard_inputs::ForgottenRuns(3000, 2)});

    Bytes spaces(n, ' ');
    for (size_t i = 0; i < n; i += 13) spaces[i] = 'x';
    shapes.push_back({"spaces like the prefix, so that position 0 matters", spaces});
    shapes.push_back({"three bytes", Bytes{'a', 'b', 'a'}});
    shapes.push_back({"ends two bytes after a boundary", Noise(chunk > kPrefix ? 2 * chunk - kPrefix + 2 : 50, 11, 3)});
    for (hard_inputs::Input& hard : hard_inputs::Adversarial(8000)) shapes.push_back({"adversarial", hard.bytes});
    return shapes;
}

TEST(CompressorChunks, StreamsEqualTheReferenceForEveryChunkSize) {
    for (size_t chunk : {size_t(1), size_t(5), size_t(300), size_t(4095), size_t(4114), size_t(9000), size_t(70000)}) {
        for (const Shape& s : Shapes(chunk)) {
            // A chunk of a byte or two relinks the window for every token: small inputs only.
            if (chunk < 64 && s.file.size() > 3000) continue;
            SCOPED_TRACE(std::string(s.meaning) + ", chunks of " + std::to_string(chunk) + ", " +
                         std::to_string(s.file.size()) + " bytes");
            const Bytes expected = hard_inputs::Compress(reference::CompressBuffer, s.file);
            ASSERT_FALSE(expected.empty());
            for (int way : {0, 1}) {
                int result = -1;
                EXPECT_EQ(InChunks(way, s.file, chunk, &result), expected) << kWays[way];
                EXPECT_EQ(result, 0);
            }
        }
    }
}

struct Call {
    std::string text;
    int count;
    bool operator==(const Call& o) const { return text == o.text && count == o.count; }
};
std::vector<Call> g_calls;
size_t g_stopAt = SIZE_MAX;

int KYR_CALL Record(char* text, int count) {
    g_calls.push_back({text ? text : "(null)", count});
    return g_calls.size() - 1 == g_stopAt ? 0 : 1;
}

// The host's calls of the reference for `file`, and its result.
std::vector<Call> ReferenceCalls(const Bytes& file, const char* name, int* result) {
    g_calls.clear();
    OverBuffer(file, result, [&](unsigned char** data, int32_t* size) {
        return reference::CompressBuffer(data, size, name, Record);
    });
    return g_calls;
}

TEST(CompressorChunks, ReportsAsTheWholeBufferDoes) {
    const Bytes file = hard_inputs::RepeatedRecords(61, 5, 40000);
    const Bytes expected = hard_inputs::Compress(reference::CompressBuffer, file);
    g_stopAt = SIZE_MAX;
    int whole = -1;
    const size_t calls = ReferenceCalls(file, "big.dat", &whole).size();
    ASSERT_EQ(whole, 0);
    ASSERT_GE(calls, 40u); // loading, a step per 1024 bytes or so, the rest, the checksum
    struct Case {
        const char* meaning;
        size_t chunk;
        size_t stopAt;
        const char* name;
    } const cases[] = {
        {"every call", 1000, SIZE_MAX, "big.dat"},
        {"chunks shorter than a report step", 300, SIZE_MAX, "big.dat"},
        {"stop at loading", 1000, 0, "big.dat"},
        {"stop half-way", 4114, 12, "big.dat"},
        {"stop at the rest", 4114, calls - 2, "big.dat"},
        {"stop at the checksum", 9000, calls - 1, "big.dat"},
        {"no name: no calls", 300, SIZE_MAX, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.meaning);
        g_stopAt = c.stopAt;
        const std::vector<Call> referenceCalls = ReferenceCalls(file, c.name, &whole);
        EXPECT_EQ(whole, c.stopAt == SIZE_MAX ? 0 : E_EABORTED);

        for (int way : {0, 1}) {
            SCOPED_TRACE(kWays[way]);
            g_calls.clear();
            int result = -1;
            const Bytes stream = InChunks(way, file, c.chunk, &result, c.name, Record);
            EXPECT_EQ(result, whole);
            EXPECT_EQ(g_calls, referenceCalls);
            if (whole == 0) EXPECT_EQ(stream, expected);
        }
    }
    g_stopAt = SIZE_MAX;
}

TEST(CompressorChunks, StreamsRefuseAndFailCleanly) {
    const Bytes file = Noise(30000, 3, 16);
    struct Case {
        const char* meaning;
        Bytes file;
        size_t readFailsAfter;
        size_t writeFailsAt;
        int expected;
        size_t writes; // that reached the output
    } const cases[] = {
        {"two bytes: declined before anything", Bytes{'a', 'b'}, SIZE_MAX, SIZE_MAX, E_NOT_SUPPORTED, 0},
        {"none", Bytes{}, SIZE_MAX, SIZE_MAX, E_NOT_SUPPORTED, 0},
        {"the first read fails", file, 10, SIZE_MAX, E_EREAD, 0},
        {"a read half-way fails", file, 12000, SIZE_MAX, E_EREAD, 2},
        {"the first write fails", file, SIZE_MAX, 0, E_EWRITE, 0},
        {"the last write fails", file, SIZE_MAX, 7, E_EWRITE, 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.meaning);
        memory_stream::Input input(c.file, c.readFailsAfter, E_EREAD);
        memory_stream::Output output(c.writeFailsAt, E_EWRITE);
        EXPECT_EQ(CompressStream(input, output, nullptr, nullptr, 4000), c.expected);
        EXPECT_EQ(output.writes.size(), c.writes);
    }
}

} // namespace
