#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "frame/wcx.h"
#include "platform/platform.h"
#include "tests/support/host_runner.h"
#include "tests/support/temp_dir.h"

namespace {

// A relative --plugin names a file under the working folder, never one found on the
// system's library search path, and '/' works as a separator on every platform.
TEST(PluginLocation, RelativePathsAreTakenFromTheWorkingFolder) {
    TempDir work;
    std::filesystem::create_directory(work.File("sub"));
    std::filesystem::copy_file(TestPluginPath(), work.File(platform::PluginFileName()));
    std::filesystem::copy_file(TestPluginPath(), work.File(std::string("sub/") + platform::PluginFileName()));
    WriteFileText(work.File("not-a-plugin.wcx"), "plain text\n");

    struct Case {
        std::string plugin;
        int status;
        std::string out;
    } cases[] = {
        {platform::PluginFileName(), 0, "95\n"},
        {std::string("sub/") + platform::PluginFileName(), 0, "95\n"},
        {"not-a-plugin.wcx", E_EOPEN, ""},
        {"missing.wcx", E_EOPEN, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.plugin);
        HostRun run = RunHostCommand({"--plugin", c.plugin, "caps"}, work.path());
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_EQ(run.out, c.out);
    }
}

} // namespace
