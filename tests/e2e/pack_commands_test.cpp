// Packing, updating and deleting through the command-line host and the built plug-in.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/support/host_runner.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

using Tree = std::map<std::string, std::vector<unsigned char>>;

// Files below root by relative path with '/'.
Tree ReadTree(const std::string& root) {
    Tree tree;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file())
            tree[fs::relative(e.path(), root).generic_string()] = ReadFileBytes(e.path().string());
    return tree;
}

void WriteTree(const std::string& root, const Tree& tree) {
    for (const auto& [name, bytes] : tree) {
        fs::create_directories(fs::path(root + "/" + name).parent_path());
        WriteFileBytes(root + "/" + name, bytes);
    }
}

std::vector<unsigned char> Pattern(size_t n, unsigned seed) {
    std::vector<unsigned char> b(n);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        // Mostly text with repeats, some noise: both compressible and not.
        b[i] = (i % 97 < 60) ? static_cast<unsigned char>("the quick brown fox "[i % 20]) : static_cast<unsigned char>(x >> 24);
    }
    return b;
}

class PackCommands : public ::testing::Test {
protected:
    void SetUp() override {
        source = {{"readme.txt", Pattern(5000, 1)},
                  {"data/table.csv", Pattern(70000, 2)},
                  {"data/blob.dat", Pattern(3000, 3)},
                  {"data/deep/empty.txt", {}},
                  {"data/deep/tiny.txt", {'a', 'b'}},
                  {"code/start.sqf", Pattern(20000, 4)}};
        WriteTree(dir.File("src"), source);
        archive = dir.File("out.zbk");
    }
    HostRun Host(std::vector<std::string> args) {
        args.insert(args.begin(), "--quiet");
        return RunHostCommand(args);
    }
    Tree ExtractAll(const std::string& into) {
        HostRun run = Host({"extract", archive, "-C", dir.File(into)});
        EXPECT_EQ(run.status, 0) << run.err;
        return ReadTree(dir.File(into));
    }
    // A refused pack into a new archive or into one of readme.txt: the run's result, after
    // checking that the archive is as it was and that nothing was left beside it.
    HostRun RefusedPack(bool existing) {
        fs::remove(archive);
        std::vector<unsigned char> before;
        if (existing) {
            EXPECT_EQ(Host({"pack", archive, dir.File("src"), "readme.txt"}).status, 0);
            before = ReadFileBytes(archive);
        }
        HostRun run = Host({"pack", archive, dir.File("src")});
        EXPECT_EQ(run.status, 24);
        EXPECT_EQ(FileExists(archive), existing);
        if (existing) EXPECT_EQ(ReadFileBytes(archive), before);
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), existing ? 2 : 1);
        return run;
    }

    TempDir dir;
    Tree source;
    std::string archive;
};

TEST_F(PackCommands, RoundTripOfAFolder) {
    HostRun pack = Host({"pack", archive, dir.File("src")});
    ASSERT_EQ(pack.status, 0) << pack.err;
    HostRun list = Host({"list", "--json", archive});
    ASSERT_EQ(list.status, 0) << list.err;
    EXPECT_EQ(Lines(list.out).size(), source.size());
    std::string jsonName;
    for (char c : HostName("data\\deep\\tiny.txt")) jsonName += c == '\\' ? std::string("\\\\") : std::string(1, c);
    EXPECT_NE(list.out.find("\"" + jsonName + "\""), std::string::npos) << list.out;
    EXPECT_EQ(Host({"verify", archive}).status, 0);
    EXPECT_EQ(ExtractAll("x"), source);
}

