#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/support/host_runner.h"
#include "tests/support/sample_archive.h"
#include "tests/support/temp_dir.h"
#include "tests/support/zbk_writer.h"

namespace {

std::string LocalTime(unsigned seconds) {
    time_t t = static_cast<time_t>(seconds);
    struct tm local = *std::localtime(&t);
    char text[64];
    // The packed form of the Windows builds keeps even seconds only; Unix seconds keep all.
    int second = platform::HostTimeIsUnixSeconds() ? local.tm_sec : local.tm_sec / 2 * 2;
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, second);
    return text;
}

std::string Attr() { return std::to_string(platform::HostFileAttribute()); }

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class ZbkCommands : public ::testing::Test {
protected:
    std::string Write(const TestArchive& layout, const std::string& name = "archive.zbk") {
        std::string path = dir.File(name);
        WriteZbkArchive(path, layout);
        return path;
    }
    TempDir dir;
};

TEST_F(ZbkCommands, ListJsonEscapesNamesAndDecodesTimes) {
    TestArchive layout;
    layout.Signed(SignatureBlock({"Packer", "test"}))
        .Stored("dir/a.txt", std::string(100, 'a'), 1600000000)
        .Compressed("say \"hi\"\x01\t\xE9.txt", std::string(3000, 'z'), 1700000001);
    std::string archive = Write(layout);
    HostRun run = RunHostCommand({"--quiet", "list", "--json", archive});
    ASSERT_EQ(run.status, 0) << run.err;
    std::string separator = platform::HostSeparator() == '\\' ? "\\\\" : "/";
    // The host prints UTF-8: on Windows the stored byte arrives converted from the ANSI code
    // page; on Linux it is passed on unchanged.
    std::string eAcute;
    {
        platform::WideTextScope utf8;
        eAcute = platform::FromArchiveText("\xE9");
    }
    std::vector<std::string> expected = {
        "{\"name\": \"dir" + separator + "a.txt\", \"packSize\": 100, \"unpSize\": 100, \"time\": \"" +
            LocalTime(1600000000) + "\", \"attr\": " + Attr() + "}",
        "{\"name\": \"say \\\"hi\\\"\\u0001\\t" + eAcute + ".txt\", \"packSize\": " + std::to_string(layout.records[1].data.size()) +
            ", \"unpSize\": 3000, \"time\": \"" + LocalTime(1700000001) + "\", \"attr\": " + Attr() + "}",
    };
    EXPECT_EQ(Lines(run.out), expected);

    HostRun table = RunHostCommand({"list", archive});
    ASSERT_EQ(table.status, 0) << table.err;
    std::vector<std::string> lines = Lines(table.out);
    ASSERT_EQ(lines.size(), 4u);
    // Whichever form the plug-in hands over, the listing shows the same local time.
    EXPECT_TRUE(Contains(lines[1], "100") && Contains(lines[1], LocalTime(1600000000)) &&
                Contains(lines[1], HostName("dir\\a.txt")))
        << lines[1];
    EXPECT_TRUE(Contains(lines[2], "3000")) << lines[2];
    EXPECT_TRUE(Contains(lines[3], "2 entries")) << lines[3];
}

TEST_F(ZbkCommands, TimesSurviveListingAndExtraction) {
    // Time stamps are unsigned and reach past 2038; odd seconds are listed as the host's form keeps them.
    TestArchive layout;
    layout.Stored("late.txt", "late", 4000000001u).Compressed("early.txt", std::string(2000, 'e'), 1600000000);
    std::string archive = Write(layout);
    HostRun table = RunHostCommand({"--quiet", "list", archive});
    ASSERT_EQ(table.status, 0) << table.err;
    std::vector<std::string> lines = Lines(table.out);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_TRUE(Contains(lines[1], LocalTime(4000000001u) + "  late.txt")) << lines[1];
    EXPECT_TRUE(Contains(lines[2], LocalTime(1600000000) + "  early.txt")) << lines[2];

    HostRun run = RunHostCommand({"--quiet", "extract", archive, "-C", dir.File("out")});
    ASSERT_EQ(run.status, 0) << run.err;
    for (auto [name, time] : {std::pair<const char*, int64_t>{"late.txt", 4000000001}, {"early.txt", 1600000000}}) {
        SCOPED_TRACE(name);
        platform::FoundFile found;
        ASSERT_TRUE(platform::FindFile(dir.File(std::string("out/") + name).c_str(), &found));
        EXPECT_EQ(found.writeTime, time);
    }
}

