#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/platform.h"
#include "tests/support/host_runner.h"
#include "tests/support/temp_dir.h"

namespace {

// Where the plug-in has a dialog, the command waits for a user; the dialog has its own test
// under a virtual display.
class OptionsCommand : public ::testing::Test {
protected:
    void SetUp() override {
        if (platform::HasDialogManager()) GTEST_SKIP() << "the options dialog would wait for a user";
    }
    TempDir dir;
};

const char kNoDialog[] = "The plug-in has no options dialog on this system; edit its settings file instead.\n";

TEST_F(OptionsCommand, PrintsTheSectionThePluginReads) {
    struct Case {
        const char* name;
        const char* file;    // null: no such file
        const char* printed; // after the file's name line
    } cases[] = {
        {"the first section of the plug-in's name, up to its last line",
         "[Other]\r\nUseCompression=1\r\n[ KYRZBK_HLV ]\r\nUseCompression=0\r\n; note\r\n\r\nCompressAll=1\r\n\r\n"
         "[KYRZBK_HLV]\r\nWriteCppComments=0\r\n",
         "[ KYRZBK_HLV ]\nUseCompression=0\n; note\n\nCompressAll=1\n"},
        {"LF line ends and no line end at the end", "[KYRZBK_HLV]\nForceZbkSignature=1", "[KYRZBK_HLV]\nForceZbkSignature=1\n"},
        {"the name is matched with case", "[kyrzbk_hlv]\nUseCompression=0\n",
         "It has no [KYRZBK_HLV] section: the plug-in uses its built-in defaults.\n"},
        {"no such file", nullptr, "The plug-in uses its built-in defaults.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string ini = dir.File("plugins.ini");
        if (c.file) WriteFileText(ini, c.file);
        std::string before = c.file ? ReadFileText(ini) : "";
        HostRun run = RunHostCommand({"--ini", ini, "options"});
        EXPECT_EQ(run.status, 0) << run.err;
        std::string nameLine = "settings file: " + ini + (c.file ? "" : " (does not exist or cannot be read)") + "\n";
        EXPECT_EQ(run.out, kNoDialog + nameLine + c.printed);
        EXPECT_EQ(c.file ? ReadFileText(ini) : std::string(), before) << "the file is only read";
        EXPECT_EQ(FileExists(ini), c.file != nullptr);
        if (c.file) std::remove(ini.c_str());
    }
}

TEST_F(OptionsCommand, WithoutASettingsFile) {
    HostRun run = RunHostCommand({"options"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, std::string(kNoDialog) + "No settings file in use: give one with --ini FILE or KYRZBK_INI.\n");
    EXPECT_EQ(RunHostCommand({"options", "extra"}).status, 2);
}

} // namespace
