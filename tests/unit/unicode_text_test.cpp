#include "common/unicode_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// One row per shape of text: its UTF-16 and its UTF-8 form, converted both ways.
struct RoundTrip {
    const char* what;
    std::u16string utf16;
    std::string utf8;
};

TEST(UnicodeText, ConvertsBothWays) {
    const std::vector<RoundTrip> rows = {
        {"empty", u"", ""},
        {"ASCII path", u"C:\\data\\a.zbk", "C:\\data\\a.zbk"},
        {"two-byte Cyrillic", u"Пётр", "\xD0\x9F\xD1\x91\xD1\x82\xD1\x80"},
        {"three-byte Japanese", u"ゲーム", "\xE3\x82\xB2\xE3\x83\xBC\xE3\x83\xA0"},
        {"pair beyond the BMP", u"\U0001F600x", "\xF0\x9F\x98\x80x"},
        {"highest code point", u"\U0010FFFF", "\xF4\x8F\xBF\xBF"},
        {"byte that is no UTF-8 (Latin-1 e acute)", std::u16string(u"caf") + char16_t(0xDCE9), "caf\xE9"},
        {"cut-off sequence", std::u16string(u"a") + char16_t(0xDCE3) + char16_t(0xDC82) + u"b", "a\xE3\x82" "b"},
    };
    for (const RoundTrip& row : rows) {
        SCOPED_TRACE(row.what);
        std::string utf8;
        ASSERT_TRUE(Utf16ToUtf8(row.utf16.c_str(), &utf8));
        EXPECT_EQ(utf8, row.utf8);
        EXPECT_EQ(Utf8ToUtf16(row.utf8.c_str()), row.utf16);
    }
}

TEST(UnicodeText, MalformedUtf8BecomesOneEscapePerByte) {
    // Overlong forms, encoded surrogates and values past U+10FFFF are no characters.
    const std::vector<std::pair<std::string, std::u16string>> rows = {
        {"\xC0\xAF", {0xDCC0, 0xDCAF}},
        {"\xED\xA0\x80", {0xDCED, 0xDCA0, 0xDC80}},
        {"\xF4\x90\x80\x80", {0xDCF4, 0xDC90, 0xDC80, 0xDC80}},
        {"\x80", {0xDC80}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.first);
        EXPECT_EQ(Utf8ToUtf16(row.first.c_str()), row.second);
        std::string back;
        ASSERT_TRUE(Utf16ToUtf8(row.second.c_str(), &back));
        EXPECT_EQ(back, row.first);
    }
}

TEST(UnicodeText, LoneSurrogatesOtherThanEscapedBytesAreRefused) {
    const std::vector<std::u16string> rows = {
        {u'a', char16_t(0xD800)},                 // high half at the end
        {char16_t(0xD83D), u'x'},                 // high half before no low half
        {char16_t(0xDC00)},                       // low half below the escaped bytes
        {char16_t(0xDC7F)},                       // would stand for an ASCII byte
        {char16_t(0xDE00), char16_t(0xD83D)},     // halves in the wrong order
    };
    for (const std::u16string& row : rows) {
        std::string out;
        EXPECT_FALSE(Utf16ToUtf8(row.c_str(), &out)) << std::hex << row[0];
    }
    // A pair cut by the count is half a pair.
    std::u16string pair = u"\U0001F600";
    std::string out;
    EXPECT_FALSE(Utf16ToUtf8(pair.c_str(), &out, 1));
    EXPECT_TRUE(Utf16ToUtf8(pair.c_str(), &out, 2));
}

TEST(UnicodeText, ListsKeepTheirShape) {
    const char16_t list[] = u"a.txt\0Папка\\б.txt\0\0";
    std::string out;
    ASSERT_TRUE(Utf16ListToUtf8(list, &out));
    EXPECT_EQ(out, std::string("a.txt\0\xD0\x9F\xD0\xB0\xD0\xBF\xD0\xBA\xD0\xB0\\\xD0\xB1.txt\0\0", 25));
    const char16_t bad[] = {u'a', 0, 0xD800, 0, 0};
    EXPECT_FALSE(Utf16ListToUtf8(bad, &out));
    ASSERT_TRUE(Utf16ListToUtf8(u"\0", &out));
    EXPECT_EQ(out, std::string(1, '\0'));
}

TEST(UnicodeText, FieldsAreCutBeforeAPairThatNoLongerFits) {
    struct Row {
        std::u16string text;
        size_t capacity;
        std::u16string expected;
    };
    const std::vector<Row> rows = {
        {u"abc", 8, u"abc"},
        {u"abcdef", 4, u"abc"},
        {u"ab\U0001F600", 4, u"ab"},          // the pair would lose its second half
        {u"ab\U0001F600", 5, u"ab\U0001F600"},
        {u"", 1, u""},
    };
    for (const Row& row : rows) {
        std::vector<char16_t> field(row.capacity + 1, u'#');
        CopyToField(field.data(), row.capacity, row.text);
        EXPECT_EQ(std::u16string(field.data()), row.expected);
        EXPECT_EQ(field[row.capacity], u'#') << "wrote past the field";
    }
}

} // namespace
