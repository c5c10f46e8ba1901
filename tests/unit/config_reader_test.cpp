#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "config/config_file_reader.h"
#include "config/string_table.h"
#include "tests/support/config_writer.h"
#include "tests/support/temp_dir.h"

namespace {

// An open file holding the given bytes, read through a CConfigFileReader.
class ReaderOver {
public:
    explicit ReaderOver(const std::vector<unsigned char>& bytes) {
        std::string path = m_dir.File("r.bin");
        WriteFileBytes(path, bytes);
        m_file = std::fopen(path.c_str(), "rb");
        reader.Attach(m_file);
    }
    ~ReaderOver() {
        reader.Detach();
        std::fclose(m_file);
    }
    CConfigFileReader reader;

private:
    TempDir m_dir;
    FILE* m_file = nullptr;
};

TEST(ConfigFileReader, CompressedIntegers) {
    struct Case {
        const char* hex;
        int32_t value; // -1: invalid
        int64_t consumed;
    } cases[] = {
        {"00", 0, 1},
        {"7F", 127, 1},
        {"80 01", 128, 2},
        {"85 80 01", 16389, 3},
        {"FF FF FF FF", (1 << 29) - 1, 4},  // a top bit in the fourth byte does not continue
        {"FF FF FF 7F FF", (1 << 28) - 1, 4},
        {"85 00", -1, 2},                   // continuation byte 0
        {"80 80 00", -1, 3},
        {"80 80 80 00", -1, 4},
        {"85", -1, 1},                      // cut short
        {"", -1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hex);
        ReaderOver r(Hex(c.hex));
        EXPECT_EQ(r.reader.ReadCompressedInt(), c.value);
        EXPECT_EQ(r.reader.Consumed(), c.consumed);
    }
}

TEST(ConfigFileReader, EncoderProducesTheShortestForm) {
    for (uint32_t v : {0u, 127u, 128u, 16383u, 16384u, 2097151u, 2097152u, (1u << 29) - 1}) {
        SCOPED_TRACE(v);
        ReaderOver r(cfg::CompressedInt(v));
        EXPECT_EQ(r.reader.ReadCompressedInt(), static_cast<int32_t>(v));
    }
}

TEST(ConfigFileReader, StringsAndNumbersAcrossPageBoundaries) {
    // Strings and numbers that straddle the reader's internal pages, and seeks back into
    // pages already left, must read exactly as a plain sequential read would.
    std::vector<unsigned char> bytes;
    std::vector<std::pair<size_t, std::string>> strings;
    for (int i = 0; bytes.size() < 300000; ++i) {
        std::string s(static_cast<size_t>(i * 37 % 5000), static_cast<char>('a' + i % 26));
        strings.emplace_back(bytes.size(), s);
        bytes.insert(bytes.end(), s.begin(), s.end());
        bytes.push_back(0);
    }
    ReaderOver r(bytes);
    for (size_t k = 0; k < strings.size(); ++k) {
        size_t i = k % 2 ? strings.size() - k : k; // alternate between both ends
        r.reader.Seek(static_cast<int64_t>(strings[i].first));
        bool terminated = false;
        char* s = r.reader.ReadZString(&terminated);
        ASSERT_NE(s, nullptr);
        EXPECT_TRUE(terminated);
        EXPECT_EQ(std::string(s), strings[i].second) << "string " << i;
        std::free(s);
    }
    r.reader.Seek(static_cast<int64_t>(bytes.size()) - 2);
    uint32_t u = 0;
    EXPECT_FALSE(r.reader.ReadU32(&u));
    r.reader.Seek(-4);
    uint8_t b = 0;
    EXPECT_FALSE(r.reader.ReadByte(&b));
}

TEST(ConfigFileReader, StringCutByTheEndOfTheFile) {
    ReaderOver r(Hex("61 62 63"));
    bool terminated = true;
    char* s = r.reader.ReadZString(&terminated);
    ASSERT_NE(s, nullptr);
    EXPECT_FALSE(terminated);
    EXPECT_STREQ(s, "abc");
    std::free(s);
    EXPECT_EQ(r.reader.ReadZString(&terminated), nullptr) << "nothing left to read";
}

TEST(StringTable, GrowsAndLooksUp) {
    CStringTable table;
    EXPECT_EQ(table.At(0), nullptr);
    for (int i = 0; i < 100; ++i) {
        char* s = static_cast<char*>(std::malloc(8));
        std::snprintf(s, 8, "s%d", i);
        ASSERT_EQ(table.Add(s), i);
    }
    EXPECT_EQ(table.Count(), 100);
    EXPECT_STREQ(table.At(0), "s0");
    EXPECT_STREQ(table.At(99), "s99");
    EXPECT_EQ(table.At(100), nullptr);
    EXPECT_EQ(table.At(-1), nullptr);
    table.Clear();
    EXPECT_EQ(table.Count(), 0);
    EXPECT_EQ(table.At(0), nullptr);
}

} // namespace
