#include <gtest/gtest.h>

#include <string>

#include "common/text_buffer.h"
#include "frame/wcx.h"
#include "tests/support/temp_dir.h"

namespace {

std::string Content(const CTextBuffer& b) { return std::string(b.Data(), static_cast<size_t>(b.Length())); }

void FillTo(CTextBuffer& b, int n) { b.AppendSpaces(n); }

TEST(TextBuffer, StartsWith4096BytesReserved) {
    CTextBuffer b;
    EXPECT_EQ(b.Capacity(), 4096);
    EXPECT_EQ(b.Length(), 0);
}

TEST(TextBuffer, ReserveGrowsByDoublingOrToExactSize) {
    struct Case {
        int n;
        int result;
        int capacity;
    } cases[] = {{96, 0, 4096}, {200, 4097, 8192}, {10000, 9905, 14000}, {-5, 0, 4096}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.n);
        CTextBuffer b;
        FillTo(b, 4000);
        EXPECT_EQ(b.Reserve(c.n), c.result);
        EXPECT_EQ(b.Capacity(), c.capacity);
        EXPECT_EQ(b.Length(), 4000);
    }
}

TEST(TextBuffer, GrowthKeepsContentAndZeroesNewRoom) {
    CTextBuffer b;
    std::string expected;
    for (int i = 0; i < 3000; ++i) {
        std::string piece = std::to_string(i) + ";";
        b.Append(piece.c_str());
        expected += piece;
    }
    EXPECT_EQ(Content(b), expected);
    EXPECT_GE(b.Capacity(), b.Length());
    EXPECT_EQ(b.Data()[b.Length()], 0);
}

TEST(TextBuffer, EmptyAppendsChangeNothing) {
    CTextBuffer b;
    EXPECT_EQ(b.Append(""), 0);
    EXPECT_EQ(b.Append(nullptr), 0);
    EXPECT_EQ(b.AppendBytes("x", 0), 0);
    EXPECT_EQ(b.AppendBytes(nullptr, 3), 0);
    EXPECT_EQ(b.AppendTabs(0), 0);
    EXPECT_EQ(b.AppendNewLines(-1), 0);
    EXPECT_EQ(b.Length(), 0);
}

TEST(TextBuffer, FormsAppendTheirText) {
    CTextBuffer b;
    EXPECT_EQ(b.AppendInt(-7), 2);
    EXPECT_EQ(b.AppendFloat(1.5f), 8);
    b.AppendBool(0x100);  // only the low byte counts
    b.AppendBool(1);
    b.AppendQuoted("a\"\"b");
    b.AppendTabs(2);
    b.AppendNewLines(2);
    b.AppendArrayAssign();
    b.AppendDefineKeyword();
    EXPECT_EQ(Content(b), "-71.50000001\"a\"\"b\"\t\t\r\n\r\n[] =#define");
}

TEST(TextBuffer, BinaryContentKeepsZeroBytes) {
    CTextBuffer b;
    const char bytes[] = {'a', 0, 'b'};
    EXPECT_EQ(b.AppendBytes(bytes, 3), 3);
    EXPECT_EQ(Content(b), std::string(bytes, 3));
}

TEST(TextBuffer, FinalizeTerminatesAndShrinks) {
    CTextBuffer b;
    b.Append("abc");
    b.Finalize();
    EXPECT_EQ(b.Capacity(), 3);
    EXPECT_EQ(b.Data()[3], 0);
    b.Append("d");  // grows again by the doubling rule
    EXPECT_EQ(Content(b), "abcd");
}

TEST(TextBuffer, FileWrites) {
    TempDir dir;
    CTextBuffer b;
    std::string path = dir.File("out.txt");
    WriteFileText(path, "old content");
    EXPECT_EQ(b.WriteToFile(path.c_str()), 0);
    EXPECT_EQ(ReadFileText(path), "");  // an empty buffer truncates

    b.Append("0123456789");
    EXPECT_EQ(b.WriteToFile(path.c_str()), 0);
    EXPECT_EQ(b.AppendToFile(path.c_str()), 0);
    EXPECT_EQ(ReadFileText(path), "01234567890123456789");

    EXPECT_EQ(b.WriteRangeToFile(path.c_str(), 7, 3), 0);
    EXPECT_EQ(ReadFileText(path), "789");
    // One byte past the end is refused before the file is touched.
    EXPECT_EQ(b.WriteRangeToFile(path.c_str(), 7, 4), E_EWRITE);
    EXPECT_EQ(b.WriteRangeToFile(path.c_str(), -1, 2), E_EWRITE);
    EXPECT_EQ(ReadFileText(path), "789");

    EXPECT_EQ(b.WriteToFile(dir.File("missing/dir/x").c_str()), E_ECREATE);
}

} // namespace