TEST_F(ZbkCommands, OpenFailuresBecomeTheExitStatus) {
    std::string text = dir.File("text.zbk");
    WriteFileText(text, "not an archive");
    TestArchive shortData;
    shortData.Stored("a.txt", "hi");
    std::string cut = dir.File("cut.zbk");
    WriteFileBytes(cut, DropTail(shortData.Bytes(), 1));
    struct Case {
        std::string label, archive;
        int status;
    } cases[] = {
        {"not an archive", text, 14},
        {"missing", dir.File("missing.zbk"), 15},
        {"data area one byte short", cut, 12},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        for (const char* command : {"list", "verify", "extract"}) {
            SCOPED_TRACE(command);
            HostRun run = RunHostCommand({"--quiet", command, c.archive, "-C", dir.File("out")});
            if (std::string(command) != "extract") run = RunHostCommand({"--quiet", command, c.archive});
            EXPECT_EQ(run.status, c.status) << run.err;
            EXPECT_TRUE(Contains(run.err, "error " + std::to_string(c.status))) << run.err;
        }
    }
}

TEST_F(ZbkCommands, ExtractWritesEveryEntryBelowTheFolder) {
    std::string archive = Write(SampleArchive());
    HostRun run = RunHostCommand({"--quiet", "extract", archive, "-C", dir.File("out")});
    ASSERT_EQ(run.status, 0) << run.err;
    const TestArchive sample = SampleArchive();
    EXPECT_EQ(ReadFileText(dir.File("out/readme.txt")), std::string(sample.records[0].data.begin(), sample.records[0].data.end()));
    EXPECT_EQ(ReadFileBytes(dir.File("out/data/bytes.bin")), sample.records[3].data);
    EXPECT_EQ(ReadFileBytes(dir.File("out/scripts/intro.txt")).size(), sample.records[1].uncompressedSize);
    EXPECT_EQ(ReadFileBytes(dir.File("out/data/table.csv")).size(), sample.records[2].uncompressedSize);

    // Without -C the current folder receives the entries; a folder name selects what lies below it.
    HostRun named = RunHostCommand({"--quiet", "extract", archive, "DATA", "readme.txt"}, dir.path());
    ASSERT_EQ(named.status, 0) << named.err;
    EXPECT_TRUE(FileExists(dir.File("data/table.csv")));
    EXPECT_TRUE(FileExists(dir.File("data/bytes.bin")));
    EXPECT_TRUE(FileExists(dir.File("readme.txt")));
    EXPECT_FALSE(FileExists(dir.File("scripts")));

    HostRun unmatched = RunHostCommand({"--quiet", "extract", archive, "-C", dir.File("none"), "nothing.txt"});
    EXPECT_EQ(unmatched.status, 22);
    EXPECT_TRUE(Contains(unmatched.err, "nothing.txt")) << unmatched.err;
}

