#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "codec/decompressor.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_stream_encoder.h"
#include "tests/support/zbk_writer.h"

namespace {

struct ProgressLog {
    std::vector<std::pair<std::string, int>> calls;
    int answerFrom = -1; // index of the first call that answers 0; -1 never
};
ProgressLog* g_log = nullptr;

int KYR_CALL Record(char* text, int count) {
    g_log->calls.emplace_back(text ? text : "", count);
    return g_log->answerFrom >= 0 && static_cast<int>(g_log->calls.size()) > g_log->answerFrom ? 0 : 1;
}

struct Decoded {
    int result;
    std::string output; // after the window prefix
    std::string prefix;
};

Decoded Decode(const std::vector<unsigned char>& block, ProgressLog* log = nullptr, uint32_t hint = 0) {
    CTextBuffer out;
    g_log = log;
    int result = DecompressEntry(block.data(), static_cast<int32_t>(block.size()), "dir\\entry.txt", &out,
                                 log ? Record : nullptr, hint);
    g_log = nullptr;
    std::string all(out.Data() ? out.Data() : "", static_cast<size_t>(out.Length()));
    return {result, all.size() >= 18 ? all.substr(18) : "", all.substr(0, 18)};
}

std::string Text(const std::vector<unsigned char>& bytes) { return std::string(bytes.begin(), bytes.end()); }

// Hands the block out in pieces of one size; the sink may refuse from a chosen write on,
// and the source may run dry after a chosen number of bytes.
class PieceSource : public DecodeSource {
public:
    PieceSource(const std::vector<unsigned char>& block, size_t piece, size_t available)
        : m_block(block), m_piece(piece), m_available(std::min(available, block.size())) {}
    size_t Read(unsigned char* into, size_t n) override {
        size_t k = std::min({n, m_piece, m_available - m_next});
        std::memcpy(into, m_block.data() + m_next, k);
        m_next += k;
        return k;
    }

private:
    const std::vector<unsigned char>& m_block;
    size_t m_piece, m_available, m_next = 0;
};

class CollectingSink : public DecodeSink {
public:
    explicit CollectingSink(int refuseFrom = -1) : m_refuseFrom(refuseFrom) {}
    bool Write(const unsigned char* bytes, size_t n) override {
        if (m_refuseFrom >= 0 && m_writes++ >= m_refuseFrom) return false;
        out.append(reinterpret_cast<const char*>(bytes), n);
        return true;
    }
    std::string out;

private:
    int m_refuseFrom, m_writes = 0;
};

Decoded DecodeInPieces(const std::vector<unsigned char>& block, size_t piece, DecodeBufferSizes sizes,
                       ProgressLog* log) {
    PieceSource source(block, piece, SIZE_MAX);
    CollectingSink sink;
    g_log = log;
    int result = DecompressStream(source, block.size(), sink, "dir\\entry.txt", Record, sizes);
    g_log = nullptr;
    return {result, sink.out, ""};
}

TEST(DecompressStream, EveryPieceAndBufferSizeGivesTheSameBytesVerdictAndReports) {
    // Long enough that references cross many window moves, with text, runs and noise.
    std::vector<unsigned char> text;
    for (int i = 0; text.size() < 300000; ++i) {
        std::string word = "line " + std::to_string(i % 977) + (i % 5 ? " of words " : std::string(40, '-')) + "\n";
        text.insert(text.end(), word.begin(), word.end());
        if (i % 97 == 0)
            for (int k = 0; k < 300; ++k) text.push_back(static_cast<unsigned char>(k * 7919 % 251));
    }
    std::vector<unsigned char> wrongSum = EncodeTestStream(text);
    wrongSum[wrongSum.size() - 1] ^= 0x40;
    std::vector<unsigned char> cutReference = EncodeTestStream(text);
    cutReference.resize(cutReference.size() / 2);
    cutReference.insert(cutReference.end(), {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
    struct Block {
        const char* label;
        std::vector<unsigned char> bytes;
    } const blocks[] = {
        {"text", EncodeTestStream(text)},
        {"wrong checksum", wrongSum},
        {"cut half-way, zeros behind", cutReference},
        {"three literals", Hex("07 41 42 43 C6 00 00 00")},
    };
    const size_t pieces[] = {1, 2, 7, 17, 4096, SIZE_MAX};
    DecodeBufferSizes smallest, odd, roomy;
    smallest.input = smallest.output = 0;
    odd.input = 101;
    odd.output = 5000;
    const DecodeBufferSizes sizes[] = {smallest, odd, roomy};
    for (const Block& b : blocks) {
        SCOPED_TRACE(b.label);
        ProgressLog expectedLog;
        Decoded expected = Decode(b.bytes, &expectedLog);
        for (size_t piece : pieces) {
            for (const DecodeBufferSizes& size : sizes) {
                SCOPED_TRACE("piece " + std::to_string(piece) + ", buffers " + std::to_string(size.input) + "/" +
                             std::to_string(size.output));
                ProgressLog log;
                Decoded d = DecodeInPieces(b.bytes, piece, size, &log);
                EXPECT_EQ(d.result, expected.result);
                EXPECT_EQ(log.calls, expectedLog.calls);
                // The sink sees the whole output before the checksum is compared.
                if (expected.result == 0 || expected.result == E_BAD_ARCHIVE) {
                    EXPECT_TRUE(d.output == expected.output);
                }
            }
        }
    }
}

TEST(DecompressStream, ASourceThatRunsDryOrASinkThatRefusesEndsIt) {
    std::vector<unsigned char> plain(200000);
    for (size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<unsigned char>(i * i % 253);
    const std::vector<unsigned char> block = EncodeTestStream(plain);
    struct Case {
        const char* label;
        size_t available; // bytes the source has
        int refuseFrom;   // sink writes taken before it refuses; -1 never
        int result;
    } const cases[] = {
        {"nothing to read", 0, -1, E_EREAD},
        {"dry half-way through the tokens", block.size() / 2, -1, E_EREAD},
        {"dry inside the checksum", block.size() - 2, -1, E_EREAD},
        {"sink refuses the first write", SIZE_MAX, 0, E_EWRITE},
        {"sink refuses half-way", SIZE_MAX, 2, E_EWRITE},
        {"everything at hand", SIZE_MAX, -1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        PieceSource source(block, 1000, c.available);
        CollectingSink sink(c.refuseFrom);
        DecodeBufferSizes small;
        small.output = 50000;
        EXPECT_EQ(DecompressStream(source, block.size(), sink, "x", nullptr, small), c.result);
        if (c.result == 0) {
            EXPECT_TRUE(sink.out == Text(plain));
        }
    }
}

TEST(DecompressEntry, KnownStreams) {
    struct Case {
        const char* label;
        const char* block;
        int result;
        std::string output;
    } cases[] = {
        {"three literals", "07 41 42 43 C6 00 00 00", 0, "ABC"},
        {"reference into the prefix, then a literal", "02 01 00 58 B8 00 00 00", 0, "   X"},
        {"wrong checksum", "07 41 42 43 C7 00 00 00", E_BAD_ARCHIVE, "ABC"},
        {"a full group is followed by an empty flag byte", "FF 41 42 43 44 45 46 47 48 00 24 02 00 00", 0,
         "ABCDEFGH"},
        {"distance 1 repeats the byte just produced", "01 41 01 0F 01 0F 01 00 28 0A 00 00", 0, std::string(40, 'A')},
        {"reference of distance 2 overlapping its output", "03 61 62 02 04 6D 03 00 00", 0, "ababababa"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Decoded d = Decode(Hex(c.block));
        EXPECT_EQ(d.result, c.result);
        EXPECT_EQ(d.output, c.output);
        EXPECT_EQ(d.prefix, std::string(18, ' '));
    }
}

TEST(DecompressEntry, EmptyInputProducesNothing) {
    CTextBuffer out;
    unsigned char byte = 0x07;
    EXPECT_EQ(DecompressEntry(nullptr, 8, "x", &out, nullptr), 0);
    EXPECT_EQ(DecompressEntry(&byte, 0, "x", &out, nullptr), 0);
    EXPECT_EQ(out.Length(), 0);
}

TEST(DecompressEntry, LongestReferenceReachesBackFullWindow) {
    // 4095 distinct-ish bytes, then one reference of distance 4095 and length 18 (b0 = b1 = 0xFF).
    std::vector<unsigned char> plain;
    for (int i = 0; i < 4095; ++i) plain.push_back(static_cast<unsigned char>(i * 7 + i / 256));
    std::vector<unsigned char> stream;
    size_t lastFlag = 0;
    for (size_t i = 0; i < plain.size(); ++i) {
        if (i % 8 == 0) {
            lastFlag = stream.size();
            stream.push_back(0xFF);
        }
        stream.push_back(plain[i]);
    }
    // 4095 literals leave one slot in the last group; its clear bit makes it a reference.
    stream[lastFlag] = 0x7F;
    stream.push_back(0xFF);
    stream.push_back(0xFF);
    std::vector<unsigned char> expected = plain;
    expected.insert(expected.end(), plain.begin(), plain.begin() + 18);
    unsigned sum = ByteSum(expected);
    for (int i = 0; i < 4; ++i) stream.push_back(static_cast<unsigned char>(sum >> (8 * i)));
    // After 4095 literals and the reference the group is full, so an empty flag byte precedes the checksum.
    stream.insert(stream.end() - 4, 0x00);
    Decoded d = Decode(stream);
    EXPECT_EQ(d.result, 0);
    EXPECT_EQ(d.output, Text(expected));
}

TEST(DecompressEntry, EncodedDataRoundTrips) {
    std::vector<std::pair<std::string, std::vector<unsigned char>>> inputs;
    std::string text;
    for (int i = 0; i < 3000; ++i) text += "line " + std::to_string(i % 97) + " of the test text\r\n";
    inputs.emplace_back("text", Bytes(text));
    std::vector<unsigned char> noise(70000);
    unsigned state = 12345;
    for (unsigned char& c : noise) c = static_cast<unsigned char>((state = state * 1103515245u + 12345u) >> 16);
    inputs.emplace_back("noise", noise);
    inputs.emplace_back("runs", std::vector<unsigned char>(100000, 0));
    std::vector<unsigned char> periods;
    for (int period = 2; period < 20; ++period)
        for (int i = 0; i < 300; ++i) periods.push_back(static_cast<unsigned char>('a' + i % period));
    inputs.emplace_back("short periods", periods);
    inputs.emplace_back("one byte", Bytes("Z"));
    for (const auto& input : inputs) {
        SCOPED_TRACE(input.first);
        std::vector<unsigned char> stream = EncodeTestStream(input.second);
        for (uint32_t hint : {0u, static_cast<uint32_t>(input.second.size()), 0xFFFFFFFFu, 5u}) {
            SCOPED_TRACE("size hint " + std::to_string(hint));
            Decoded d = Decode(stream, nullptr, hint);
            EXPECT_EQ(d.result, 0);
            EXPECT_TRUE(d.output == Text(input.second));
        }
    }
}

TEST(DecompressEntry, ProgressStepsThenFinalReportsAndVerification) {
    // 5000 bytes of text from a block of about 1000 bytes.
    std::string text;
    for (int i = 0; text.size() < 5000; ++i) text += "word" + std::to_string(i % 50) + " ";
    text.resize(5000);
    std::vector<unsigned char> stream = EncodeTestStream(Bytes(text));
    ProgressLog log;
    Decoded d = Decode(stream, &log);
    ASSERT_EQ(d.result, 0);
    // Four steps of at least 1024 bytes, the final report, then the verification status.
    ASSERT_EQ(log.calls.size(), 6u);
    int reported = 0;
    for (size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE("step " + std::to_string(i));
        EXPECT_EQ(log.calls[i].first, "dir\\entry.txt");
        EXPECT_GE(log.calls[i].second, 1024);
        EXPECT_LT(log.calls[i].second, 1024 + 18);
        reported += log.calls[i].second;
    }
    // The counts add up to the bytes produced; the status text adds none.
    EXPECT_EQ(log.calls[4], std::make_pair(std::string("dir\\entry.txt"), 5000 - reported));
    EXPECT_EQ(log.calls[5], std::make_pair(std::string("Verifying extracted data ..."), 0));
}

TEST(DecompressEntry, ProgressCountsMatchATokenByTokenWalk) {
    // A stream of single-byte literals: each token adds one byte, so steps are exactly 1024.
    std::vector<unsigned char> plain(3000);
    for (size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<unsigned char>(i % 251);
    std::vector<unsigned char> stream = LiteralTestStream(plain);
    ProgressLog log;
    ASSERT_EQ(Decode(stream, &log).result, 0);
    ASSERT_EQ(log.calls.size(), 4u);
    EXPECT_EQ(log.calls[0].second, 1024);
    EXPECT_EQ(log.calls[1].second, 1024);
    EXPECT_EQ(log.calls[2].second, 3000 - 2048);
    EXPECT_EQ(log.calls[3].second, 0);
}

TEST(DecompressEntry, CallbackAnsweringZeroAborts) {
    struct Case {
        const char* label;
        size_t size;
        int answerFrom;
        size_t callsMade;
    } cases[] = {
        {"short entry aborts at the final report", 100, 0, 1},
        {"aborts at the verification report", 100, 1, 2},
        {"aborts at the first step", 5000, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::vector<unsigned char> plain(c.size);
        for (size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<unsigned char>(i * 31 % 253);
        ProgressLog log;
        log.answerFrom = c.answerFrom;
        EXPECT_EQ(Decode(EncodeTestStream(plain), &log).result, E_EABORTED);
        EXPECT_EQ(log.calls.size(), c.callsMade);
    }
}

TEST(DecompressEntry, DamagedStreamsAreRefusedWithinTheirBuffers) {
    struct Case {
        const char* label;
        const char* block;
    } cases[] = {
        {"only the checksum", "00 00 00 00 00"},
        {"shorter than a checksum", "07 41"},
        {"reference cut by the checksum", "00 01 00 00 00 00"},
        {"distance 0", "00 00 00 00 00 00 00"},
        {"distance beyond prefix and output", "00 14 00 00 00 00 00"},
        {"full group without its flag byte", "FF 41 42 43 44 45 46 47 48 24 02 00 00"},
        {"reference after a literal reaching 20 back", "01 41 14 00 00 00 00 00"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::vector<unsigned char> block = Hex(c.block);
        EXPECT_EQ(Decode(block).result, E_BAD_DATA);
    }
    // The same references are fine once the output reaches far enough back.
    EXPECT_EQ(Decode(Hex("00 12 00 00 00 00 00")).result, E_BAD_ARCHIVE);
}

} // namespace
