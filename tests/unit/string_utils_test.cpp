#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "common/string_utils.h"
#include "tests/support/temp_dir.h"

namespace {

struct Owned {
    char* p;
    explicit Owned(char* s) : p(s) {}
    ~Owned() { std::free(p); }
};

TEST(StringUtils, ReplaceAll) {
    struct Case {
        const char* source;
        const char* find;
        const char* replacement;
        const char* expected;
    } cases[] = {
        {"abc", "\"", "\"\"", "abc"},
        {"\"", "\"", "\"\"", "\"\""},
        {"a\"b\"", "\"", "\"\"", "a\"\"b\"\""},
        {"ab", "abc", "x", "ab"},        // find longer than the source
        {"aaaa", "aa", "b", "bb"},       // matches never overlap
        {"aaa", "aa", "b", "ba"},
        {"xyx", "x", nullptr, "y"},      // absent replacement deletes
        {"xx", "x", "", ""},             // everything deleted gives an empty string
        {"", "x", "y", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source);
        char* source = strdup(c.source);
        Owned result(ReplaceAll(source, c.find, c.replacement, true));
        ASSERT_NE(result.p, nullptr);
        EXPECT_STREQ(result.p, c.expected);
    }
}

TEST(StringUtils, ReplaceAllWithoutConsumeKeepsTheSource) {
    char source[] = "a\"b";
    Owned result(ReplaceAll(source, "\"", "''", false));
    EXPECT_STREQ(result.p, "a''b");
    EXPECT_STREQ(source, "a\"b");
    Owned copy(ReplaceAll(source, "z", "y", false));
    EXPECT_NE(copy.p, source);
    EXPECT_STREQ(copy.p, source);
}

TEST(StringUtils, FindFileNameAndExtension) {
    struct Case {
        const char* path;
        const char* fileName;
        const char* extension;
    } cases[] = {
        {"a\\b.bin", "b.bin", "bin"},     {"a\\b\\", "b\\", ""},        {"b.bin", "b.bin", "bin"},
        {"b.tar.bin", "b.tar.bin", "bin"}, {"x.y\\b", "b", ""},         {".bin", ".bin", ""},
        {"dir.d/conf", "conf", ""},       {"a/b/c.cpp", "c.cpp", "cpp"}, {"name.", "name.", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_STREQ(FindFileName(c.path), c.fileName);
        EXPECT_STREQ(FindExtension(c.path), c.extension);
    }
    EXPECT_EQ(FindFileName(""), nullptr);
    EXPECT_EQ(FindFileName(nullptr), nullptr);
    const char* empty = "";
    EXPECT_EQ(FindExtension(empty), empty);
}

TEST(StringUtils, ConcatAndCompare) {
    Owned both(ConcatStrings("D:\\out", "a.txt"));
    EXPECT_STREQ(both.p, "D:\\outa.txt");
    Owned left(ConcatStrings(nullptr, "b"));
    EXPECT_STREQ(left.p, "b");
    Owned right(ConcatStrings("a", nullptr));
    EXPECT_STREQ(right.p, "a");
    EXPECT_EQ(ConcatStrings(nullptr, nullptr), nullptr);

    EXPECT_EQ(CompareBytes("abcd", "abcx", 3), 0);
    EXPECT_EQ(CompareBytes("abcd", "abcx", 4), -1);
    EXPECT_EQ(CompareBytes("a", "b", 0), -1);  // at least one byte is compared
}

TEST(StringUtils, MakeDosDateTimePacksLocalTime) {
    // Tests run with TZ=UTC. 2020-09-13 12:26:40 UTC is 0x5F5E1000.
    uint32_t v = MakeDosDateTime(0x5F5E1000);
    EXPECT_EQ(v & 0x1F, 40u / 2);
    EXPECT_EQ((v >> 5) & 0x3F, 26u);
    EXPECT_EQ((v >> 11) & 0x1F, 12u);
    EXPECT_EQ((v >> 16) & 0x1F, 13u);
    EXPECT_EQ((v >> 21) & 0x0F, 9u);
    EXPECT_EQ(v >> 25, 2020u - 1980u);
    // 13:45:31: the odd second is dropped.
    EXPECT_EQ(MakeDosDateTime(13 * 3600 + 45 * 60 + 31) & 0x1F, 15u);
}

TEST(StringUtils, ReadZStringAndFileSize) {
    TempDir dir;
    std::string path = dir.File("z.bin");
    WriteFileBytes(path, {'a', 'b', 0, 0, 'c', 'd'});
    FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(GetOpenFileSize(f), 6);
    bool terminated = false;
    Owned first(ReadZString(f, &terminated));
    EXPECT_STREQ(first.p, "ab");
    EXPECT_TRUE(terminated);
    Owned empty(ReadZString(f, &terminated));
    EXPECT_STREQ(empty.p, "");
    EXPECT_EQ(std::ftell(f), 4);
    Owned cut(ReadZString(f, &terminated));  // reaches the end before its 0 byte
    EXPECT_STREQ(cut.p, "cd");
    EXPECT_FALSE(terminated);
    EXPECT_EQ(ReadZString(f), nullptr);
    EXPECT_EQ(GetOpenFileSize(f), 6);
    EXPECT_EQ(std::ftell(f), 6);  // the size probe keeps the position
    std::fclose(f);
    EXPECT_EQ(ReadZString(nullptr), nullptr);
    EXPECT_EQ(GetOpenFileSize(nullptr), -1);
}

} // namespace