TEST_F(ZbkCommands, ExtractRefusesNamesLeadingOutsideTheFolder) {
    TestArchive layout;
    layout.Stored("..\\escape.txt", "x").Stored("\\absolute.txt", "x").Stored("C:\\drive.txt", "x");
    layout.Stored("inner\\..\\..\\climb.txt", "x").Stored("fine\\..hidden\\ok.txt", "kept");
    std::string archive = Write(layout);
    std::string out = dir.File("nest/out");
    HostRun run = RunHostCommand({"--quiet", "extract", archive, "-C", out});
    EXPECT_EQ(run.status, 12) << run.err;
    for (const char* name : {"escape.txt", "absolute.txt", "drive.txt", "climb.txt"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(Contains(run.err, name)) << run.err;
        EXPECT_FALSE(FileExists(dir.File(std::string("nest/") + name)));
        EXPECT_FALSE(FileExists(dir.File(name)));
    }
    EXPECT_EQ(ReadFileText(out + "/fine/..hidden/ok.txt"), "kept");
}

TEST_F(ZbkCommands, VerifyReportsEachFailingEntry) {
    std::string good = Write(SampleArchive(), "good.zbk");
    HostRun ok = RunHostCommand({"--quiet", "verify", good});
    EXPECT_EQ(ok.status, 0) << ok.err;
    EXPECT_TRUE(Contains(ok.out, "4 entries verified, 0 failed")) << ok.out;

    TestArchive layout;
    layout.Compressed("bad-sum.txt", std::string(2000, 's')).Compressed("damaged.txt", "some text to damage");
    layout.Stored("unreadable.bin", "").Stored("fine.txt", "fine");
    layout.records[0].data.back() ^= 1;
    layout.records[1].data[0] = 0x00;
    layout.records[1].data[1] = 0xFF;
    layout.records[2].uncompressedSize = 5000;
    HostRun bad = RunHostCommand({"--quiet", "verify", Write(layout, "bad.zbk")});
    EXPECT_EQ(bad.status, 13) << bad.err;
    EXPECT_TRUE(Contains(bad.err, "bad-sum.txt: error 13")) << bad.err;
    EXPECT_TRUE(Contains(bad.err, "damaged.txt: error 12")) << bad.err;
    EXPECT_TRUE(Contains(bad.err, "unreadable.bin: error 18")) << bad.err;
    EXPECT_FALSE(Contains(bad.err, "fine.txt")) << bad.err;
    EXPECT_TRUE(Contains(bad.out, "4 entries verified, 3 failed")) << bad.out;
}

TEST_F(ZbkCommands, InfoAndVerifyReadTheHeaderBlockAndTheIntegrityBlock) {
    TestArchive plain;
    plain.Stored("a.bin", std::string(3000, 'a')).Compressed("b.txt", std::string(2000, 'b'));
    TestArchive game = plain;
    game.Signed(SignatureBlock({"prefix", "my\\mod\\data", "Packer", "other"}));
    game.sealed = true;
    std::vector<unsigned char> damaged = game.Bytes();
    damaged[game.DataOffset(0) + 1000] ^= 1; // inside the stored entry, which has no checksum
    WriteFileBytes(dir.File("damaged.zbk"), damaged);
    struct Case {
        std::string archive;
        std::string json;
        int verifyStatus;
    } cases[] = {
        {Write(plain, "plain.zbk"),
         "{\"headerBlock\": false, \"properties\": [], \"entries\": 2, \"stored\": {\"count\": 1, \"bytes\": 3000}, "
         "\"compressed\": {\"count\": 1, \"packedBytes\": " + std::to_string(plain.records[1].data.size()) +
             ", \"unpackedBytes\": 2000}, \"integrity\": \"none\"}",
         0},
        {Write(game, "game.zbk"),
         "\"properties\": [{\"key\": \"prefix\", \"value\": \"my\\\\mod\\\\data\"}, {\"key\": \"Packer\", \"value\": "
         "\"other\"}], \"entries\": 2",
         0},
        {Write(game, "sealed.zbk"), "\"integrity\": \"valid\"}", 0},
        {dir.File("damaged.zbk"), "\"integrity\": \"mismatch\"}", 12},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.archive);
        HostRun info = RunHostCommand({"info", "--json", c.archive});
        EXPECT_EQ(info.status, 0) << info.err;
        EXPECT_TRUE(Contains(info.out, c.json)) << info.out;
        HostRun verify = RunHostCommand({"--quiet", "verify", c.archive});
        EXPECT_EQ(verify.status, c.verifyStatus) << verify.err;
        EXPECT_EQ(Contains(verify.err, "integrity block at the end does not match"), c.verifyStatus == 12) << verify.err;
    }
    HostRun text = RunHostCommand({"info", dir.File("game.zbk")});
    EXPECT_TRUE(Contains(text.out, "header block:    prefix = my\\mod\\data\n")) << text.out;
    EXPECT_EQ(RunHostCommand({"info", dir.File("missing.zbk")}).status, 15);
}

TEST_F(ZbkCommands, CommandsDescribeThemselves) {
    for (const char* command : {"list", "extract", "verify", "info"}) {
        SCOPED_TRACE(command);
        HostRun run = RunHostCommand({command, "--help"});
        EXPECT_EQ(run.status, 0);
        EXPECT_TRUE(Contains(run.out, std::string("kyrzbk [options] ") + command)) << run.out;
        EXPECT_GT(Lines(run.out).size(), 3u);
    }
    EXPECT_EQ(RunHostCommand({"list"}).status, 2);
    EXPECT_EQ(RunHostCommand({"verify", "a", "b"}).status, 2);
    EXPECT_EQ(RunHostCommand({"extract", "a.zbk", "-C"}).status, 2);
}

} // namespace
