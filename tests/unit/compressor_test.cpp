#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "codec/compressor.h"
#include "codec/decompressor.h"
#include "common/text_buffer.h"
#include "tests/support/hard_inputs.h"
#include "tests/support/reference_compressor.h"
#include "tests/support/temp_dir.h"

namespace {

using Bytes = std::vector<unsigned char>;
using Compressor = int (*)(unsigned char**, int32_t*, const char*, tProcessDataProc);

constexpr size_t kPrefix = 18;

struct Outcome {
    int result;
    Bytes stream; // empty unless the result is 0
};

// Compresses a file's bytes behind the window prefix, as the archive writer hands them over.
// On failure the caller's buffer must come back untouched.
Outcome CompressFile(Compressor compress, const Bytes& file, const char* name = nullptr, tProcessDataProc progress = nullptr) {
    Bytes input(kPrefix, 0x20);
    input.insert(input.end(), file.begin(), file.end());
    auto* buffer = static_cast<unsigned char*>(std::malloc(input.size()));
    std::memcpy(buffer, input.data(), input.size());
    unsigned char* data = buffer;
    int32_t size = int32_t(input.size());
    Outcome outcome{compress(&data, &size, name, progress), {}};
    if (outcome.result == 0) {
        outcome.stream.assign(data, data + size);
    } else {
        EXPECT_EQ(data, buffer);
        EXPECT_EQ(size, int32_t(input.size()));
        EXPECT_EQ(0, std::memcmp(buffer, input.data(), input.size()));
    }
    std::free(data);
    return outcome;
}

struct Implementation {
    const char* name;
    Compressor compress;
} const kImplementations[] = {{"plug-in", CompressBuffer}, {"reference", reference::CompressBuffer}};

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

TEST(Compressor, StreamsOfTheFormat) {
    struct Case {
        const char* meaning;
        Bytes file;
        const char* stream;
    } const cases[] = {
        {"three literals", Text("ABC"), "07 41 42 43 C6 00 00 00"},
        {"prefix run at distance 1 beats the matrix at 18", Text("   X"), "02 01 00 58 B8 00 00 00"},
        {"runs of 18, 18 and 3", Bytes(40, 'A'), "01 41 01 0F 01 0F 01 00 28 0A 00 00"},
        {"a full group leaves an empty flag byte", Text("ABCDEFGH"), "FF 41 42 43 44 45 46 47 48 00 24 02 00 00"},
        {"prefix position 0 serves its key's first search only", Hex("20 20 41 20 20 20"),
         "07 20 20 41 14 00 E1 00 00 00"},
    };
    for (const Implementation& impl : kImplementations) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(impl.name) + ": " + c.meaning);
            Outcome outcome = CompressFile(impl.compress, c.file);
            ASSERT_EQ(outcome.result, 0);
            EXPECT_EQ(ToHex(outcome.stream), ToHex(Hex(c.stream)));
        }
    }
}

TEST(Compressor, RefusesWhatItCannotCompress) {
    unsigned char* none = nullptr;
    int32_t size = 30;
    EXPECT_EQ(CompressBuffer(nullptr, &size, nullptr, nullptr), E_NOT_SUPPORTED);
    EXPECT_EQ(CompressBuffer(&none, &size, nullptr, nullptr), E_NOT_SUPPORTED);
    EXPECT_EQ(size, 30);
    EXPECT_EQ(CompressFile(CompressBuffer, Text("AB")).result, E_NOT_SUPPORTED);
}

struct ProgressCall {
    std::string text;
    int count;
    bool operator==(const ProgressCall& o) const { return text == o.text && count == o.count; }
};
std::vector<ProgressCall> g_calls;
size_t g_stopAtCall = SIZE_MAX;

int KYR_CALL Record(char* text, int count) {
    g_calls.push_back({text ? text : "(null)", count});
    return g_calls.size() - 1 == g_stopAtCall ? 0 : 1;
}

std::vector<ProgressCall> RecordRun(Compressor compress, const Bytes& file, const char* name, size_t stopAt,
                                    int* result) {
    g_calls.clear();
    g_stopAtCall = stopAt;
    *result = CompressFile(compress, file, name, Record).result;
    return g_calls;
}

Bytes Noise(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes out(n);
    for (auto& b : out) b = static_cast<unsigned char>(rng());
    return out;
}

