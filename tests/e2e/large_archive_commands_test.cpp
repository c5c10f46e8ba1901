// Archives past 2 GiB and 4 GiB, made of sparse files, listed and extracted by the
// command-line host through the built plug-in (the Windows build's too, under wine).
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/host_runner.h"
#include "tests/support/sparse_archive.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr uint32_t kMiB = 1u << 20;
constexpr uint32_t kGiB = 1u << 30;

TEST(LargeArchiveCommands, ListAndExtractTheEntryBehindAHolePast2And4GiB) {
    struct Case {
        const char* label;
        std::vector<uint32_t> holes;
        bool compressed;
    } const cases[] = {
        {"2.7 GiB, stored entry last", {1536 * kMiB, 1229 * kMiB}, false},
        {"past 4 GiB, an entry of 4 GiB less one byte, compressed entry last", {0xFFFFFFFFu, 3 * kGiB}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        TempDir dir;
        std::string text;
        for (int i = 0; text.size() < 50000; ++i) text += "entry line " + std::to_string(i * 37 % 1001) + "\n";
        TestArchive tail;
        if (c.compressed) tail.Compressed("last.txt", text);
        else tail.Stored("last.txt", text);
        TestArchive layout = HoleArchive(c.holes, tail);
        std::string archive = dir.File("big.zbk");
        ASSERT_TRUE(WriteSparseArchive(archive, layout));

        HostRun json = RunHostCommand({"--quiet", "list", "--json", archive});
        ASSERT_EQ(json.status, 0) << json.err;
        std::vector<std::string> lines = Lines(json.out);
        ASSERT_EQ(lines.size(), c.holes.size() + 1);
        uint64_t unpacked = text.size(), packed = layout.records.back().data.size();
        for (size_t i = 0; i < c.holes.size(); ++i) {
            std::string size = std::to_string(c.holes[i]);
            EXPECT_NE(lines[i].find("\"packSize\": " + size + ", \"unpSize\": " + size), std::string::npos) << lines[i];
            unpacked += c.holes[i];
            packed += c.holes[i];
        }
        // The totals pass 4 GiB where the entries do.
        HostRun table = RunHostCommand({"--quiet", "list", archive});
        ASSERT_EQ(table.status, 0) << table.err;
        lines = Lines(table.out);
        ASSERT_FALSE(lines.empty());
        std::istringstream totals(lines.back());
        uint64_t shownUnpacked = 0, shownPacked = 0;
        totals >> shownUnpacked >> shownPacked;
        EXPECT_EQ(shownUnpacked, unpacked) << lines.back();
        EXPECT_EQ(shownPacked, packed) << lines.back();

        HostRun run = RunHostCommand({"--quiet", "extract", archive, "last.txt", "-C", dir.File("out")});
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(ReadFileText(dir.File("out/last.txt")), text);
    }
}

// Adding rewrites the archive: the hole is copied as real bytes, so this one costs disk
// and a few seconds.
TEST(LargeArchiveCommands, AFileAddedToAnArchivePast2GiBKeepsEveryEntry) {
    TempDir dir;
    std::error_code ec;
    if (std::filesystem::space(dir.path(), ec).available < (5ull << 30)) GTEST_SKIP() << "less than 5 GiB free";
    const std::string text = "the last entry\n", added = "a file added behind the hole\n";
    TestArchive tail;
    tail.Stored("last.txt", text);
    const uint32_t hole = 2 * kGiB + 5 * kMiB;
    std::string archive = dir.File("big.zbk");
    ASSERT_TRUE(WriteSparseArchive(archive, HoleArchive({hole}, tail)));
    std::filesystem::create_directories(dir.File("src"));
    WriteFileText(dir.File("src/added.txt"), added);

    HostRun pack = RunHostCommand({"--quiet", "pack", archive, dir.File("src"), "added.txt"});
    ASSERT_EQ(pack.status, 0) << pack.err;
    EXPECT_GT(std::filesystem::file_size(archive), uint64_t(hole));
    HostRun list = RunHostCommand({"--quiet", "list", "--json", archive});
    ASSERT_EQ(list.status, 0) << list.err;
    std::vector<std::string> lines = Lines(list.out);
    ASSERT_EQ(lines.size(), 3u);
    // Records are kept in name order: the added file comes first.
    EXPECT_NE(lines[1].find("\"unpSize\": " + std::to_string(hole)), std::string::npos) << lines[1];
    HostRun run = RunHostCommand({"--quiet", "extract", archive, "last.txt", "added.txt", "-C", dir.File("out")});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ReadFileText(dir.File("out/last.txt")), text);
    EXPECT_EQ(ReadFileText(dir.File("out/added.txt")), added);
}

} // namespace
