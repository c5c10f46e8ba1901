// Replays, through the plug-in's exports, the order in which the Linux file managers that
// load this interface drive a packer plug-in: settings once after loading, then per archive
// a listing pass and an extraction pass that names the whole target in DestName.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/multi_string.h"
#include "platform/platform.h"
#include "tests/support/config_samples.h"
#include "tests/support/host_runner.h"
#include "tests/support/temp_dir.h"
#include "tests/support/zbk_writer.h"
#include "tools/plugin_api.h"

namespace {

struct ListedEntry {
    std::string name;
    std::string arcName;
    int attr = 0;
    int unpSize = 0;
};

// The calls the plug-in makes back into the host while one pass runs.
struct Callbacks {
    static int KYR_CALL ChangeVolume(char*, int) {
        ++changeVolumeCalls;
        return 1;
    }
    static int KYR_CALL ProcessData(char*, int) {
        ++processDataCalls;
        return 1;
    }
    static int changeVolumeCalls;
    static int processDataCalls;
};
int Callbacks::changeVolumeCalls = 0;
int Callbacks::processDataCalls = 0;

// What the host sees of one archive, and the result codes of every step.
struct Pass {
    int openResult = -1;
    int endResult = -1; // ReadHeader's result that ended the loop
    int closeResult = -1;
    std::vector<ListedEntry> entries;
    std::vector<int> processResults;
};

class FileManagerOrder : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(api.Load(TestPluginPath(), &error)) << error;
        api.SetDefaultParams(""); // PackSetDefaultParams, once, before any archive
        Callbacks::changeVolumeCalls = Callbacks::processDataCalls = 0;
    }

    // OpenArchive, SetChangeVolProc, SetProcessDataProc, then ReadHeader and ProcessFile in
    // turn until ReadHeader ends, then CloseArchive. In extract mode each entry goes to
    // targetDir joined with its name, passed as DestName with a null DestPath.
    Pass Walk(const std::string& archive, int openMode, const std::string& targetDir = "") {
        Pass pass;
        std::vector<char> arcName(archive.begin(), archive.end());
        arcName.push_back(0);
        tOpenArchiveData open = {};
        open.ArcName = arcName.data();
        open.OpenMode = openMode;
        void* handle = api.OpenArchive(&open);
        pass.openResult = open.OpenResult;
        if (!handle) return pass;
        api.SetChangeVolProc(handle, Callbacks::ChangeVolume);
        api.SetProcessDataProc(handle, Callbacks::ProcessData);
        for (;;) {
            tHeaderData header;
            // Garbage where the plug-in must write, so that a missing terminator shows.
            std::memset(&header, 'x', sizeof header);
            pass.endResult = api.ReadHeader(handle, &header);
            if (pass.endResult != 0) break;
            header.FileName[sizeof header.FileName - 1] = 0;
            header.ArcName[sizeof header.ArcName - 1] = 0;
            pass.entries.push_back({header.FileName, header.ArcName, header.FileAttr, header.UnpSize});
            if (openMode == PK_OM_LIST) {
                pass.processResults.push_back(api.ProcessFile(handle, PK_SKIP, nullptr, nullptr));
            } else {
                std::string target = targetDir + platform::HostSeparator() + header.FileName;
                std::filesystem::create_directories(std::filesystem::path(target).parent_path());
                pass.processResults.push_back(api.ProcessFile(handle, PK_EXTRACT, nullptr, &target[0]));
            }
        }
        pass.closeResult = api.CloseArchive(handle);
        return pass;
    }

    PluginApi api;
    TempDir dir;
};

bool HostUsesSlash() { return platform::HostSeparator() == '/'; }

// The Linux file managers read FileAttr as a Unix mode; the Windows one as DOS attributes.
int ExpectedFileAttr() { return HostUsesSlash() ? 0100644 : 0x20; }

std::string HostName(std::string archiveName) {
    if (HostUsesSlash())
        for (char& c : archiveName)
            if (c == '\\') c = '/';
    return archiveName;
}

