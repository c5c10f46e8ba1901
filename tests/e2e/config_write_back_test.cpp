// An edited configuration entry packed back into its file, through the plug-in's exported
// PackFiles as the file manager's edit-and-save calls it, and through the host's commands.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/multi_string.h"
#include "platform/platform.h"
#include "tests/support/config_samples.h"
#include "tests/support/config_text.h"
#include "tests/support/host_runner.h"
#include "tests/support/temp_dir.h"
#include "tools/plugin_api.h"

namespace {

using namespace cfg;

// The sample with a root name, which the text does not show and the file must keep.
ConfigDescription Original() {
    ConfigDescription c = SampleConfig();
    c.rootName = "VehicleRoot";
    return c;
}

ConfigDescription Edited() {
    ConfigDescription c = Original();
    c.constants[0].value = 130;
    c.root.entries.push_back(FloatValue("addedByHand", -0.00143862f));
    return c;
}

std::vector<std::string> FolderContents(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class ConfigWriteBack : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(api.Load(TestPluginPath(), &error)) << error;
        api.SetDefaultParams("");
    }
    PluginApi api;
};

TEST_F(ConfigWriteBack, OnlyTheEditedEntryIsTakenBackAndOnlyWhenItEncodes) {
    struct Case {
        const char* what;
        std::vector<std::string> names; // the add list; "ENTRY" stands for the entry's name
        const char* subPath;
        std::string tesk, kyr; // the text packed from the source folder, by layout
        int result;
        bool rewritten;
    } cases[] = {
        {"the edited entry", {"ENTRY"}, nullptr, ConfigText(Edited(), true, true), ConfigText(Edited(), false, true), 0,
         true},
        {"text the layout cannot hold", {"ENTRY"}, nullptr, "class A\r\n{\r\n", "class A;\r\n", 12, false},
        {"another name", {"notes.cpp"}, nullptr, ConfigText(Edited(), true, true), ConfigText(Edited(), false, true),
         24, false},
        {"the entry and another", {"ENTRY", "notes.cpp"}, nullptr, "x = 1;", "x = 1;", 24, false},
        {"below a sub-path", {"ENTRY"}, "docs", "x = 1;", "x = 1;", 24, false},
        {"entry missing from the folder", {"ENTRY"}, nullptr, "", "", 15, false},
    };
    for (bool tesk : {true, false}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(tesk ? "second-game layout: " : "first-game layout: ") + c.what);
            TempDir dir;
            std::string folder = dir.File("config");
            std::filesystem::create_directory(folder);
            std::string config = folder + "/vehicles.bin";
            Bytes before = EncodedConfig(Original(), tesk);
            SaveConfig(config, before);
            std::string src = dir.File("edit") + platform::HostSeparator();
            std::filesystem::create_directory(src);
            std::vector<std::string> names;
            for (const std::string& n : c.names) names.push_back(n == "ENTRY" ? "vehicles.cpp" : n);
            if (c.result != 15)
                for (const std::string& n : names) WriteFileText(src + n, tesk ? c.tesk : c.kyr);
            std::vector<char> addList = MultiString(names);
            std::string subPath = c.subPath ? c.subPath : "";

            int result = api.PackFiles(&config[0], c.subPath ? &subPath[0] : nullptr, &src[0], addList.data(), 0);
            EXPECT_EQ(result, c.result);
            Bytes expected = c.rewritten ? EncodedConfig(Edited(), tesk) : before;
            EXPECT_EQ(ToHex(ReadFileBytes(config)), ToHex(expected));
            EXPECT_EQ(FolderContents(folder), std::vector<std::string>{"vehicles.bin"}) << "no temporary file is left";
            std::vector<char> entry = MultiString({"vehicles.cpp"});
            EXPECT_EQ(api.DeleteFiles(&config[0], entry.data()), E_NOT_SUPPORTED);
            EXPECT_EQ(ToHex(ReadFileBytes(config)), ToHex(expected));
        }
    }
}

TEST(EncodeCommand, WritesEitherLayoutAndSaysWhereTextIsRefused) {
    TempDir dir;
    for (bool tesk : {true, false}) {
        SCOPED_TRACE(tesk ? "tesk" : "kyr");
        std::string text = dir.File("sample.cpp");
        WriteFileText(text, ConfigText(SampleConfig(), tesk, true));
        std::vector<std::string> layout = {"--layout", tesk ? "tesk" : "kyr"};
        std::vector<std::string> args = {"encode", text, "-o", dir.File("out.bin")};
        args.insert(args.end(), layout.begin(), layout.end());
        HostRun toFile = RunHostCommand(args);
        ASSERT_EQ(toFile.status, 0) << toFile.err;
        EXPECT_EQ(ToHex(ReadFileBytes(dir.File("out.bin"))), ToHex(EncodedConfig(SampleConfig(), tesk)));
        args = {"encode", text};
        args.insert(args.end(), layout.begin(), layout.end());
        HostRun toStdout = RunHostCommand(args);
        ASSERT_EQ(toStdout.status, 0) << toStdout.err;
        Bytes encoded = EncodedConfig(SampleConfig(), tesk);
        EXPECT_EQ(toStdout.out, std::string(encoded.begin(), encoded.end()));
    }
    WriteFileText(dir.File("bad.cpp"), "a = 1;\r\nclass B\r\n{\r\n\tb = red;\r\n};\r\n");
    HostRun bad = RunHostCommand({"encode", dir.File("bad.cpp"), "-o", dir.File("bad.bin")});
    EXPECT_EQ(bad.status, 12);
    EXPECT_NE(bad.err.find("bad.cpp:4:6: unquoted word 'red'"), std::string::npos) << bad.err;
    EXPECT_FALSE(FileExists(dir.File("bad.bin")));
    EXPECT_EQ(RunHostCommand({"encode", dir.File("bad.cpp"), "--layout", "other"}).status, 2);
}

TEST(PackCommand, PacksAnEditedEntryBackIntoItsConfiguration) {
    TempDir dir;
    std::string config = dir.File("vehicles.bin");
    SaveConfig(config, EncodedConfig(Original(), true));
    HostRun decode = RunHostCommand({"decode", config, "-o", dir.File("vehicles.cpp")});
    ASSERT_EQ(decode.status, 0) << decode.err;
    WriteFileText(dir.File("vehicles.cpp"), ConfigText(Edited(), true, true));
    HostRun pack = RunHostCommand({"pack", config, dir.path(), "vehicles.cpp"});
    ASSERT_EQ(pack.status, 0) << pack.err;
    EXPECT_EQ(ToHex(ReadFileBytes(config)), ToHex(EncodedConfig(Edited(), true)));

    WriteFileText(dir.File("vehicles.cpp"), "class A;\r\nwheels = 2147483648;\r\n");
    HostRun bad = RunHostCommand({"pack", config, dir.path(), "vehicles.cpp"});
    EXPECT_EQ(bad.status, 12);
    EXPECT_NE(bad.err.find("kyrzbk encode"), std::string::npos) << bad.err;
    EXPECT_EQ(ToHex(ReadFileBytes(config)), ToHex(EncodedConfig(Edited(), true)));
}

} // namespace
