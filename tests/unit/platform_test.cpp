// The operating-system seam behaves alike on every platform; these run natively and,
// for the Windows implementation, under wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/support/temp_dir.h"

namespace {

std::vector<std::string> Names(const std::vector<platform::FoundFile>& found) {
    std::vector<std::string> names;
    for (const platform::FoundFile& f : found) names.push_back(f.name);
    std::sort(names.begin(), names.end());
    return names;
}

TEST(Platform, SeparatorsRoundTripBetweenHostAndArchive) {
    char name[] = "dir\\sub\\file.txt";
    platform::ToHostSeparators(name);
    std::string host = name;
    EXPECT_EQ(host.find(platform::HostSeparator() == '/' ? '\\' : '/'), std::string::npos) << host;
    EXPECT_EQ(std::count(host.begin(), host.end(), platform::HostSeparator()), 2) << host;
    platform::ToArchiveSeparators(name);
    EXPECT_STREQ(name, "dir\\sub\\file.txt");

    char mixed[] = "a/b\\c";
    platform::ToArchiveSeparators(mixed);
    EXPECT_STREQ(mixed, "a\\b\\c");
    platform::ToArchiveSeparators(nullptr);
    platform::ToHostSeparators(nullptr);
}

TEST(Platform, FindFileReportsSizeTimeAndKind) {
    TempDir dir;
    WriteFileText(dir.File("five.bin"), "12345");
    std::time_t now = std::time(nullptr);

    platform::FoundFile file;
    ASSERT_TRUE(platform::FindFile(dir.File("five.bin").c_str(), &file));
    EXPECT_EQ(file.name, "five.bin");
    EXPECT_EQ(file.size, 5u);
    EXPECT_EQ(file.attrib & platform::kAttrDirectory, 0u);
    // Seconds since 1970 UTC, whatever the file system's own epoch and unit.
    EXPECT_LE(std::abs(file.writeTime - static_cast<int64_t>(now)), 120) << file.writeTime << " vs " << now;

    platform::FoundFile folder;
    ASSERT_TRUE(platform::FindFile(dir.path().c_str(), &folder));
    EXPECT_NE(folder.attrib & platform::kAttrDirectory, 0u);

    EXPECT_FALSE(platform::FindFile(dir.File("missing").c_str(), &file));
    EXPECT_FALSE(platform::FindFile("", &file));
    EXPECT_FALSE(platform::FindFile(nullptr, &file));
}

TEST(Platform, ListDirectoryGivesEntriesWithoutDotFolders) {
    TempDir dir;
    WriteFileText(dir.File("a.txt"), "a");
    WriteFileText(dir.File("b.txt"), "bb");
    ASSERT_TRUE(platform::MakeDirectory(dir.File("sub").c_str()));

    for (const std::string& path : {dir.path(), dir.path() + "/"}) {
        SCOPED_TRACE(path);
        std::vector<platform::FoundFile> found;
        ASSERT_TRUE(platform::ListDirectory(path.c_str(), &found));
        EXPECT_EQ(Names(found), (std::vector<std::string>{"a.txt", "b.txt", "sub"}));
        for (const platform::FoundFile& f : found) {
            SCOPED_TRACE(f.name);
            EXPECT_EQ((f.attrib & platform::kAttrDirectory) != 0, f.name == "sub");
            if (f.name == "b.txt") {
                EXPECT_EQ(f.size, 2u);
            }
        }
    }

    std::vector<platform::FoundFile> none;
    EXPECT_TRUE(platform::ListDirectory(dir.File("sub").c_str(), &none));
    EXPECT_TRUE(none.empty());
    EXPECT_FALSE(platform::ListDirectory(dir.File("missing").c_str(), &none));
}

TEST(Platform, CreateUniqueFileNeverReusesAName) {
    TempDir dir;
    std::string first, second;
    FILE* a = platform::CreateUniqueFile(dir.path(), "kyr", &first);
    FILE* b = platform::CreateUniqueFile(dir.path(), "kyr", &second);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(first.rfind(dir.path(), 0), 0u) << first;
    EXPECT_NE(first.find("kyr"), std::string::npos) << first;
    std::fputs("x\r\ny", a);
    std::fclose(a);
    std::fclose(b);
    // Opened for binary writing: no line-end translation.
    EXPECT_EQ(ReadFileText(first), "x\r\ny");
    EXPECT_EQ(ReadFileText(second), "");

    std::string unused;
    EXPECT_EQ(platform::CreateUniqueFile(dir.File("missing"), "kyr", &unused), nullptr);
}

TEST(Platform, ReplaceDeleteAndMakeDirectory) {
    TempDir dir;
    std::string from = dir.File("new"), to = dir.File("old");
    WriteFileText(from, "new");
    WriteFileText(to, "old");
    ASSERT_TRUE(platform::ReplaceFileAtomically(from.c_str(), to.c_str()));
    EXPECT_EQ(ReadFileText(to), "new");
    EXPECT_FALSE(FileExists(from));
    EXPECT_FALSE(platform::ReplaceFileAtomically(from.c_str(), to.c_str()));
    EXPECT_EQ(ReadFileText(to), "new");

    EXPECT_TRUE(platform::DeleteFileAt(to.c_str()));
    EXPECT_FALSE(FileExists(to));
    EXPECT_FALSE(platform::DeleteFileAt(to.c_str()));
    EXPECT_FALSE(platform::DeleteFileAt(nullptr));

    EXPECT_TRUE(platform::MakeDirectory(dir.File("d").c_str()));
    EXPECT_TRUE(platform::MakeDirectory(dir.File("d").c_str())) << "an existing folder is fine";
    EXPECT_FALSE(platform::MakeDirectory(dir.File("no/such/parent").c_str()));
}

TEST(Platform, CopyFileRangeWritesWhatItCountsWhereTheStreamStood) {
    TempDir dir;
    std::vector<unsigned char> source(300000);
    for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<unsigned char>(i * 31 + i / 251);
    WriteFileBytes(dir.File("in"), source);
    struct Case {
        const char* what;
        uint64_t offset, count;
    } cases[] = {{"from the start", 0, 300000}, {"from the middle", 1000, 200000}, {"nothing", 5, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FILE* in = std::fopen(dir.File("in").c_str(), "rb");
        FILE* out = std::fopen(dir.File("out").c_str(), "w+b");
        ASSERT_TRUE(in && out);
        std::fputs("head", out); // still in the stream's buffer
        uint64_t copied = platform::CopyFileRange(in, c.offset, out, 4, c.count);
        ASSERT_LE(copied, c.count);
        // Linux copies between two files of one file system in the kernel; elsewhere the
        // caller copies all of it.
        if (platform::HostSeparator() == '/') {
            EXPECT_EQ(copied, c.count);
        }
        std::fwrite(source.data() + c.offset + copied, 1, static_cast<size_t>(c.count - copied), out);
        std::fputs("tail", out);
        std::fclose(out);
        std::fclose(in);
        std::vector<unsigned char> expected = {'h', 'e', 'a', 'd'};
        expected.insert(expected.end(), source.begin() + c.offset, source.begin() + c.offset + c.count);
        expected.insert(expected.end(), {'t', 'a', 'i', 'l'});
        EXPECT_EQ(ReadFileBytes(dir.File("out")), expected);
    }
}

TEST(Platform, EnvironmentValuesAndCores) {
    const char* name = "KYRZBK_PLATFORM_TEST_VALUE";
    EXPECT_TRUE(platform::SetEnvironmentValue(name, "a value"));
    EXPECT_EQ(platform::EnvironmentValue(name), "a value");
    EXPECT_TRUE(platform::SetEnvironmentValue(name, std::string(300, 'x').c_str()));
    EXPECT_EQ(platform::EnvironmentValue(name), std::string(300, 'x'));
    EXPECT_TRUE(platform::SetEnvironmentValue(name, nullptr));
    EXPECT_EQ(platform::EnvironmentValue(name), "");
    EXPECT_GE(platform::AvailableCores(), 1);
}

TEST(Platform, ExtendFileZeroFillsAndLengthKeepsThePosition) {
    TempDir dir;
    std::string path = dir.File("grow");
    FILE* f = std::fopen(path.c_str(), "w+b");
    ASSERT_NE(f, nullptr);
    std::fputs("abc", f);
    EXPECT_EQ(platform::OpenFileLength(f), 3);
    EXPECT_EQ(std::ftell(f), 3);
    ASSERT_TRUE(platform::ExtendFile(f, 4096 + 7));
    EXPECT_EQ(platform::OpenFileLength(f), 4096 + 7);
    std::fseek(f, 1, SEEK_SET);
    EXPECT_EQ(platform::OpenFileLength(f), 4096 + 7);
    EXPECT_EQ(std::ftell(f), 1);
    std::fclose(f);

    std::vector<unsigned char> bytes = ReadFileBytes(path);
    ASSERT_EQ(bytes.size(), 4096u + 7);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 3), "abc");
    EXPECT_TRUE(std::all_of(bytes.begin() + 3, bytes.end(), [](unsigned char c) { return c == 0; }));
    EXPECT_EQ(platform::OpenFileLength(nullptr), -1);
    EXPECT_FALSE(platform::ExtendFile(nullptr, 1));
}