TEST_F(PackCommands, NamedFilesUpdateAndDelete) {
    ASSERT_EQ(Host({"pack", archive, dir.File("src"), "readme.txt", "data"}).status, 0);
    Tree expected = source;
    expected.erase("code/start.sqf");
    EXPECT_EQ(ExtractAll("first"), expected);

    WriteTree(dir.File("more"), {{"README.TXT", Pattern(100, 9)}, {"new.sqm", Pattern(4000, 8)}});
    HostRun update = Host({"pack", archive, dir.File("more"), "--sub-path", "sub/x"});
    ASSERT_EQ(update.status, 0) << update.err;
    ASSERT_EQ(Host({"pack", archive, dir.File("more"), "README.TXT"}).status, 0);
    expected.erase("readme.txt");
    expected["README.TXT"] = Pattern(100, 9);
    expected["sub/x/README.TXT"] = Pattern(100, 9);
    expected["sub/x/new.sqm"] = Pattern(4000, 8);
    EXPECT_EQ(ExtractAll("second"), expected);

    HostRun del = Host({"delete", archive, "data/", HostName("sub\\x\\new.sqm")});
    ASSERT_EQ(del.status, 0) << del.err;
    EXPECT_EQ(ExtractAll("third"), (Tree{{"README.TXT", Pattern(100, 9)}, {"sub/x/README.TXT", Pattern(100, 9)}}));
    EXPECT_EQ(Host({"verify", archive}).status, 0);
}

TEST_F(PackCommands, PropertySetsTheHeaderOfANewArchiveOnly) {
    std::string prefix = "{\"key\": \"prefix\", \"value\": \"my\\\\mod\\\\data\"}";
    struct Call {
        std::vector<std::string> args;
        int status;
    } refused[] = {
        {{"pack", archive, dir.File("src"), "--property", "a=b", "--property", "c=d"}, 2},
        {{"pack", archive, dir.File("src"), "--property", "no pair"}, 2},
        {{"pack", archive, dir.File("src"), "--property", "key="}, 2},
    };
    for (const Call& c : refused) EXPECT_EQ(Host(c.args).status, c.status) << c.args.back();
    EXPECT_FALSE(FileExists(archive));

    HostRun pack = Host({"pack", archive, dir.File("src"), "readme.txt", "--property", "prefix=my\\mod\\data"});
    ASSERT_EQ(pack.status, 0) << pack.err;
    auto before = ReadFileBytes(archive);
    HostRun again = Host({"pack", archive, dir.File("src"), "data", "--property", "prefix=other"});
    EXPECT_EQ(again.status, 2);
    EXPECT_NE(again.err.find("exists"), std::string::npos) << again.err;
    EXPECT_EQ(ReadFileBytes(archive), before);

    // Updates and deletions keep the block the games read.
    ASSERT_EQ(Host({"pack", archive, dir.File("src"), "data"}).status, 0);
    ASSERT_EQ(Host({"delete", archive, "readme.txt"}).status, 0);
    HostRun info = Host({"info", "--json", archive});
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find("\"properties\": [" + prefix + "]"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("\"entries\": 4"), std::string::npos) << info.out;
}

TEST_F(PackCommands, EveryThreadCountWritesTheSameArchive) {
    for (int i = 0; i < 40; ++i) source["many/f" + std::to_string(i) + ".txt"] = Pattern(500 + 300 * i, 10 + i);
    WriteTree(dir.File("src"), source);
    ASSERT_EQ(Host({"pack", archive, dir.File("src"), "--threads", "1"}).status, 0);
    std::vector<unsigned char> one = ReadFileBytes(archive);
    for (const char* threads : {"2", "5", ""}) {
        SCOPED_TRACE(threads);
        fs::remove(archive);
        std::vector<std::string> args = {"pack", archive, dir.File("src")};
        if (*threads) args.insert(args.end(), {"--threads", threads});
        HostRun run = Host(args);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(ReadFileBytes(archive), one);
    }
    EXPECT_EQ(ExtractAll("x"), source);
    for (const char* bad : {"0", "two", "-1"}) {
        SCOPED_TRACE(bad);
        HostRun run = Host({"pack", archive, dir.File("src"), "--threads", bad});
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.err.find("--threads"), std::string::npos) << run.err;
    }
}

