#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/config_samples.h"
#include "tests/support/host_runner.h"
#include "tests/support/temp_dir.h"
#include "tools/archive_session.h"
#include "tools/plugin_api.h"

namespace {

using namespace cfg;

TEST(DecodeCommand, WorkedExampleToAFileAndToStandardOutput) {
    TempDir dir;
    std::string config = dir.File("vehicles.bin");
    SaveConfig(config, WriteTeskConfig(WorkedExample()));
    HostRun toFile = RunHostCommand({"decode", config, "-o", dir.File("vehicles.cpp")});
    ASSERT_EQ(toFile.status, 0) << toFile.err;
    EXPECT_EQ(ReadFileText(dir.File("vehicles.cpp")), WorkedExampleText(true));
    HostRun toStdout = RunHostCommand({"--quiet", "decode", config});
    ASSERT_EQ(toStdout.status, 0) << toStdout.err;
    EXPECT_EQ(toStdout.out, WorkedExampleText(true)) << "standard output passes CR LF through unchanged";
}

TEST(DecodeCommand, BothLayoutsOfTheSample) {
    for (bool tesk : {true, false}) {
        SCOPED_TRACE(tesk ? "tesk" : "kyr");
        TempDir dir;
        std::string config = dir.File("sample.bin");
        SaveConfig(config, SampleConfigFile(tesk));
        HostRun run = RunHostCommand({"decode", config, "-o", dir.File("sample.cpp")});
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(ReadFileText(dir.File("sample.cpp")), SampleConfigText(tesk));
    }
}

TEST(DecodeCommand, CommentsFollowTheSettingsFile) {
    TempDir dir;
    std::string config = dir.File("vehicles.bin");
    SaveConfig(config, WriteTeskConfig(WorkedExample()));
    std::string ini = dir.File("wincmd.ini");
    WriteFileText(ini, "[PackerPlugins]\r\nbin=95,kyrzbk\r\n[KYRZBK_HLV]\r\nWriteCppComments=0\r\n");
    HostRun run = RunHostCommand({"--ini", ini, "decode", config, "-o", dir.File("out.cpp")});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ReadFileText(dir.File("out.cpp")), WorkedExampleText(false));
}

TEST(DecodeCommand, FailuresAreReportedAndWriteNothing) {
    TempDir dir;
    ConfigDescription bad;
    bad.root.entries = {RawEntry({9})};
    SaveConfig(dir.File("bad.bin"), WriteKyrConfig(bad));
    WriteFileText(dir.File("text.bin"), "this is not a configuration file\r\n");
    struct Case {
        const char* what;
        std::vector<std::string> args;
        int status;
    } cases[] = {
        {"bad data", {"decode", dir.File("bad.bin"), "-o", dir.File("out.cpp")}, 12},
        {"not a configuration", {"decode", dir.File("text.bin"), "-o", dir.File("out.cpp")}, 14},
        {"no file given", {"decode"}, 2},
        {"-o without a name", {"decode", dir.File("bad.bin"), "-o"}, 2},
        {"two files", {"decode", dir.File("bad.bin"), dir.File("text.bin")}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HostRun run = RunHostCommand(c.args);
        EXPECT_EQ(run.status, c.status);
        EXPECT_FALSE(run.err.empty());
        EXPECT_FALSE(FileExists(dir.File("out.cpp")));
    }
}

TEST(DecodeCommand, ShippedExamplesAreTheSamples) {
    namespace fs = std::filesystem;
    fs::path examples = fs::path(__FILE__).parent_path().parent_path().parent_path() / "examples";
    if (!fs::exists(examples / "tesk_config.bin")) GTEST_SKIP() << "source tree not reachable from here";
    for (bool tesk : {true, false}) {
        std::string file = (examples / (tesk ? "tesk_config.bin" : "kyr_config.bin")).string();
        SCOPED_TRACE(file);
        EXPECT_EQ(ToHex(ReadFileBytes(file)), ToHex(SampleConfigFile(tesk))) << "regenerate with kyrzbk_make_examples examples examples";
        HostRun run = RunHostCommand({"--quiet", "decode", file});
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, SampleConfigText(tesk));
    }
}

// The file manager's own order of calls, through the plug-in's exports.
class ConfigThroughExports : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(api.Load(TestPluginPath(), &error)) << error;
        api.SetDefaultParams("");
        reports.clear();
        abortAt = 0;
    }

    static int KYR_CALL Progress(char* text, int count) {
        reports.emplace_back(text ? text : "<null>", count);
        return static_cast<int>(reports.size()) == abortAt ? 0 : 1;
    }

    PluginApi api;
    TempDir dir;
    static std::vector<std::pair<std::string, int>> reports;
    static int abortAt;
};

std::vector<std::pair<std::string, int>> ConfigThroughExports::reports;
int ConfigThroughExports::abortAt = 0;

TEST_F(ConfigThroughExports, ListingShowsOneEntryWithTheTextSize) {
    for (bool tesk : {true, false}) {
        SCOPED_TRACE(tesk ? "tesk" : "kyr");
        std::string config = dir.File(tesk ? "t.bin" : "k.bin");
        Bytes bytes = SampleConfigFile(tesk);
        SaveConfig(config, bytes);
        EXPECT_EQ(api.CanYouHandleThisFile(&config[0]), 1);
        ArchiveSession list(api, config, PK_OM_LIST);
        ASSERT_EQ(list.Open(Progress), 0);
        tHeaderData h;
        ASSERT_EQ(list.NextHeader(&h), 0);
        EXPECT_STREQ(h.FileName, tesk ? "t.cpp" : "k.cpp");
        EXPECT_EQ(h.UnpSize, static_cast<int>(SampleConfigText(tesk).size()));
        EXPECT_EQ(h.PackSize, static_cast<int>(bytes.size()) - (tesk ? 16 : 8));
        EXPECT_EQ(list.Process(PK_SKIP, "", ""), 0);
        EXPECT_EQ(list.NextHeader(&h), 10);
        EXPECT_EQ(list.Close(), 0);

        ArchiveSession extract(api, config, PK_OM_EXTRACT);
        ASSERT_EQ(extract.Open(Progress), 0);
        ASSERT_EQ(extract.NextHeader(&h), 0);
        EXPECT_EQ(h.UnpSize, static_cast<int>(bytes.size())) << "extract mode shows the file size";
        EXPECT_EQ(extract.Process(PK_EXTRACT, dir.path() + "/", "out.cpp"), 0);
        EXPECT_EQ(ReadFileText(dir.File("out.cpp")), SampleConfigText(tesk));
    }
}

TEST_F(ConfigThroughExports, AbortedExtractionWritesNoFile) {
    std::string config = dir.File("a.bin");
    SaveConfig(config, SampleConfigFile(true));
    abortAt = 3; // the first report of the decode itself
    ArchiveSession session(api, config, PK_OM_EXTRACT);
    ASSERT_EQ(session.Open(Progress), 0);
    tHeaderData h;
    ASSERT_EQ(session.NextHeader(&h), 0);
    EXPECT_EQ(session.Process(PK_EXTRACT, "", dir.File("out.cpp")), 21);
    EXPECT_FALSE(FileExists(dir.File("out.cpp")));
    // The closing report brings what was accepted up to the file size; the refused one is not counted.
    ASSERT_GE(reports.size(), 4u);
    int accepted = 0;
    for (size_t i = 0; i < reports.size(); ++i)
        if (static_cast<int>(i) != abortAt - 1) accepted += reports[i].second;
    EXPECT_EQ(accepted, static_cast<int>(ReadFileBytes(config).size()));
}

} // namespace
