// The wide-character functions driven as the file managers call them, with archives and
// folders whose names hold Cyrillic and Japanese characters, against the same steps in a
// folder of plain ASCII.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/unicode_text.h"
#include "platform/platform.h"
#include "tests/support/host_runner.h"
#include "tests/support/temp_dir.h"
#include "tools/plugin_api.h"

namespace {

namespace fs = std::filesystem;

fs::path PathOf(const std::string& utf8) { return fs::u8path(utf8); }

std::vector<WideChar> Wide(const std::string& utf8) {
    std::u16string w = Utf8ToUtf16(utf8.c_str());
    return std::vector<WideChar>(w.c_str(), w.c_str() + w.size() + 1);
}

std::vector<WideChar> WideList(const std::vector<std::u16string>& names) {
    std::vector<WideChar> list;
    for (const std::u16string& n : names) list.insert(list.end(), n.c_str(), n.c_str() + n.size() + 1);
    list.push_back(0);
    return list;
}

std::string Utf8(const WideChar* text) {
    std::string s;
    EXPECT_TRUE(Utf16ToUtf8(text, &s));
    return s;
}

void WriteText(const std::string& path, const std::string& text) {
    fs::create_directories(PathOf(path).parent_path());
    std::ofstream(PathOf(path), std::ios::binary) << text;
    // Equal times make the archives of the different folders comparable byte for byte.
    fs::last_write_time(PathOf(path), fs::file_time_type(std::chrono::hours(24 * 365 * 50)));
}

std::string ReadBytes(const std::string& path) {
    std::ifstream in(PathOf(path), std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// Whether the plug-in can store a name on this system: on Windows entry names are kept in
// the ANSI code page, which holds only some of the characters of the folders below.
bool Storable(const std::string& utf8) {
    platform::WideTextScope text;
    std::string stored;
    return platform::ToArchiveText(utf8, &stored);
}

std::vector<std::string> g_progress;
int KYR_CALL RecordProgress(WideChar* text, int) {
    if (text) g_progress.push_back(Utf8(text));
    return 1;
}

struct Entry {
    std::string name;
    unsigned size;
    bool operator==(const Entry& o) const { return name == o.name && size == o.size; }
};

class WideFunctions : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(api.Load(TestPluginPath(), &error)) << error;
        ASSERT_TRUE(api.HasWideFunctions());
        api.SetDefaultParams("");
        g_progress.clear();
    }

    int Pack(const std::string& archive, const std::string& src, const std::vector<std::u16string>& names) {
        std::vector<WideChar> a = Wide(archive), s = Wide(src + "/"), list = WideList(names);
        api.SetProcessDataProcW(reinterpret_cast<void*>(-1), RecordProgress);
        return api.PackFilesW(a.data(), nullptr, s.data(), list.data(), 0);
    }

    int Delete(const std::string& archive, const std::vector<std::u16string>& names) {
        std::vector<WideChar> a = Wide(archive), list = WideList(names);
        return api.DeleteFilesW(a.data(), list.data());
    }

    // One pass in the Linux file managers' order: a listing pass, or an extraction pass
    // that names the whole target in DestName.
    std::vector<Entry> Walk(const std::string& archive, const std::string& extractTo, int* result) {
        std::vector<WideChar> name = Wide(archive);
        tOpenArchiveDataW open = {};
        open.ArcName = name.data();
        open.OpenMode = extractTo.empty() ? PK_OM_LIST : PK_OM_EXTRACT;
        void* handle = api.OpenArchiveW(&open);
        std::vector<Entry> entries;
        *result = open.OpenResult;
        if (!handle) return entries;
        api.SetProcessDataProcW(handle, RecordProgress);
        tHeaderDataExW header = {};
        while ((*result = api.ReadHeaderExW(handle, &header)) == 0) {
            entries.push_back({Utf8(header.FileName), header.UnpSize});
            std::string targetPath = extractTo + "/" + entries.back().name;
            // The file manager makes the folders before it asks for a file in them.
            if (!extractTo.empty()) fs::create_directories(PathOf(targetPath).parent_path());
            std::vector<WideChar> target = Wide(targetPath);
            int r = extractTo.empty() ? api.ProcessFileW(handle, PK_SKIP, nullptr, nullptr)
                                      : api.ProcessFileW(handle, PK_EXTRACT, nullptr, target.data());
            if (r) *result = r;
            if (r) break;
        }
        if (*result == E_END_ARCHIVE) *result = 0;
        EXPECT_EQ(api.CloseArchive(handle), 0);
        return entries;
    }

    PluginApi api;
    TempDir temp;
};

TEST_F(WideFunctions, EveryStepInUnicodeFoldersMatchesThePlainFolder) {
    // Entry names beyond ASCII take part where this system can store them.
    std::vector<std::pair<std::string, std::string>> files = {{"readme.txt", "plain text\n"},
                                                              {"docs/notes.txt", "second file\n"}};
    for (const char* name : {u8"Пётр/моды.txt", u8"ゲーム/データ.txt"})
        if (Storable(name)) files.push_back({name, std::string("content of ") + name});

    std::string plainArchive;
    std::vector<Entry> plainListing;
    for (const char* folder : {"plain", u8"Моды Пётр", u8"ゲーム データ"}) {
        SCOPED_TRACE(folder);
        std::string root = temp.File(folder);
        std::vector<std::u16string> names;
        for (const auto& f : files) {
            WriteText(root + "/src/" + f.first, f.second);
            names.push_back(Utf8ToUtf16(f.first.c_str()));
        }
        std::string archive = root + u8"/архив ゲーム.zbk";
        ASSERT_EQ(Pack(archive, root + "/src", names), 0);
        EXPECT_FALSE(g_progress.empty());

        int result;
        std::vector<Entry> listing = Walk(archive, "", &result);
        ASSERT_EQ(result, 0);
        ASSERT_EQ(listing.size(), files.size());
        ASSERT_EQ(Walk(archive, root + u8"/выход", &result), listing);
        ASSERT_EQ(result, 0);
        for (const auto& f : files) {
            std::string host = f.first;
            EXPECT_EQ(ReadBytes(root + u8"/выход/" + host), f.second) << host;
        }
        std::string bytes = ReadBytes(archive);
        if (plainArchive.empty()) {
            plainArchive = bytes;
            plainListing = listing;
        } else {
            // Same entries, same names, same bytes, wherever the archive lies.
            EXPECT_EQ(listing, plainListing);
            EXPECT_EQ(bytes, plainArchive);
        }

        ASSERT_EQ(Delete(archive, {u"readme.txt"}), 0);
        std::vector<Entry> after = Walk(archive, "", &result);
        EXPECT_EQ(result, 0);
        EXPECT_EQ(after.size(), listing.size() - 1);
        for (const Entry& e : after) EXPECT_NE(e.name, "readme.txt");
    }
}

TEST_F(WideFunctions, ANameWithoutStoredFormFailsAndLeavesTheArchiveAlone) {
    std::string root = temp.File(u8"Пётр");
    WriteText(root + "/src/keep.txt", "kept\n");
    std::string archive = root + "/kept.zbk";
    ASSERT_EQ(Pack(archive, root + "/src", {u"keep.txt"}), 0);
    const std::string before = ReadBytes(archive);

    struct Case {
        const char* what;
        std::u16string name;     // as the host hands it over
        std::string fileOnDisk;  // created first, when not empty
    };
    const std::u16string loneSurrogate = std::u16string(u"half") + char16_t(0xD800) + u".txt";
    std::vector<Case> cases = {{"half a surrogate pair", loneSurrogate, ""}};
    // Where the system's code page lacks these characters (Windows), a real file of that
    // name must be refused too, never stored with '?'.
    if (!Storable(u8"ゲーム.txt")) cases.push_back({"outside the code page", u"ゲーム.txt", u8"ゲーム.txt"});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (!c.fileOnDisk.empty()) WriteText(root + "/src/" + c.fileOnDisk, "new\n");
        EXPECT_EQ(Pack(archive, root + "/src", {u"keep.txt", c.name}), E_NOT_SUPPORTED);
        EXPECT_EQ(ReadBytes(archive), before);
        // Nor is a new archive begun.
        std::string fresh = root + "/fresh.zbk";
        EXPECT_EQ(Pack(fresh, root + "/src", {c.name}), E_NOT_SUPPORTED);
        EXPECT_FALSE(fs::exists(PathOf(fresh)));
    }
}

