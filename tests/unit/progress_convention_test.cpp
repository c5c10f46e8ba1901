// Every progress report of every operation, read the way the file managers read them: a
// positive count is bytes processed and adds up towards the operation's byte total; -1 to
// -100 and -1000 to -1100 are percentages; no other negative count means anything.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "common/multi_string.h"
#include "frame/exports.h"
#include "settings/settings_store.h"
#include "tests/support/temp_dir.h"
#include "tests/support/zbk_writer.h"

namespace fs = std::filesystem;

namespace {

std::vector<int> g_counts;
std::vector<std::string> g_texts; // "(null)" for a null text
size_t g_stopAt = SIZE_MAX;       // the call that answers stop

int KYR_CALL Record(char* text, int count) {
    g_counts.push_back(count);
    g_texts.push_back(text ? text : "(null)");
    return g_counts.size() - 1 == g_stopAt ? 0 : 1;
}

// What a host makes of the reports of one operation.
struct HostView {
    long long bytes = 0;
    std::vector<int> wholePercent;
    std::vector<int> meaningless; // negative counts outside both percentage ranges
};

HostView Read(const std::vector<int>& counts) {
    HostView view;
    for (int c : counts) {
        if (c > 0)
            view.bytes += c;
        else if (c <= -1000 && c >= -1100)
            view.wholePercent.push_back(-c - 1000);
        else if (c < -100)
            view.meaningless.push_back(c);
    }
    return view;
}

std::vector<unsigned char> Text(size_t n) {
    std::vector<unsigned char> b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<unsigned char>('a' + (i * 7 + i / 13) % 23);
    return b;
}

class ProgressConvention : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSettingsToDefaults();
        g_counts.clear();
        g_texts.clear();
        src = dir.File("src") + "/";
        fs::create_directories(src);
    }
    void TearDown() override { ResetSettingsToDefaults(); }

    int Pack(const std::vector<std::string>& names) {
        std::vector<char> list = MultiString(names);
        SetProcessDataProc(reinterpret_cast<void*>(-1), Record);
        return PackFiles(&archive[0], nullptr, &src[0], list.data(), 0);
    }
    // Extracts every entry; returns the sum of their unpacked sizes, the host's total.
    long long ExtractAll() {
        tOpenArchiveData open{};
        open.ArcName = &archive[0];
        open.OpenMode = PK_OM_EXTRACT;
        void* handle = OpenArchive(&open);
        EXPECT_NE(handle, nullptr);
        if (!handle) return -1;
        SetProcessDataProc(handle, Record);
        long long total = 0;
        tHeaderData header{};
        for (int i = 0; ReadHeader(handle, &header) == 0; ++i) {
            total += header.UnpSize;
            std::string target = dir.File("x" + std::to_string(i));
            EXPECT_EQ(ProcessFile(handle, PK_EXTRACT, nullptr, &target[0]), 0);
        }
        CloseArchive(handle);
        return total;
    }

    TempDir dir;
    std::string src;
    std::string archive = dir.File("a.zbk");
};

TEST_F(ProgressConvention, EveryOperationReportsBytesOrPercentages) {
    // Large enough for several compressor and decompressor steps and two copy chunks.
    WriteFileBytes(src + "big.dat", Text(1500000));
    WriteFileBytes(src + "notes.txt", Text(9000));
    WriteFileBytes(src + "tiny.txt", Text(2)); // marked for compression, too short: stored
    const long long sourceBytes = 1500000 + 9000 + 2;

    struct Step {
        const char* what;
        std::function<long long()> run; // the byte total a host expects, or 0 for none
    };
    std::vector<Step> steps = {
        {"create", [&] { return Pack({"big.dat", "notes.txt", "tiny.txt"}) == 0 ? sourceBytes : -1; }},
        {"extract", [&] { return ExtractAll(); }},
        {"update",
         [&] {
             WriteFileBytes(src + "more.txt", Text(5000));
             return Pack({"more.txt"}) == 0 ? 0 : -1;
         }},
        {"delete",
         [&] {
             std::vector<char> list = MultiString({"notes.txt"});
             SetProcessDataProc(reinterpret_cast<void*>(-1), Record);
             return DeleteFiles(&archive[0], list.data()) == 0 ? 0 : -1;
         }},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        g_counts.clear();
        long long total = step.run();
        ASSERT_GE(total, 0);
        HostView view = Read(g_counts);
        EXPECT_TRUE(view.meaningless.empty()) << "first: " << view.meaningless.front();
        EXPECT_EQ(view.bytes, total);
        if (total == 0) {
            // Percentages only, never going back, ending at 100.
            ASSERT_FALSE(view.wholePercent.empty());
            EXPECT_TRUE(std::is_sorted(view.wholePercent.begin(), view.wholePercent.end()));
            EXPECT_EQ(view.wholePercent.back(), 100);
        } else {
            EXPECT_TRUE(view.wholePercent.empty());
        }
    }
}

