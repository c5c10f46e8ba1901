#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/host_runner.h"

namespace {

// Command names from the "commands:" section of kyrzbk --help.
std::vector<std::string> ListedCommands(const std::string& help) {
    std::vector<std::string> names;
    std::istringstream lines(help);
    bool inCommands = false;
    for (std::string line; std::getline(lines, line);) {
        if (line == "commands:") inCommands = true;
        else if (line.empty()) inCommands = false;
        else if (inCommands) names.push_back(line.substr(2, line.find(' ', 2) - 2));
    }
    return names;
}

// Options named in a usage line: "[--json] ARCHIVE [-C DIR]" gives --json and -C.
std::vector<std::string> UsageOptions(const std::string& usageLine) {
    std::vector<std::string> options;
    std::istringstream words(usageLine);
    for (std::string w; words >> w;) {
        while (!w.empty() && w[0] == '[') w.erase(0, 1);
        while (!w.empty() && (w.back() == ']' || w.back() == '.')) w.pop_back();
        if (w.size() > 1 && w[0] == '-' && w != "--help") options.push_back(w);
    }
    return options;
}

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

TEST(HostCli, EveryCommandExplainsItsUsage) {
    HostRun help = RunHostCommand({"--help"});
    ASSERT_EQ(help.status, 0);
    std::vector<std::string> commands = ListedCommands(help.out);
    for (const char* expected : {"list", "extract", "verify", "decode", "caps"})
        EXPECT_NE(std::find(commands.begin(), commands.end(), expected), commands.end()) << expected;
    for (const std::string& option : {"--plugin", "--ini", "--quiet", "--version", "--help"})
        EXPECT_NE(help.out.find("  " + option), std::string::npos) << option;

    for (const std::string& command : commands) {
        SCOPED_TRACE(command);
        HostRun run = RunHostCommand({command, "--help"});
        ASSERT_EQ(run.status, 0) << run.err;
        std::string usage = run.out.substr(0, run.out.find('\n'));
        EXPECT_EQ(usage.rfind("usage: kyrzbk [options] " + command, 0), 0u) << usage;
        std::string details = run.out.substr(run.out.find("\n\n") == std::string::npos ? run.out.size()
                                                                                         : run.out.find("\n\n"));
        EXPECT_GT(details.size(), 40u) << "a paragraph beyond the summary line";
        // Each option of the usage line has its own explaining line in the details.
        for (const std::string& option : UsageOptions(usage))
            EXPECT_NE(details.find("\n  " + option + " "), std::string::npos) << option << " in\n" << details;
    }
}

TEST(HostCli, QuietIsAcceptedAfterTheCommand) {
    HostRun run = RunHostCommand({"caps", "--quiet"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "95\n");
}

TEST(HostCli, MissingPluginIsReported) {
    HostRun run = RunHostCommand({"--plugin", "/nonexistent/kyrzbk.wcx", "caps"});
    EXPECT_EQ(run.status, 15);
    EXPECT_NE(run.err.find("cannot load plug-in"), std::string::npos);
}

} // namespace