TEST_F(WideFunctions, LongRecordsAgreeWithTheShortOnes) {
    std::string root = temp.File(u8"データ");
    WriteText(root + "/src/a.txt", std::string(5000, 'a'));
    std::string archive = root + "/a.zbk";
    ASSERT_EQ(Pack(archive, root + "/src", {u"a.txt"}), 0);
    // ReadHeaderEx and ReadHeader on the same archive, opened through the wide function.
    std::vector<WideChar> name = Wide(archive);
    tOpenArchiveDataW open = {};
    open.ArcName = name.data();
    void* first = api.OpenArchiveW(&open);
    void* second = api.OpenArchiveW(&open);
    ASSERT_TRUE(first && second);
    auto readHeaderEx = reinterpret_cast<int(KYR_CALL*)(void*, tHeaderDataEx*)>(
        platform::LibrarySymbol(api.Library(), "ReadHeaderEx"));
    ASSERT_NE(readHeaderEx, nullptr);
    tHeaderDataEx longRecord = {};
    tHeaderData shortRecord = {};
    longRecord.Flags = shortRecord.Flags = 77; // left as the host put it
    ASSERT_EQ(readHeaderEx(first, &longRecord), 0);
    ASSERT_EQ(api.ReadHeader(second, &shortRecord), 0);
    EXPECT_STREQ(longRecord.FileName, shortRecord.FileName);
    EXPECT_EQ(longRecord.UnpSize, 5000u);
    EXPECT_EQ(longRecord.UnpSizeHigh, 0u);
    EXPECT_EQ(longRecord.PackSize, static_cast<unsigned>(shortRecord.PackSize));
    EXPECT_EQ(longRecord.FileTime, shortRecord.FileTime);
    EXPECT_EQ(longRecord.Flags, 77);
    EXPECT_EQ(api.CloseArchive(first), 0);
    EXPECT_EQ(api.CloseArchive(second), 0);
}

} // namespace