// An update or a deletion says nothing of its own while it works on one item but the
// share after it: a long item reports shares within it, in pieces, so that the host's bar
// moves and a stop is heard. The pieces lie between the shares around the item, and the
// item still ends with the share it always had.
TEST_F(ProgressConvention, LongItemsOfUpdatesAndDeletionsReportInPieces) {
    const size_t kLong = (17u << 20) + 5; // more than two pieces of 8 MiB
    auto deleteNamed = [&](const char* name) {
        std::vector<char> list = MultiString({name});
        SetProcessDataProc(reinterpret_cast<void*>(-1), Record);
        return DeleteFiles(&archive[0], list.data());
    };
    struct Row {
        const char* what;
        std::vector<std::string> packedFirst;
        std::function<int()> run;
        const char* announces; // the text before the long item (with count 0)
        const char* reports;   // the text of its pieces
    };
    const std::vector<Row> rows = {
        {"update storing a long file", {"a.txt"}, [&] { return Pack({"big.dat"}); }, "Packing file : ", "(null)"},
        {"update compressing a long file", {"a.txt"}, [&] { return Pack({"big.txt"}); }, "Compressing file : ", "(null)"},
        {"update keeping a long entry", {"a.txt", "big.dat"}, [&] { return Pack({"more.txt"}); },
         "Reorganizing archived file : big.dat", "(null)"},
        {"delete keeping a long entry", {"a.txt", "big.dat", "more.txt"}, [&] { return deleteNamed("more.txt"); },
         "File(s) deleted", "File(s) deleted, reorganizing archive ..."},
    };
    WriteFileBytes(src + "a.txt", Text(3000));
    WriteFileBytes(src + "more.txt", Text(4000));
    WriteFileBytes(src + "big.dat", Text(kLong));
    WriteFileBytes(src + "big.txt", Text(kLong));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        fs::remove(archive);
        ASSERT_EQ(Pack(row.packedFirst), 0);
        g_counts.clear();
        g_texts.clear();
        ASSERT_EQ(row.run(), 0);
        HostView view = Read(g_counts);
        EXPECT_TRUE(view.meaningless.empty());
        EXPECT_EQ(view.bytes, 0);
        EXPECT_TRUE(std::is_sorted(view.wholePercent.begin(), view.wholePercent.end()));
        // From the announcement on: the item's pieces, then the share after it.
        size_t at = 0;
        while (at < g_texts.size() && g_texts[at].rfind(row.announces, 0) != 0) ++at;
        ASSERT_LT(at, g_texts.size());
        const int before = at > 0 && g_counts[at - 1] < 0 ? g_counts[at - 1] : g_counts[at];
        std::vector<int> within;
        for (size_t i = at + 1; i < g_texts.size() && g_texts[i] == row.reports; ++i) within.push_back(g_counts[i]);
        ASSERT_GE(within.size(), 3u); // two pieces at least, and the share after the item
        const int after = within.back();
        within.pop_back();
        for (int share : within) {
            // Counts of shares go down as the percentage goes up; a piece near the item's end
            // may round to the share after it.
            EXPECT_LE(share, before);
            EXPECT_GE(share, after);
        }
        // A stop answered to the first piece ends the change there, the archive as it was.
        fs::remove(archive);
        ASSERT_EQ(Pack(row.packedFirst), 0);
        const std::vector<unsigned char> unchanged = ReadFileBytes(archive);
        g_counts.clear();
        g_texts.clear();
        g_stopAt = at + 1;
        EXPECT_EQ(row.run(), E_EABORTED);
        g_stopAt = SIZE_MAX;
        EXPECT_EQ(g_texts.size(), at + 2);
        EXPECT_EQ(ReadFileBytes(archive), unchanged);
    }
}

} // namespace
