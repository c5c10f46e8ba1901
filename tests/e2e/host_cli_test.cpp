#include <gtest/gtest.h>

#include "tests/support/host_runner.h"

namespace {

TEST(HostCli, CapsThroughThePlugin) {
    HostRun run = RunHostCommand({"caps"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "95\n");
}

TEST(HostCli, VersionAndUsage) {
    HostRun version = RunHostCommand({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("kyrzbk ", 0), 0u);
    EXPECT_EQ(RunHostCommand({"frobnicate"}).status, 2);
    EXPECT_EQ(RunHostCommand({}).status, 2);
}

TEST(HostCli, MissingPluginIsReported) {
    HostRun run = RunHostCommand({"--plugin", "/nonexistent/kyrzbk.wcx", "caps"});
    EXPECT_EQ(run.status, 15);
    EXPECT_NE(run.err.find("cannot load plug-in"), std::string::npos);
}

} // namespace
