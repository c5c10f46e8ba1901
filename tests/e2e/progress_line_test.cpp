// The host's progress line from reports, byte totals and elapsed time, read as a person
// reads it: share, bytes done and in all, rate, time left, the item.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/support/host_runner.h"
#include "tests/support/temp_dir.h"
#include "tools/progress_line.h"

namespace {

constexpr uint64_t kMiB = 1ull << 20;
constexpr uint64_t kGiB = 1ull << 30;

struct Report {
    const char* text;
    int count;
};

struct Case {
    const char* what;
    uint64_t total;
    uint64_t counted; // what the byte counts add up to
    std::vector<Report> reports;
    double elapsed;
    const char* expected;
};

TEST(ProgressLine, ShowsShareBytesRateAndTimeLeft) {
    const char* longName = "mods/island/data/terrain/layers/texture_of_the_ground_0001_near.png";
    const Case cases[] = {
        {"a pack that has not begun: no rate yet", kGiB, kGiB, {{"src/big.dat", 0}}, 0.3,
         "[------------]   0%  0 B / 1.00 GiB  src/big.dat"},
        {"40 % of a GiB in four seconds", kGiB, kGiB, {{"src/big.dat", 214748365}, {"src/big.dat", 214748365}}, 4,
         "[####--------]  40%  410 MiB / 1.00 GiB  102 MiB/s  0:06 left  src/big.dat"},
        {"counts past 4 GiB add up", 8 * kGiB, 8 * kGiB,
         {{"big.dat", 2147483647}, {"big.dat", 2147483647}, {"big.dat", 2147483647}}, 30,
         "[########----]  74%  6.00 GiB / 8.00 GiB  205 MiB/s  0:10 left  big.dat"},
        {"an update's percentage of the host's total", 2 * kGiB, kGiB,
         {{"Reorganizing archived file : data/a.txt", 0}, {nullptr, -1025}}, 2,
         "[###---------]  25%  512 MiB / 2.00 GiB  256 MiB/s  0:06 left  .../a.txt"},
        {"a percentage of a total past 4 GiB", 6 * kGiB, 6 * kGiB, {{"x", -1050}}, 10,
         "[######------]  50%  3.00 GiB / 6.00 GiB  307 MiB/s  0:10 left  x"},
        {"a percentage without a total: no bytes", 0, 0, {{"File(s) deleted, reorganizing archive ...", -1050}}, 3,
         "[######------]  50%  0:03 left  File(s) deleted, reorganizing archive ..."},
        {"bytes without a total: no bar", 0, 0, {{"a.bin", 5000}}, 2, "4.88 KiB  2.44 KiB/s  a.bin"},
        {"an item's percentage goes with its name, not into the whole", 100, 100, {{"a", -50}, {"a", -70}}, 0.5,
         "[------------]   0%  0 B / 100 B  a 70%"},
        {"a new item has no percentage yet", 100, 100, {{"a", -50}, {nullptr, -60}, {"b", 10}}, 0.5,
         "[#-----------]  10%  10 B / 100 B  b"},
        {"a file that grew stops at the total", 1000, 1000, {{"a", 1500}}, 0.5, "[############] 100%  1000 B / 1000 B  a"},
        {"the last report of a whole percentage wins", 4 * kGiB, 4 * kGiB, {{"b", -1090}, {"b", -1020}}, 0.5,
         "[##----------]  20%  819 MiB / 4.00 GiB  b"},
        {"an update counts its files' bytes and copies the kept entries too", 3 * kGiB, kGiB,
         {{"added.txt", 1 << 29}}, 4, "[######------]  50%  1.50 GiB / 3.00 GiB  384 MiB/s  0:04 left  added.txt"},
        {"hours left", 64 * kGiB, 64 * kGiB, {{"huge", 1 << 30}}, 100,
         "[------------]   1%  1.00 GiB / 64.0 GiB  10.2 MiB/s  1:45:00 left  huge"},
        {"a long name keeps the end of its file name", kGiB, kGiB, {{longName, 100 * int(kMiB)}}, 10,
         "[#-----------]   9%  100 MiB / 1.00 GiB  10.0 MiB/s  1:32 left  ...001_near.png"},
        {"a long name keeps its file name", 0, 0, {{longName, -1000}}, 0.1,
         "[------------]   0%  .../texture_of_the_ground_0001_near.png"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ProgressLine line;
        line.Start(c.total, c.counted, 1000);
        for (const Report& r : c.reports) line.Report(r.text, r.count);
        std::string text = line.Text(1000 + c.elapsed);
        EXPECT_EQ(text, c.expected);
        EXPECT_LE(text.size(), ProgressLine::kWidth);
    }
}

TEST(ProgressLine, RedrawsAFewTimesASecond) {
    ProgressLine line;
    line.Start(kGiB, kGiB, 50);
    EXPECT_TRUE(line.Due(50)) << "the first report is shown at once";
    line.Drawn(50);
    const struct {
        double at;
        bool due;
    } steps[] = {{50.0, false}, {50.15, false}, {50.25, true}, {51, true}};
    for (const auto& s : steps) EXPECT_EQ(line.Due(s.at), s.due) << "at " << s.at;
}

TEST(ProgressLine, SizesAndDurationsInFewDigits) {
    const struct {
        uint64_t bytes;
        const char* text;
    } sizes[] = {{0, "0 B"},           {1023, "1023 B"},          {1024, "1.00 KiB"},
                 {1536, "1.50 KiB"},   {10 * kMiB, "10.0 MiB"},   {(4ull << 30) - 1, "4.00 GiB"},
                 {5 * kGiB, "5.00 GiB"}, {300 * kGiB, "300 GiB"}, {1ull << 42, "4.00 TiB"}};
    for (const auto& s : sizes) EXPECT_EQ(ByteSize(s.bytes), s.text) << s.bytes;
    const struct {
        double seconds;
        const char* text;
    } durations[] = {{0, "0:00"}, {6.4, "0:06"}, {59.6, "1:00"}, {3599, "59:59"}, {3600, "1:00:00"}, {90061, "25:01:01"}};
    for (const auto& d : durations) EXPECT_EQ(Duration(d.seconds), d.text) << d.seconds;
}

// The totals the commands find, as their first line on a terminal shows them; script(1)
// gives the host a pseudo-terminal.
TEST(ProgressLine, CommandsOnATerminalShowTheTotalTheyProcess) {
    // Under wine the path may lead to the Linux program, which the Windows shell cannot run.
    if (platform::HostSeparator() != '/' || !FileExists("/usr/bin/script"))
        GTEST_SKIP() << "no script(1) here for a pseudo-terminal";
    TempDir dir;
    std::string src = dir.File("src"), archive = dir.File("a.zbk");
    std::filesystem::create_directories(src + "/c");
    // All stored (.dat), so that an entry's packed size is its file's.
    const std::pair<const char*, size_t> files[] = {{"a.dat", 3000}, {"b.dat", 5000}, {"c/d.dat", 7000}, {"e.dat", 11000}};
    for (const auto& [name, size] : files) WriteFileBytes(src + "/" + name, std::vector<unsigned char>(size, 'x'));
    const struct {
        const char* what;
        std::vector<std::string> args;
        const char* total;
    } steps[] = {
        {"pack: the files", {"pack", archive, src, "a.dat", "b.dat", "c"}, "0 B / 14.6 KiB"},
        {"update: the added file and the kept entries", {"pack", archive, src, "e.dat"}, " / 25.4 KiB"},
        {"deleting a folder: the kept entries", {"delete", archive, "c/"}, " / 18.6 KiB"},
        {"delete: the kept entries", {"delete", archive, "b.dat"}, " / 13.7 KiB"},
        {"extract: the selected entries", {"extract", archive, "-C", dir.File("out"), "a.dat"}, " / 2.93 KiB"},
    };
    std::string typescript = dir.File("terminal.txt");
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        std::string command = platform::QuoteArgument(TestHostPath()) + " --plugin " + platform::QuoteArgument(TestPluginPath());
        for (const std::string& a : step.args) command += " " + platform::QuoteArgument(a);
        ASSERT_EQ(platform::RunCommandLine("script -qec " + platform::QuoteArgument(command) + " " +
                                           platform::QuoteArgument(typescript) + " >/dev/null"),
                  0);
        std::string shown = ReadFileText(typescript);
        EXPECT_NE(shown.find(step.total), std::string::npos) << shown;
    }
}

} // namespace
