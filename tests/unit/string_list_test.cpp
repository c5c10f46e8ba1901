#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/string_list.h"

namespace {

std::vector<std::string> Items(StringList& list) {
    std::vector<std::string> out;
    for (char* s = list.Rewind(); s; s = list.Next()) out.push_back(s);
    return out;
}

TEST(StringList, EmptyList) {
    StringList list;
    EXPECT_EQ(list.count, 0);
    EXPECT_EQ(list.size, 1);
    EXPECT_EQ(list.Next(), nullptr);
    EXPECT_FALSE(list.Find("a", false));
    StringList fromEmpty("");
    EXPECT_EQ(fromEmpty.size, 1);
    StringList fromNull(nullptr);
    EXPECT_EQ(fromNull.count, 0);
}

TEST(StringList, AddKeepsTheHostLayout) {
    StringList list;
    EXPECT_EQ(list.Add("txt"), 1);
    EXPECT_EQ(list.size, 5);
    EXPECT_EQ(std::string(list.buffer, 5), std::string("txt\0\0", 5));
    EXPECT_EQ(list.Add(""), -1);
    EXPECT_EQ(list.Add(nullptr), -1);
    EXPECT_EQ(list.Add("cpp"), 2);
    EXPECT_EQ(std::string(list.buffer, static_cast<size_t>(list.size)), std::string("txt\0cpp\0\0", 9));
    EXPECT_EQ(*list.cursor, 0);
}

TEST(StringList, FromMultiString) {
    StringList list("a\0bb\0");
    EXPECT_EQ(list.count, 2);
    EXPECT_EQ(list.size, 6);
    EXPECT_EQ(Items(list), (std::vector<std::string>{"a", "bb"}));
}

TEST(StringList, FindWithAndWithoutCase) {
    StringList list("bin\0txt\0");
    EXPECT_FALSE(list.Find("TXT", false));
    EXPECT_EQ(*list.cursor, 0);
    EXPECT_TRUE(list.Find("TXT", true));
    EXPECT_STREQ(list.cursor, "txt");
    EXPECT_TRUE(list.Find("bin", false));
    EXPECT_FALSE(list.Find("", true));
}

TEST(StringList, SortIsCaseInsensitive) {
    struct Case {
        const char* input;
        bool descending;
        std::vector<std::string> expected;
    } cases[] = {
        {"b\0A\0c\0", false, {"A", "b", "c"}},
        {"b\0A\0c\0", true, {"c", "b", "A"}},
        {"data\\b.txt\0Data\\A.txt\0abc\0", false, {"abc", "Data\\A.txt", "data\\b.txt"}},
        {"only\0", false, {"only"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        StringList list(c.input);
        int size = list.size;
        list.Sort(c.descending);
        EXPECT_EQ(Items(list), c.expected);
        EXPECT_EQ(list.size, size);
        EXPECT_EQ(list.buffer[list.size - 1], 0);
    }
}

TEST(StringList, ReleasedListCanBeAddedTo) {
    StringList list("x\0");
    list.Release();
    EXPECT_EQ(list.Add("y"), 1);
    EXPECT_EQ(Items(list), (std::vector<std::string>{"y"}));
}

} // namespace