TEST(Compressor, ReportsProgressInStepsOfConsumedBytes) {
    Bytes file = Noise(5000, 1);
    int result = -1;
    std::vector<ProgressCall> calls = RecordRun(CompressBuffer, file, "data.bin", SIZE_MAX, &result);
    ASSERT_EQ(result, 0);
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls.front(), (ProgressCall{"Loading data matrix ...", 0}));
    EXPECT_EQ(calls.back(), (ProgressCall{"Calculating CRC ...", 0}));
    int reported = 0;
    for (size_t i = 1; i + 2 < calls.size(); ++i) {
        EXPECT_EQ(calls[i].text, "data.bin");
        EXPECT_GE(calls[i].count, 1024);
        EXPECT_LT(calls[i].count, 1024 + 18);
        reported += calls[i].count;
    }
    EXPECT_EQ(calls.size(), 7u); // loading, four steps of 1024 or more, final report, checksum
    // The counts add up to the file's bytes, without the window prefix.
    EXPECT_EQ(calls[calls.size() - 2], (ProgressCall{"data.bin", int(file.size()) - reported}));

    int referenceResult = -1;
    EXPECT_EQ(calls, RecordRun(reference::CompressBuffer, file, "data.bin", SIZE_MAX, &referenceResult));

    RecordRun(CompressBuffer, file, nullptr, SIZE_MAX, &result);
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(g_calls.empty());
}

TEST(Compressor, StopsWhenTheCallbackSaysSo) {
    struct Case {
        const char* where;
        size_t fileSize;
        size_t stopAt;
        size_t callsMade;
    } const cases[] = {
        {"loading the matrix", 5000, 0, 1},
        {"during the run", 5000, 2, 3},
        {"at the final report", 500, 1, 2},
        {"at the checksum", 500, 2, 3},
    };
    for (const Implementation& impl : kImplementations) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(impl.name) + ": " + c.where);
            int result = -1;
            std::vector<ProgressCall> calls = RecordRun(impl.compress, Noise(c.fileSize, 2), "x", c.stopAt, &result);
            EXPECT_EQ(result, E_EABORTED);
            EXPECT_EQ(calls.size(), c.callsMade);
        }
    }
}

// Inputs that stress different parts of the search: wide and narrow alphabets, periods
// short and long, runs (where the matrix is skipped), copies planted at the window's
// edge, and spaces that keep meeting the prefix.
enum class Kind { Random, TwoLetters, FourLetters, Periodic, TextLike, Runs, Planted, Spaces };
const char* const kKindNames[] = {"random", "two letters", "four letters", "periodic",
                                  "text", "runs", "planted", "spaces"};

Bytes Generate(Kind kind, size_t n, std::mt19937& rng) {
    auto pick = [&](unsigned bound) { return unsigned(rng() % bound); };
    Bytes out;
    out.reserve(n);
    switch (kind) {
    case Kind::Random:
        while (out.size() < n) out.push_back(static_cast<unsigned char>(pick(256)));
        break;
    case Kind::TwoLetters:
    case Kind::FourLetters: {
        unsigned letters = kind == Kind::TwoLetters ? 2 : 4;
        while (out.size() < n) out.push_back(static_cast<unsigned char>('a' + pick(letters)));
        break;
    }
    case Kind::Periodic: {
        size_t period = pick(4) == 0 ? 4000 + pick(200) : 1 + pick(40);
        Bytes pattern = Generate(Kind::FourLetters, period, rng);
        while (out.size() < n) {
            out.push_back(pattern[out.size() % period]);
            if (pick(200) == 0) out.back() ^= 1;
        }
        break;
    }
    case Kind::TextLike: {
        static const char* const words[] = {"the", "of", "archive", "entry", "and", "header", "to",
                                            "data", "a", "file", "is", "compressed", "window"};
        while (out.size() < n) {
            std::string w = words[pick(13)];
            out.insert(out.end(), w.begin(), w.end());
            out.push_back(pick(12) == 0 ? '\n' : ' ');
            if (out.back() == '\n') out.insert(out.end(), pick(3) * 4, ' ');
        }
        break;
    }
    case Kind::Runs:
        while (out.size() < n) out.insert(out.end(), 1 + pick(pick(2) ? 60 : 4), static_cast<unsigned char>(pick(4)));
        break;
    case Kind::Planted: {
        static const unsigned distances[] = {1, 2, 3, 17, 18, 19, 4094, 4095, 4096, 4097};
        while (out.size() < n) {
            size_t distance = pick(2) ? distances[pick(10)] : 1 + pick(5000);
            if (pick(3) == 0 && distance <= out.size()) {
                size_t length = 3 + pick(20);
                for (size_t k = 0; k < length; ++k) out.push_back(out[out.size() - distance]);
            } else {
                out.push_back(static_cast<unsigned char>(pick(256)));
            }
        }
        break;
    }
    case Kind::Spaces:
        while (out.size() < n) out.push_back(pick(5) == 0 ? static_cast<unsigned char>('A' + pick(3)) : ' ');
        break;
    }
    out.resize(n);
    return out;
}