TEST_F(PackCommands, MoveDeletesTheSources) {
    ASSERT_EQ(Host({"pack", "--move", archive, dir.File("src"), "code"}).status, 0);
    EXPECT_FALSE(FileExists(dir.File("src/code/start.sqf")));
    EXPECT_TRUE(fs::is_directory(dir.File("src/code")));
    EXPECT_EQ(ExtractAll("x"), (Tree{{"code/start.sqf", Pattern(20000, 4)}}));
}

TEST_F(PackCommands, RefusalsNameTheFileAndTheCode) {
    WriteFileText(dir.File("notes.zbk"), "not an archive, just some text");
    HostRun run = Host({"pack", dir.File("notes.zbk"), dir.File("src")});
    EXPECT_EQ(run.status, 14);
    EXPECT_NE(run.err.find("notes.zbk"), std::string::npos);
    EXPECT_EQ(ReadFileText(dir.File("notes.zbk")), "not an archive, just some text");
    EXPECT_EQ(Host({"pack", archive, dir.File("no-such-folder")}).status, 15);
    EXPECT_EQ(Host({"delete", dir.File("notes.zbk"), "x"}).status, 14);
    EXPECT_EQ(Host({"delete", archive}).status, 2);
}

TEST_F(PackCommands, AKilledPackLeavesNoArchiveUnderItsName) {
    // A named pipe among the sources holds the host inside the pack, after the archive was
    // begun, until the host is killed.
    std::string work = dir.File("kill");
    fs::create_directories(work + "/src");
    WriteFileBytes(work + "/src/a.txt", Pattern(50000, 5));
    if (platform::RunCommandLine("mkfifo " + platform::QuoteArgument(work + "/src/pipe.dat")) != 0)
        GTEST_SKIP() << "no named pipes here";
    std::string script =
        "cd " + platform::QuoteArgument(work) + " && { " + platform::QuoteArgument(TestHostPath()) +
        " --quiet --plugin " + platform::QuoteArgument(TestPluginPath()) +
        " pack out.zbk src & pid=$!; } && n=0 && "
        "until ls ./~out.zbk.* >/dev/null 2>&1; do n=$((n+1)); [ $n -lt 1000 ] || exit 3; sleep 0.01; done; "
        "[ -e out.zbk ] && exit 4; kill -9 $pid; wait $pid; exit 0";
    ASSERT_EQ(platform::RunCommandLine("sh -c " + platform::QuoteArgument(script)), 0);
    EXPECT_FALSE(FileExists(work + "/out.zbk"));
}

TEST_F(PackCommands, AFileThatCannotKeepItsNameFailsTheWholePack) {
    if (platform::CanStoreName("back\\slash.txt")) GTEST_SKIP() << "no file name here holds a folder separator";
    WriteFileText(dir.File("src/data/back\\slash.txt"), "x\n");
    struct Case {
        const char* what;
        bool existing;
    } const cases[] = {{"new archive", false}, {"existing archive", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HostRun run = RefusedPack(c.existing);
        EXPECT_NE(run.err.find("data/back\\slash.txt: the name cannot be stored"), std::string::npos) << run.err;
    }
}

// An entry's size is a 32-bit field. The files are sparse, so that they cost no disk.
TEST_F(PackCommands, AFileOf4GiBOrMoreFailsTheWholePackAndIsNamed) {
    struct Case {
        const char* what;
        const char* name; // as an archive names it; .dat is stored, .txt compressed by the built-in settings
        uint64_t size;
        bool existing;
        const char* shown;
    } const cases[] = {
        {"exactly 4 GiB, new archive", "data\\huge.dat", 4ull << 30, false, "4.00 GiB"},
        {"to be compressed", "data\\huge.txt", 6ull << 30, false, "6.00 GiB"},
        {"added to an existing archive", "data\\huge.dat", (5ull << 30) + 1, true, "5.00 GiB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string huge = dir.File("src/") + HostName(c.name);
        WriteFileBytes(huge, {});
        fs::resize_file(huge, c.size);
        HostRun run = RefusedPack(c.existing);
        fs::remove(huge);
        std::string message = HostName(c.name) + ": 4 GiB or more (" + c.shown +
                              "), more than an entry can hold; nothing was packed";
        EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
    }
}

} // namespace