TEST_F(FileManagerOrder, ArchiveListedAndExtractedWithHostNames) {
    TestArchive layout;
    layout.Signed(SignatureBlock({"Packer", "test"}))
        .Stored("readme.txt", "top level\r\n", 1600000000)
        .Compressed("scripts\\intro\\start.sqs", std::string(4000, 'q') + "end", 1600000100)
        .Stored("data\\table.bin", std::vector<unsigned char>{0, 1, 2, 255}, 1600000200);
    std::string archive = dir.File("game.zbk");
    WriteZbkArchive(archive, layout);

    Pass list = Walk(archive, PK_OM_LIST);
    ASSERT_EQ(list.openResult, 0);
    EXPECT_EQ(list.endResult, E_END_ARCHIVE);
    EXPECT_EQ(list.closeResult, 0);
    ASSERT_EQ(list.entries.size(), layout.records.size());
    EXPECT_EQ(list.processResults, std::vector<int>(layout.records.size(), 0));
    for (size_t i = 0; i < layout.records.size(); ++i) {
        const TestRecord& record = layout.records[i];
        SCOPED_TRACE(record.name);
        EXPECT_EQ(list.entries[i].name, HostName(record.name));
        if (HostUsesSlash()) {
            EXPECT_EQ(list.entries[i].name.find('\\'), std::string::npos);
        }
        EXPECT_EQ(list.entries[i].attr, ExpectedFileAttr());
        uint32_t size = record.method == kZbkCompressed ? record.uncompressedSize : record.data.size();
        EXPECT_EQ(list.entries[i].unpSize, static_cast<int>(size));
    }

    std::string out = dir.File("out");
    Pass extract = Walk(archive, PK_OM_EXTRACT, out);
    ASSERT_EQ(extract.openResult, 0);
    EXPECT_EQ(extract.endResult, E_END_ARCHIVE);
    EXPECT_EQ(extract.closeResult, 0);
    EXPECT_EQ(extract.processResults, std::vector<int>(layout.records.size(), 0));
    EXPECT_EQ(ReadFileText(out + "/readme.txt"), "top level\r\n");
    EXPECT_EQ(ReadFileText(out + "/scripts/intro/start.sqs"), std::string(4000, 'q') + "end");
    EXPECT_EQ(ReadFileBytes(out + "/data/table.bin"), (std::vector<unsigned char>{0, 1, 2, 255}));

    EXPECT_GT(Callbacks::processDataCalls, 0) << "progress goes to the callback set on the handle";
    EXPECT_EQ(Callbacks::changeVolumeCalls, 0) << "no archive spans volumes";
}

TEST_F(FileManagerOrder, ConfigurationFilesOfBothGames) {
    for (bool tesk : {true, false}) {
        SCOPED_TRACE(tesk ? "second-game layout" : "first-game layout");
        std::string config = dir.File(tesk ? "tesk_config.bin" : "kyr_config.bin");
        cfg::SaveConfig(config, cfg::SampleConfigFile(tesk));

        Pass list = Walk(config, PK_OM_LIST);
        ASSERT_EQ(list.openResult, 0);
        EXPECT_EQ(list.endResult, E_END_ARCHIVE);
        EXPECT_EQ(list.closeResult, 0);
        EXPECT_EQ(list.processResults, std::vector<int>{0});
        ASSERT_EQ(list.entries.size(), 1u);
        EXPECT_EQ(list.entries[0].name, tesk ? "tesk_config.cpp" : "kyr_config.cpp");
        EXPECT_EQ(list.entries[0].arcName, config) << "the archive's own path comes back unchanged";
        EXPECT_EQ(list.entries[0].attr, ExpectedFileAttr());
        EXPECT_EQ(list.entries[0].unpSize, static_cast<int>(cfg::SampleConfigText(tesk).size()));

        std::string out = dir.File(tesk ? "tesk_out" : "kyr_out");
        std::filesystem::create_directory(out);
        Pass extract = Walk(config, PK_OM_EXTRACT, out);
        ASSERT_EQ(extract.openResult, 0);
        EXPECT_EQ(extract.endResult, E_END_ARCHIVE);
        EXPECT_EQ(extract.closeResult, 0);
        EXPECT_EQ(extract.processResults, std::vector<int>{0});
        EXPECT_EQ(ReadFileText(out + "/" + list.entries[0].name), cfg::SampleConfigText(tesk));
    }
    EXPECT_EQ(Callbacks::changeVolumeCalls, 0);
}

bool Holds(const std::vector<unsigned char>& bytes, const std::string& text) {
    return std::search(bytes.begin(), bytes.end(), text.begin(), text.end()) != bytes.end();
}