void ExpectSameAsReference(const Bytes& file) {
    Outcome fast = CompressFile(CompressBuffer, file);
    Outcome plain = CompressFile(reference::CompressBuffer, file);
    ASSERT_EQ(fast.result, 0);
    ASSERT_EQ(plain.result, 0);
    ASSERT_EQ(fast.stream.size(), plain.stream.size());
    ASSERT_TRUE(fast.stream == plain.stream) << "first difference at byte "
                                             << std::mismatch(fast.stream.begin(), fast.stream.end(),
                                                              plain.stream.begin())
                                                        .first -
                                                    fast.stream.begin();
    CTextBuffer expanded;
    ASSERT_EQ(DecompressEntry(fast.stream.data(), static_cast<int32_t>(fast.stream.size()), "x", &expanded, nullptr),
              0);
    ASSERT_TRUE(Bytes(expanded.Data() + kWindowPrefixLength, expanded.Data() + expanded.Length()) == file);
}

TEST(Compressor, MatchesTheReferenceOnManyInputs) {
    std::mt19937 rng(20240601);
    for (int k = 0; k <= int(Kind::Spaces); ++k) {
        Kind kind = Kind(k);
        std::vector<size_t> sizes;
        for (int i = 0; i < 40; ++i) sizes.push_back(3 + rng() % 98);
        for (int i = 0; i < 6; ++i) sizes.push_back(100 + rng() % 12000);
        sizes.push_back(70000 + rng() % 70000);
        // Small inputs keep their index on the stack: sizes on both sides of where it stops fitting.
        for (size_t n : {494u, 495u, 746u, 747u}) sizes.push_back(n);
        for (size_t n : sizes) {
            unsigned seed = unsigned(rng());
            std::mt19937 local(seed);
            SCOPED_TRACE(std::string(kKindNames[k]) + ", " + std::to_string(n) + " bytes, seed " + std::to_string(seed));
            ExpectSameAsReference(Generate(kind, n, local));
            if (HasFatalFailure()) return;
        }
    }
}

// The original matrix is rebuilt from the window start when a search first meets the end of
// its slice; a run of 18s crossing that point postpones the rebuild.
TEST(Compressor, MatchesTheReferenceAcrossSliceRebuilds) {
    std::mt19937 rng(7);
    for (size_t runAt : {65400u, 65510u, 65530u, 131000u}) {
        SCOPED_TRACE(runAt);
        Bytes file = Generate(Kind::FourLetters, runAt, rng);
        file.insert(file.end(), 300, 'z');
        Bytes tail = Generate(Kind::Planted, 140000 - file.size(), rng);
        file.insert(file.end(), tail.begin(), tail.end());
        ExpectSameAsReference(file);
    }
}