TEST(Platform, OpenSharedReadSeesAFileBeingWritten) {
    TempDir dir;
    std::string path = dir.File("shared");
    FILE* writer = std::fopen(path.c_str(), "wb");
    ASSERT_NE(writer, nullptr);
    std::fputs("data", writer);
    std::fflush(writer);
    FILE* reader = platform::OpenSharedRead(path.c_str());
    ASSERT_NE(reader, nullptr);
    char buf[8] = {};
    EXPECT_EQ(std::fread(buf, 1, sizeof buf, reader), 4u);
    EXPECT_STREQ(buf, "data");
    std::fclose(reader);
    std::fclose(writer);
    EXPECT_EQ(platform::OpenSharedRead(dir.File("missing").c_str()), nullptr);
    EXPECT_EQ(platform::OpenSharedRead(nullptr), nullptr);
}

TEST(Platform, CaseInsensitiveComparisons) {
    struct Case {
        const char* a;
        const char* b;
        int sign;
    } cases[] = {
        {"abc", "ABC", 0}, {"a", "B", -1}, {"B", "a", 1}, {"abc", "ABCD", -1}, {"", "", 0}, {"Zbk", "zbj", 1},
    };
    auto sign = [](int v) { return (v > 0) - (v < 0); };
    platform::CollationScope scope;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " / " + c.b);
        EXPECT_EQ(sign(platform::CompareNoCase(c.a, c.b)), c.sign);
        EXPECT_EQ(sign(platform::CollateNoCase(c.a, c.b)), c.sign);
    }
}