// Packing and deleting as the file manager asks for them: the callback is set with no
// handle, then PackFiles or DeleteFiles names files the host's way, with its separator.
TEST_F(FileManagerOrder, PackAndDeleteTakeHostNames) {
    std::filesystem::create_directories(dir.File("src/scripts/intro"));
    WriteFileText(dir.File("src/readme.txt"), "top level\r\n");
    WriteFileText(dir.File("src/scripts/intro/start.sqs"), std::string(3000, 'q'));
    std::string archive = dir.File("packed.zbk");
    std::string srcPath = dir.File("src") + platform::HostSeparator();

    api.SetProcessDataProc(nullptr, Callbacks::ProcessData);
    std::vector<char> addList = MultiString({"readme.txt", HostName("scripts\\intro\\start.sqs")});
    EXPECT_EQ(api.PackFiles(&archive[0], nullptr, &srcPath[0], addList.data(), 0), 0);
    EXPECT_GT(Callbacks::processDataCalls, 0);
    std::vector<unsigned char> bytes = ReadFileBytes(archive);
    EXPECT_TRUE(Holds(bytes, std::string("scripts\\intro\\start.sqs") + '\0')) << "stored with the archive's '\\'";

    Pass list = Walk(archive, PK_OM_LIST);
    ASSERT_EQ(list.entries.size(), 2u);
    EXPECT_EQ(list.entries[0].name, "readme.txt");
    EXPECT_EQ(list.entries[1].name, HostName("scripts\\intro\\start.sqs"));

    std::vector<char> deleteList = MultiString({HostName("scripts\\*.*")});
    api.SetProcessDataProc(nullptr, Callbacks::ProcessData);
    EXPECT_EQ(api.DeleteFiles(&archive[0], deleteList.data()), 0);
    list = Walk(archive, PK_OM_LIST);
    ASSERT_EQ(list.entries.size(), 1u);
    EXPECT_EQ(list.entries[0].name, "readme.txt");
}

// The file manager offers to copy files into, and delete from, any open archive, a
// configuration included.
TEST_F(FileManagerOrder, ConfigurationFilesAreNotWrittenTo) {
    WriteFileText(dir.File("readme.txt"), "top level\r\n");
    std::string srcPath = dir.path() + platform::HostSeparator();
    std::vector<char> addList = MultiString({"readme.txt"});
    for (bool tesk : {true, false}) {
        SCOPED_TRACE(tesk ? "second-game layout" : "first-game layout");
        std::string config = dir.File(tesk ? "tesk_config.bin" : "kyr_config.bin");
        cfg::SaveConfig(config, cfg::SampleConfigFile(tesk));
        EXPECT_EQ(api.PackFiles(&config[0], nullptr, &srcPath[0], addList.data(), 0), E_NOT_SUPPORTED);
        std::vector<char> entry = MultiString({tesk ? "tesk_config.cpp" : "kyr_config.cpp"});
        EXPECT_EQ(api.DeleteFiles(&config[0], entry.data()), E_NOT_SUPPORTED);
        EXPECT_EQ(ToHex(ReadFileBytes(config)), ToHex(cfg::SampleConfigFile(tesk)));
    }
}

// A POSIX file name may hold '\'; the host's own path must not be read as an archive name.
TEST_F(FileManagerOrder, ArchivePathWithABackslashComesBackUnchanged) {
    if (!HostUsesSlash()) GTEST_SKIP() << "'\\' separates folders on this platform";
    std::string folder = dir.File("odd\\folder");
    std::filesystem::create_directory(folder);
    std::string config = folder + "/settings.bin";
    cfg::SaveConfig(config, cfg::SampleConfigFile(true));
    Pass list = Walk(config, PK_OM_LIST);
    ASSERT_EQ(list.openResult, 0);
    ASSERT_EQ(list.entries.size(), 1u);
    EXPECT_EQ(list.entries[0].arcName, config);
    EXPECT_EQ(list.entries[0].name, "settings.cpp");
}

TEST_F(FileManagerOrder, UnknownFileIsRefusedAtOpen) {
    std::string text = dir.File("notes.zbk");
    WriteFileText(text, "neither an archive nor a configuration\n");
    struct Case {
        const char* label;
        std::string path;
        int openResult;
    } cases[] = {
        {"not an archive", text, E_UNKNOWN_FORMAT},
        {"missing file", dir.File("missing.zbk"), E_EOPEN},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        for (int mode : {PK_OM_LIST, PK_OM_EXTRACT}) {
            Pass pass = Walk(c.path, mode, dir.File("never"));
            EXPECT_EQ(pass.openResult, c.openResult);
            EXPECT_TRUE(pass.entries.empty());
        }
    }
    EXPECT_FALSE(FileExists(dir.File("never")));
}

} // namespace