// Runs of one byte are searched apart from the other places: runs longer than a slice of
// the index, runs that end the input, and so many short runs that their records wrap.
TEST(Compressor, MatchesTheReferenceAroundRuns) {
    std::mt19937 rng(11);
    auto text = [&](size_t n) { return Generate(Kind::TextLike, n, rng); };
    auto join = [](std::initializer_list<Bytes> parts) {
        Bytes all;
        for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
        return all;
    };
    Bytes shortRuns;
    while (shortRuns.size() < 200000) {
        shortRuns.insert(shortRuns.end(), 3 + rng() % 3, static_cast<unsigned char>('a' + rng() % 2));
        shortRuns.push_back(static_cast<unsigned char>('x' + rng() % 3));
    }
    const struct {
        const char* meaning;
        Bytes file;
    } cases[] = {
        {"a run longer than a slice", join({text(3000), Bytes(70000, 0), text(3000), Bytes(5000, 0), text(100)})},
        {"spaces to the end", join({text(5000), Bytes(300, ' '), text(40), Bytes(7000, ' ')})},
        {"runs of every length", [&] {
             Bytes all;
             for (int length = 3; length < 40; ++length)
                 for (int k = 0; k < 30; ++k) {
                     all.insert(all.end(), size_t(length + k % 3), static_cast<unsigned char>(k % 2 ? ' ' : 0));
                     Bytes words = text(5 + k % 7);
                     all.insert(all.end(), words.begin(), words.end());
                 }
             return all;
         }()},
        {"more short runs than records kept", shortRuns},
        {"runs that no token starts in, then runs that tokens do start in", [&] {
             // Blocks of 18 bytes repeat at a distance below the window, so that after the
             // first round every token is an 18-byte copy starting at a block's first byte.
             Bytes period;
             for (int block = 0; block < 200; ++block) {
                 period.push_back('Q');
                 for (int k = 0; k < 13; ++k) period.push_back(static_cast<unsigned char>('b' + rng() % 24));
                 period.insert(period.end(), {'a', 'a', 'a', 'z'});
             }
             Bytes all;
             while (all.size() < 700000) all.insert(all.end(), period.begin(), period.end());
             for (int k = 0; k < 60; ++k) {
                 all.insert(all.end(), size_t(3 + k % 4), 'a');
                 all.push_back(static_cast<unsigned char>('b' + rng() % 3));
             }
             return all;
         }()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.meaning);
        ExpectSameAsReference(c.file);
        if (HasFatalFailure()) return;
    }
}

// Data that repeats with a short period puts a full-length match every period back
// through the window; the farthest one is computed rather than walked to, so the
// period's start and end, changes of period and phase, and a broken repetition all count.
TEST(Compressor, MatchesTheReferenceOnRepeatingData) {
    std::mt19937 rng(13);
    auto repeat = [](const Bytes& unit, size_t n) {
        Bytes out;
        while (out.size() < n) out.push_back(unit[out.size() % unit.size()]);
        return out;
    };
    auto join = [](std::initializer_list<Bytes> parts) {
        Bytes all;
        for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
        return all;
    };
    auto random = [&](size_t n) { return Generate(Kind::Random, n, rng); };
    const Bytes rgba = {0xFF, 0x20, 0x10, 0xFF}, red = {0xFF, 0x00, 0x00, 0xFF};
    Bytes broken = repeat(Text("abcdefg"), 30000);
    broken[20000] = 'x';
    const struct {
        const char* meaning;
        Bytes file;
    } cases[] = {
        {"three bytes again and again", repeat(Text("abc"), 60000)},
        {"pixels of two colours in turn", join({repeat(rgba, 9000), repeat(red, 20000), repeat(rgba, 9000), random(50)})},
        {"a colour again within the window",
         join({random(3000), repeat(rgba, 600), repeat(red, 1200), repeat(rgba, 3000), random(20), repeat(red, 900)})},
        {"periods 17, 32 and 33 after each other",
         join({repeat(random(17), 20000), repeat(random(32), 20000), repeat(random(33), 20000)})},
        {"a repetition from the first byte, against the space prefix", repeat(Text("  x"), 30000)},
        {"one byte broken inside a long repetition", broken},
        {"the phase shifts by one byte", join({repeat(Text("abcd"), 10001), repeat(Text("bcda"), 10000)})},
        // Periods longer than the bytes left at the last searches.
        {"a period of 29 bytes up to the last byte", repeat(random(29), 5000 + 29 * 40 + 7)},
        {"a period of 32 bytes up to the last byte", join({random(100), repeat(random(32), 6000 + 19)})},
        {"a period found 25 bytes before the end", [&] {
             // Many places start alike, so the search at the second copy walks far and
             // then tries the copy's distance as a period; one more search follows.
             auto letters = [&](size_t n) {
                 Bytes b(n);
                 for (auto& x : b) x = static_cast<unsigned char>('a' + rng() % 26);
                 return b;
             };
             Bytes all;
             for (int k = 0; k < 40; ++k) all = join({all, letters(10), Text("ABC")});
             Bytes copy = join({Text("ABC"), letters(15)});
             return join({all, Text("!"), copy, letters(11), Text("?"), copy, letters(7)});
         }()},
        // A record's farthest copy is remembered by its bytes until it leaves the window.
        {"records that come back after their farthest copy left the window", [&] {
             const Bytes record = random(64), other = random(64);
             Bytes all;
             for (int k = 0; k < 60; ++k)
                 all = join({all, k % 3 ? record : other, random(600 + rng() % 900), record, random(rng() % 50)});
             return all;
         }()},
        {"short stretches between random bytes", [&] {
             Bytes all;
             while (all.size() < 120000) {
                 Bytes unit = random(3 + rng() % 30);
                 Bytes part = repeat(unit, 40 + rng() % 6000);
                 all.insert(all.end(), part.begin(), part.end());
                 Bytes noise = random(rng() % 40);
                 all.insert(all.end(), noise.begin(), noise.end());
             }
             return all;
         }()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.meaning);
        ExpectSameAsReference(c.file);
        if (HasFatalFailure()) return;
    }
}