// The test runner sets TZ=UTC, so local time is UTC here.
TEST(Platform, LocalTimeOfUtcStamps) {
    struct Case {
        int64_t seconds;
        int year, month, day, hour, minute, second;
    } cases[] = {
        {0, 1970, 1, 1, 0, 0, 0},
        {1700000000, 2023, 11, 14, 22, 13, 20},
        {0x7fffffff, 2038, 1, 19, 3, 14, 7},
        {0x80000000LL, 2038, 1, 19, 3, 14, 8}, // past the 32-bit signed limit
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.seconds);
        struct tm t = {};
        ASSERT_TRUE(platform::ToLocalTime(c.seconds, &t));
        EXPECT_EQ(t.tm_year + 1900, c.year);
        EXPECT_EQ(t.tm_mon + 1, c.month);
        EXPECT_EQ(t.tm_mday, c.day);
        EXPECT_EQ(t.tm_hour, c.hour);
        EXPECT_EQ(t.tm_min, c.minute);
        EXPECT_EQ(t.tm_sec, c.second);
    }
}

TEST(Platform, NamesThatCanBeStored) {
    EXPECT_TRUE(platform::CanStoreName("dir/file.txt"));
    // Where '\\' separates folders it is no character of a name, and stores as it means;
    // elsewhere it would come back as a separator.
    EXPECT_EQ(platform::CanStoreName("back\\slash.txt"), platform::HostSeparator() == '\\');
    EXPECT_FALSE(platform::CanStoreName(nullptr));
}

TEST(Platform, HostTimeFormFollowsTheBuild) {
    // The file managers that use '/' (POSIX) read FileTime as Unix seconds; the Windows one
    // reads the MS-DOS packed form.
    EXPECT_EQ(platform::HostTimeIsUnixSeconds(), platform::HostSeparator() == '/');
}

TEST(Platform, SetFileWriteTime) {
    TempDir dir;
    std::string path = dir.File("f.txt");
    WriteFileText(path, "x");
    for (int64_t t : {int64_t(86401), int64_t(1700000001), int64_t(4000000000)}) {
        SCOPED_TRACE(t);
        ASSERT_TRUE(platform::SetFileWriteTime(path.c_str(), t));
        platform::FoundFile found;
        ASSERT_TRUE(platform::FindFile(path.c_str(), &found));
        EXPECT_EQ(found.writeTime, t);
    }
    EXPECT_FALSE(platform::SetFileWriteTime(dir.File("missing.txt").c_str(), 86401));
}

TEST(Platform, CommandLinesReportExitStatusAndKeepQuotedArguments) {
    EXPECT_EQ(platform::RunCommandLine("exit 0"), 0);
    EXPECT_EQ(platform::RunCommandLine("exit 23"), 23);

    TempDir dir;
    std::string awkward = dir.File("with space & it's");
    ASSERT_TRUE(platform::MakeDirectory(awkward.c_str()));
    std::string target = awkward + "/out.txt";
    EXPECT_EQ(platform::RunCommandLine("echo hello>" + platform::QuoteArgument(target)), 0);
    ASSERT_TRUE(FileExists(target));
    EXPECT_EQ(ReadFileText(target).substr(0, 5), "hello");
}

TEST(Platform, ExecutableDirectoryAndLibraryLoading) {
    platform::FoundFile here;
    ASSERT_TRUE(platform::FindFile(platform::ExecutableDirectory().c_str(), &here)) << platform::ExecutableDirectory();
    EXPECT_NE(here.attrib & platform::kAttrDirectory, 0u);

    TempDir dir;
    WriteFileText(dir.File("fake.wcx"), "not a library");
    for (const std::string& path : {dir.File("fake.wcx"), dir.File("missing.wcx")}) {
        SCOPED_TRACE(path);
        std::string error;
        EXPECT_EQ(platform::LoadLibraryFile(path.c_str(), &error), nullptr);
        EXPECT_FALSE(error.empty());
    }
}

} // namespace
