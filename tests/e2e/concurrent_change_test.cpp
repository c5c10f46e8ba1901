// Two changes of one archive from two processes of the command-line host: the first is held
// inside its progress callback until the second reports that it waits, and both land.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/change_lock.h"
#include "platform/platform.h"
#include "tests/support/change_pairs.h"
#include "tests/support/host_runner.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> ChangeArgs(const std::string& archive, const std::string& src, const ArchiveChange& c) {
    std::vector<std::string> args = {"--quiet", c.add ? "pack" : "delete", archive};
    if (c.add) args.push_back(src);
    args.insert(args.end(), c.names.begin(), c.names.end());
    return args;
}

std::vector<std::string> ListedNames(const std::string& archive) {
    HostRun list = RunHostCommand({"--quiet", "list", "--json", archive});
    EXPECT_EQ(list.status, 0) << list.err;
    std::vector<std::string> names;
    for (const std::string& line : Lines(list.out)) {
        size_t at = line.find("\"name\": \"");
        if (at != std::string::npos) names.push_back(line.substr(at + 9, line.find('"', at + 9) - at - 9));
    }
    return names;
}

bool LogSays(const std::string& log, const std::string& text) {
    return FileExists(log) && ReadFileText(log).find(text) != std::string::npos;
}

TEST(ConcurrentChangeProcesses, TwoChangesOfOneArchiveTakeTurnsAndBothLand) {
    for (const ChangePair& pair : ChangePairs()) {
        SCOPED_TRACE(pair.name);
        TempDir dir;
        std::string src = dir.File("src"), archive = dir.File("out/a.zbk");
        fs::create_directories(src);
        fs::create_directories(dir.File("out"));
        WriteChangeSources(src);
        if (!pair.before.empty()) ASSERT_EQ(RunHostCommand(ChangeArgs(archive, src, {true, pair.before})).status, 0);

        std::string go = dir.File("go"), firstLog = dir.File("first.log"), secondLog = dir.File("second.log");
        HostRun first, second;
        platform::SetEnvironmentValue("KYRZBK_TEST_HOLD", go.c_str());
        platform::SetEnvironmentValue("KYRZBK_TEST_PROGRESS_LOG", firstLog.c_str());
        std::thread a([&] { first = RunHostCommand(ChangeArgs(archive, src, pair.first)); });
        bool firstInside = WaitUntil([&] { return FileExists(firstLog); });
        platform::SetEnvironmentValue("KYRZBK_TEST_HOLD", nullptr);
        platform::SetEnvironmentValue("KYRZBK_TEST_PROGRESS_LOG", secondLog.c_str());
        std::thread b([&] {
            if (firstInside) second = RunHostCommand(ChangeArgs(archive, src, pair.second));
        });
        bool secondWaits = firstInside && WaitUntil([&] { return LogSays(secondLog, kWaitingForChangeText); });
        WriteFileText(go, "");
        a.join();
        b.join();
        platform::SetEnvironmentValue("KYRZBK_TEST_PROGRESS_LOG", nullptr);

        EXPECT_TRUE(firstInside) << "the first change reported nothing";
        EXPECT_TRUE(secondWaits) << "the second change did not wait";
        EXPECT_EQ(first.status, 0) << first.err;
        EXPECT_EQ(second.status, 0) << second.err;
        std::vector<std::string> expected;
        for (const std::string& name : pair.after) expected.push_back(HostName(name));
        EXPECT_EQ(ListedNames(archive), expected);
        // What the first change was told while held names its own files, not the second's.
        if (pair.second.add) EXPECT_FALSE(MentionsAny(ReadFileText(firstLog), pair.second.names));
        for (const auto& e : fs::directory_iterator(dir.File("out")))
            EXPECT_EQ(e.path().filename().string(), "a.zbk") << "left behind";
    }
}

} // namespace