// Records longer than the short periods are found by their phase and the chains back from
// there; each case aims at one way that can go wrong.
TEST(Compressor, MatchesTheReferenceOnRepeatedRecords) {
    using hard_inputs::RepeatedRecords;
    std::mt19937 rng(17);
    auto join = [](std::initializer_list<Bytes> parts) {
        Bytes all;
        for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
        return all;
    };
    auto changed = [&](Bytes file, size_t every, size_t at) {
        for (size_t k = at; k < file.size(); k += every) file[k] ^= static_cast<unsigned char>(1 + rng() % 255);
        return file;
    };
    auto zeroed = [](Bytes file, size_t period, size_t from, size_t count) {
        for (size_t k = 0; k + from + count <= file.size(); k += period) std::fill_n(file.begin() + k + from, count, 0);
        return file;
    };
    // A record that holds the same bytes twice: places of other phases match too, and
    // may come before the first place of the searched one.
    auto twice = [&](const Bytes& same) {
        const Bytes record = join({same, Generate(Kind::Random, 30, rng), same, Generate(Kind::Random, 41, rng)});
        Bytes all;
        while (all.size() < 40000) all = join({all, record});
        return changed(all, 997, 500);
    };
    const struct {
        const char* meaning;
        Bytes file;
    } cases[] = {
        {"33 bytes, whole", RepeatedRecords(33, 0, 20000, 1)},
        {"a record that holds the same bytes twice", twice(Generate(Kind::Random, 24, rng))},
        {"... that start with a run", twice(join({Bytes(5, 0), Generate(Kind::Random, 19, rng)}))},
        {"45 bytes, a byte changed in 20 %", RepeatedRecords(45, 20, 30000, 2)},
        {"100 bytes, a byte changed in 2 %", RepeatedRecords(100, 2, 40000, 3)},
        {"as long as the window", RepeatedRecords(4095, 2, 30000, 4)},
        {"longer than the window", RepeatedRecords(4096, 0, 20000, 5)},
        {"every record changed in its first three bytes", changed(RepeatedRecords(64, 0, 20000, 6), 64, 1)},
        {"every record changed at the same place", changed(RepeatedRecords(200, 0, 30000, 7), 200, 150)},
        {"records that start with zeros", zeroed(RepeatedRecords(48, 20, 30000, 8), 48, 0, 5)},
        {"a run longer than a match in each record", zeroed(RepeatedRecords(80, 2, 30000, 9), 80, 30, 25)},
        {"the record's length changes",
         join({RepeatedRecords(100, 2, 15000, 10), RepeatedRecords(150, 2, 15000, 11), RepeatedRecords(40, 0, 9000, 12)})},
        {"records between other data",
         join({RepeatedRecords(60, 0, 5000, 13), Generate(Kind::TextLike, 3000, rng), RepeatedRecords(60, 20, 9000, 13)})},
        {"records up to the last byte", RepeatedRecords(77, 2, 77 * 90 + 5, 14)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.meaning);
        ExpectSameAsReference(c.file);
        if (HasFatalFailure()) return;
    }
}

} // namespace
