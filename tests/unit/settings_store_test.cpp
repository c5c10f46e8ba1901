#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/text_line.h"
#include "settings/format_list.h"
#include "settings/settings_store.h"
#include "tests/support/temp_dir.h"

namespace {

std::vector<std::string> Items(const StringList* list) {
    std::vector<std::string> out;
    if (!list || !list->buffer) return out;
    for (const char* p = list->buffer; *p; p += std::strlen(p) + 1) out.emplace_back(p);
    return out;
}

std::string Joined(const StringList& list) {
    char* j = JoinFormatList(list);
    std::string s = j ? j : "<null>";
    std::free(j);
    return s;
}

const char kDefaultSection[] = "[KYRZBK_HLV]\r\n"
                               "UseCompression=1\r\n"
                               "CompressAll=0\r\n"
                               "CompressFormats=sqs,sqf,sqm,ext,csv,txt,htm,html,cpp,bin,p3d\r\n"
                               "ForceZbkSignature=0\r\n"
                               "KeepOriginalSignatureSuffix=0\r\n"
                               "ZbkSignatureSuffixKey=Packer\r\n"
                               "ZbkSignatureSuffixValue=kyrzbk\r\n"
                               "WriteCppComments=1\r\n";

class Settings : public ::testing::Test {
protected:
    void SetUp() override { ResetSettingsToDefaults(); }
    void TearDown() override { ResetSettingsToDefaults(); }

    // Hands the file over as the host does after loading the library.
    void Load(const std::string& path) {
        PackDefaultParamStruct params = {};
        params.size = sizeof params;
        std::strncpy(params.DefaultIniName, path.c_str(), sizeof params.DefaultIniName - 1);
        LoadSettings(&params);
    }

    TempDir dir;
};

TEST_F(Settings, DefaultsAndTheSectionTheyWrite) {
    EXPECT_TRUE(PluginSettings.UseCompression);
    EXPECT_FALSE(PluginSettings.CompressAll);
    EXPECT_EQ(Items(PluginSettings.CompressFormats).size(), 11u);
    EXPECT_FALSE(PluginSettings.ForceZbkSignature);
    EXPECT_FALSE(PluginSettings.KeepOriginalSignatureSuffix);
    EXPECT_STREQ(PluginSettings.ZbkSignatureSuffixKey, "Packer");
    EXPECT_STREQ(PluginSettings.ZbkSignatureSuffixValue, "kyrzbk");
    EXPECT_TRUE(PluginSettings.WriteCppComments);
    CTextBuffer buffer;
    EXPECT_TRUE(WriteSettingsSection(buffer, false));
    EXPECT_EQ(std::string(buffer.Data(), buffer.Length()), kDefaultSection);
    buffer.Reset();
    WriteSettingsSection(buffer, true);
    EXPECT_EQ(std::string(buffer.Data(), buffer.Length()), std::string("\r\n") + kDefaultSection);
}

TEST_F(Settings, ApplyingOneLine) {
    struct Case {
        const char* line;
        const char* field; // which field to look at
        std::string expected;
    } cases[] = {
        {"UseCompression=yes", "UseCompression", "1"},
        {"CompressAll=yes", "CompressAll", "0"},
        {"UseCompression= 0", "UseCompression", "0"},
        {" UseCompression =0 ", "UseCompression", "0"},
        {"usecompression=0", "UseCompression", "1"}, // keys match with case
        {"UseCompression", "UseCompression", "1"},   // no "="
        {"=0", "UseCompression", "1"},               // empty key
        {"UseCompression=", "UseCompression", "1"},  // empty value
        {"CompressAll=1x", "CompressAll", "1"},
        {"ForceZbkSignature=1", "ForceZbkSignature", "1"},
        {"KeepOriginalSignatureSuffix=true", "KeepOriginalSignatureSuffix", "0"},
        {"WriteCppComments=off", "WriteCppComments", "1"},
        {"WriteCppComments=0", "WriteCppComments", "0"},
        {"CompressFormats= txt ; ;cpp,,", "CompressFormats", "txt,cpp"},
        {"CompressFormats=a,a", "CompressFormats", "a,a"},
        {"ZbkSignatureSuffixKey=", "ZbkSignatureSuffixKey", "Packer"},
        {"ZbkSignatureSuffixKey=Tool", "ZbkSignatureSuffixKey", "Tool"},
        {"ZbkSignatureSuffixValue= v 2 ", "ZbkSignatureSuffixValue", "v 2"},
        {"ZbkSignatureSuffixValue=a=b", "ZbkSignatureSuffixValue", "a=b"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        ResetSettingsToDefaults();
        std::vector<char> line(c.line, c.line + std::strlen(c.line) + 1);
        ApplySettingLine(line.data());
        std::string f = c.field, actual;
        const PluginSettingsRecord& s = PluginSettings;
        if (f == "UseCompression") actual = s.UseCompression ? "1" : "0";
        if (f == "CompressAll") actual = s.CompressAll ? "1" : "0";
        if (f == "ForceZbkSignature") actual = s.ForceZbkSignature ? "1" : "0";
        if (f == "KeepOriginalSignatureSuffix") actual = s.KeepOriginalSignatureSuffix ? "1" : "0";
        if (f == "WriteCppComments") actual = s.WriteCppComments ? "1" : "0";
        if (f == "CompressFormats") actual = Joined(*s.CompressFormats);
        if (f == "ZbkSignatureSuffixKey") actual = s.ZbkSignatureSuffixKey;
        if (f == "ZbkSignatureSuffixValue") actual = s.ZbkSignatureSuffixValue;
        EXPECT_EQ(actual, c.expected);
    }
}

TEST_F(Settings, FormatListParsingAndJoining) {
    struct Case {
        const char* text;
        std::vector<std::string> items;
    } cases[] = {
        {"", {}},
        {",;,", {}},
        {"txt", {"txt"}},
        {",,a;;b,", {"a", "b"}},
        {"a,a", {"a", "a"}},
        {" a ,b", {" a ", "b"}}, // blanks are the caller's business
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        StringList* list = ParseFormatList(c.text);
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(Items(list), c.items);
        std::string joined;
        for (const std::string& i : c.items) joined += (joined.empty() ? "" : ",") + i;
        EXPECT_EQ(Joined(*list), joined);
        delete list;
    }
    EXPECT_EQ(ParseFormatList(nullptr), nullptr);
    SetCompressFormats(nullptr);
    ASSERT_NE(PluginSettings.CompressFormats, nullptr);
    EXPECT_EQ(Joined(*PluginSettings.CompressFormats), "");
}

TEST_F(Settings, BlankHelpers) {
    struct Case {
        const char* text;
        const char* trimmed;
        const char* removed;
    } cases[] = {
        {"", "", ""}, {" \t ", "", ""}, {" a b\t", "a b", "ab"}, {"\tx", "x", "x"}, {"x y", "x y", "xy"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::string a = c.text, b = c.text;
        EXPECT_STREQ(TrimBlanks(&a[0]), c.trimmed);
        EXPECT_STREQ(RemoveBlanks(&b[0]), c.removed);
    }
}

TEST_F(Settings, ReadingLines) {
    struct Case {
        const char* what;
        std::string content;
        bool trim;
        std::vector<std::string> lines;
    } cases[] = {
        {"CR LF", "a\r\nb\r\n", false, {"a", "b"}},
        {"LF only", "a\nb\n", false, {"a", "b"}},
        {"last line without line end", "a\n b ", false, {"a", " b "}},
        {"trimmed", "a\n b \n", true, {"a", "b"}},
        {"empty lines", "\n\r\n\n", false, {"", "", ""}},
        {"a lone CR ends the text, the line runs to the LF", "a\rlost\nb", false, {"a", "b"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string path = dir.File("lines.txt");
        WriteFileText(path, c.content);
        FILE* f = std::fopen(path.c_str(), "rb");
        std::vector<std::string> lines;
        while (char* line = ReadTextLine(f, c.trim)) {
            lines.emplace_back(line);
            std::free(line);
        }
        std::fclose(f);
        EXPECT_EQ(lines, c.lines);
    }
}

TEST_F(Settings, Loading) {
    struct Case {
        const char* what;
        std::string content;
        bool useCompression;
        std::string formats;
    } cases[] = {
        {"no section", "[Other]\r\nUseCompression=0\r\n", true, kDefaultCompressFormats},
        {"own section", "[KYRZBK_HLV]\r\nUseCompression=0\r\nCompressFormats=a;b\r\n", false, "a,b"},
        {"LF only, no final line end", "[KYRZBK_HLV]\nCompressFormats=x\nUseCompression=0", false, "x"},
        {"blanks around the header", "  [ KYRZBK_HLV ]\r\n\tUseCompression = 0\r\n", false, kDefaultCompressFormats},
        {"section names match with case", "[kyrzbk_hlv]\r\nUseCompression=0\r\n", true, kDefaultCompressFormats},
        {"the next section ends it", "[KYRZBK_HLV]\r\nCompressFormats=a\r\n[Other]\r\nUseCompression=0\r\n", true, "a"},
        {"only the first section of the name",
         "[KYRZBK_HLV]\r\nCompressFormats=a\r\n[KYRZBK_HLV]\r\nUseCompression=0\r\n", true, "a"},
        {"comments and blank lines", "[KYRZBK_HLV]\r\n;UseCompression=0\r\n\r\nCompressFormats=c\r\n", true, "c"},
        {"an empty list keeps the current one", "[KYRZBK_HLV]\r\nCompressFormats=\r\n", true, kDefaultCompressFormats},
        {"too short to hold the section", "[KYRZBK]\nA", true, kDefaultCompressFormats},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetSettingsToDefaults();
        std::string path = dir.File("wincmd.ini");
        WriteFileText(path, c.content);
        Load(path);
        EXPECT_EQ(PluginSettings.UseCompression, c.useCompression);
        EXPECT_EQ(Joined(*PluginSettings.CompressFormats), c.formats);
        EXPECT_STREQ(PluginSettings.DefaultParams.DefaultIniName, path.c_str());
    }
}

TEST_F(Settings, LoadingWithoutAFile) {
    Load(dir.File("missing.ini"));
    EXPECT_TRUE(PluginSettings.UseCompression);
    LoadSettings(nullptr);
    PackDefaultParamStruct none = {};
    LoadSettings(&none);
    EXPECT_EQ(PluginSettings.DefaultParams.DefaultIniName[0], 0);
    EXPECT_FALSE(SaveSettings()) << "no settings file named";
}

TEST_F(Settings, SavingKeepsEveryForeignLine) {
    // A host configuration file as it is found in the wild: several sections, comments, odd
    // spacing, LF and CR LF mixed, and the plug-in's section in the middle with a comment,
    // a key it does not know and a duplicate.
    const std::string before =
        "[Configuration]\r\n"
        "InstallDir=C:\\Tools\\FM\r\n"
        "  ; keep me\n"
        "\r\n"
        "[PackerPlugins]\r\n"
        "zbk=95,%COMMANDER_PATH%\\Plugins\\kyrzbk.wcx\r\n"
        "\r\n"
        "[KYRZBK_HLV]\r\n"
        "UseCompression=0\r\n"
        "; tuned by hand\r\n"
        "Unknown=1\r\n"
        "UseCompression=1\r\n"
        "\r\n"
        "[kyrzbk_hlv]\r\n"
        "x=1\r\n"
        "\r\n"
        "[Lister]\r\n"
        "  Wrap = 1  \n"
        "\r\n"
        "[KYRZBK_HLV]\r\n"
        "CompressAll=1";
    std::string path = dir.File("wincmd.ini");
    WriteFileText(path, before);
    Load(path);
    PluginSettings.CompressAll = true;
    SetSignatureSuffixKey("Tool");
    ASSERT_TRUE(SaveSettings());
    std::string section = kDefaultSection;
    section.replace(section.find("CompressAll=0"), 13, "CompressAll=1");
    // The duplicate further down the old section was loaded last.
    section.replace(section.find("=Packer"), 7, "=Tool");
    const std::string expected = "[Configuration]\r\n"
                                 "InstallDir=C:\\Tools\\FM\r\n"
                                 "  ; keep me\r\n"
                                 "\r\n"
                                 "[PackerPlugins]\r\n"
                                 "zbk=95,%COMMANDER_PATH%\\Plugins\\kyrzbk.wcx\r\n"
                                 "\r\n" +
                                 section +
                                 "; tuned by hand\r\n"
                                 "[kyrzbk_hlv]\r\n"
                                 "x=1\r\n"
                                 "[Lister]\r\n"
                                 "  Wrap = 1  \r\n"
                                 "[KYRZBK_HLV]\r\n"
                                 "CompressAll=1\r\n";
    EXPECT_EQ(ReadFileText(path), expected);
    // Saving again changes nothing: the result is stable.
    ASSERT_TRUE(SaveSettings());
    EXPECT_EQ(ReadFileText(path), expected);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1) << "no temporary file left";
}

TEST_F(Settings, SavingAppendsOrCreates) {
    struct Case {
        const char* what;
        std::string before; // "<none>": no file
        std::string expected;
    } cases[] = {
        {"no section", "[Other]\r\na=1\r\n", std::string("[Other]\r\na=1\r\n") + kDefaultSection},
        {"no final line end", "[Other]\na=1", std::string("[Other]\r\na=1\r\n") + kDefaultSection},
        {"no file yet", "<none>", kDefaultSection},
        {"empty file", "", kDefaultSection},
        {"short file is kept", "a=1", std::string("a=1\r\n") + kDefaultSection},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string path = dir.File(std::string(c.what) + ".ini");
        if (c.before != "<none>") WriteFileText(path, c.before);
        Load(path);
        ASSERT_TRUE(SaveSettings());
        EXPECT_EQ(ReadFileText(path), c.expected);
    }
}

TEST_F(Settings, SaveAndLoadAgain) {
    std::string path = dir.File("round.ini");
    Load(path);
    PluginSettings.UseCompression = false;
    PluginSettings.CompressAll = true;
    SetCompressFormats(ParseFormatList("dat,txt"));
    PluginSettings.ForceZbkSignature = true;
    PluginSettings.KeepOriginalSignatureSuffix = true;
    SetSignatureSuffixKey("k");
    SetSignatureSuffixValue("v");
    PluginSettings.WriteCppComments = false;
    ASSERT_TRUE(SaveSettings());
    ResetSettingsToDefaults();
    Load(path);
    EXPECT_FALSE(PluginSettings.UseCompression);
    EXPECT_TRUE(PluginSettings.CompressAll);
    EXPECT_EQ(Joined(*PluginSettings.CompressFormats), "dat,txt");
    EXPECT_TRUE(PluginSettings.ForceZbkSignature);
    EXPECT_TRUE(PluginSettings.KeepOriginalSignatureSuffix);
    EXPECT_STREQ(PluginSettings.ZbkSignatureSuffixKey, "k");
    EXPECT_STREQ(PluginSettings.ZbkSignatureSuffixValue, "v");
    EXPECT_FALSE(PluginSettings.WriteCppComments);

    // An empty list is saved with an empty value, which loading skips: the list in force stays.
    SetCompressFormats(nullptr);
    ASSERT_TRUE(SaveSettings());
    EXPECT_NE(ReadFileText(path).find("\r\nCompressFormats=\r\n"), std::string::npos);
    ResetSettingsToDefaults();
    Load(path);
    EXPECT_EQ(Joined(*PluginSettings.CompressFormats), kDefaultCompressFormats);
}

TEST_F(Settings, SaveThatCannotWriteBesideTheFileLeavesItAlone) {
    // The new content is written to a temporary file beside the settings file, named after it.
    // With a name this long no longer name fits into the folder, so that file cannot be made
    // (which also holds for an administrator, whom folder permissions do not stop). The path
    // is relative so that it fits the host's 260-byte record.
    namespace fs = std::filesystem;
    std::string name = std::string(246, 's') + ".ini";
    const std::string before = "[Other]\r\na=1\r\n[KYRZBK_HLV]\r\nUseCompression=1\r\n";
    fs::path previous = fs::current_path();
    fs::current_path(dir.path());
    bool written = true;
    try {
        WriteFileText(name, before);
    } catch (...) {
        written = false;
    }
    bool saved = false;
    if (written) {
        Load(name);
        PluginSettings.UseCompression = false;
        saved = SaveSettings();
    }
    fs::current_path(previous);
    if (!written) GTEST_SKIP() << "this file system does not take names of " << name.size() << " bytes";
    EXPECT_FALSE(saved);
    EXPECT_EQ(ReadFileText(dir.File(name)), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 1) << "no temporary file left";
}

TEST_F(Settings, SaveIntoAReadOnlyFolderLeavesTheFileAlone) {
    namespace fs = std::filesystem;
    std::string folder = dir.File("locked");
    fs::create_directory(folder);
    std::string path = folder + "/wincmd.ini";
    const std::string before = "[KYRZBK_HLV]\r\nUseCompression=1\r\n";
    WriteFileText(path, before);
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
    bool creatable = false;
    try {
        WriteFileText(folder + "/probe", "x");
        creatable = true;
    } catch (...) {
    }
    if (creatable) {
        fs::permissions(folder, fs::perms::owner_all);
        GTEST_SKIP() << "folder permissions are not enforced for this user";
    }
    Load(path);
    PluginSettings.UseCompression = false;
    EXPECT_FALSE(SaveSettings());
    fs::permissions(folder, fs::perms::owner_all);
    EXPECT_EQ(ReadFileText(path), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), {}), 1);
}

} // namespace
