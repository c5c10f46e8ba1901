#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include "common/text_line.h"
#include "settings/format_list.h"
#include "settings/settings_store.h"
#include "tests/support/temp_dir.h"

using namespace std::string_literals;

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

// The default section with some of its lines replaced, each given as "key=value".
std::string SectionWith(std::initializer_list<std::string> lines) {
    std::string section = kDefaultSection;
    for (const std::string& line : lines) {
        size_t at = section.find("\n" + line.substr(0, line.find('=') + 1)) + 1;
        section.replace(at, section.find('\r', at) - at, line);
    }
    return section;
}

// Every setting in one line: formats|key|value|UseCompression CompressAll ForceZbkSignature
// KeepOriginalSignatureSuffix WriteCppComments.
std::string Snapshot() {
    const PluginSettingsRecord& s = PluginSettings;
    return Joined(*s.CompressFormats) + "|" + s.ZbkSignatureSuffixKey + "|" + s.ZbkSignatureSuffixValue + "|" +
           char('0' + s.UseCompression) + char('0' + s.CompressAll) + char('0' + s.ForceZbkSignature) +
           char('0' + s.KeepOriginalSignatureSuffix) + char('0' + s.WriteCppComments);
}

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
        std::vector<std::string> stored; // as ReadStoredLine hands them back; empty: as in the file
    } cases[] = {
        {"CR LF", "a\r\nb\r\n", false, {"a", "b"}, {"a\r\n", "b\r\n"}},
        {"LF only", "a\nb\n", false, {"a", "b"}, {"a\n", "b\n"}},
        {"last line without line end", "a\n b ", false, {"a", " b "}, {"a\n", " b "}},
        {"trimmed", "a\n b \n", true, {"a", "b"}, {}},
        {"empty lines", "\n\r\n\n", false, {"", "", ""}, {"\n", "\r\n", "\n"}},
        {"a lone CR ends the text, the line runs to the LF", "a\rlost\nb", false, {"a", "b"}, {"a\rlost\n", "b"}},
        {"a NUL ends the text", "a\0lost\r\n\0\n"s, false, {"a", ""}, {"a\0lost\r\n"s, "\0\n"s}},
        {"lone CRs at the end of the file", "\r\r\n\r"s, false, {"", ""}, {"\r\r\n", "\r"}},
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
        if (c.trim) continue;
        f = std::fopen(path.c_str(), "rb");
        std::vector<std::string> texts, stored;
        char* bytes = nullptr;
        size_t size = 0;
        bool failed = true;
        while (char* line = ReadStoredLine(f, &bytes, &size, &failed)) {
            texts.emplace_back(line);
            stored.emplace_back(bytes, size);
            std::free(line);
            std::free(bytes);
        }
        std::fclose(f);
        EXPECT_FALSE(failed) << "the end of the file is no failure";
        EXPECT_EQ(texts, c.lines) << "the same text as ReadTextLine";
        EXPECT_EQ(stored, c.stored);
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
                                 "  ; keep me\n"
                                 "\r\n"
                                 "[PackerPlugins]\r\n"
                                 "zbk=95,%COMMANDER_PATH%\\Plugins\\kyrzbk.wcx\r\n"
                                 "\r\n" +
                                 section +
                                 "; tuned by hand\r\n"
                                 "[kyrzbk_hlv]\r\n"
                                 "x=1\r\n"
                                 "[Lister]\r\n"
                                 "  Wrap = 1  \n"
                                 "[KYRZBK_HLV]\r\n"
                                 "CompressAll=1";
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
        {"no final line end", "[Other]\na=1", std::string("[Other]\na=1\r\n") + kDefaultSection},
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

TEST_F(Settings, DamagedFilesLoadTheSameAfterASave) {
    // Host files are edited by hand and by other programs. Whatever a load makes of one, a
    // save must write so that the next load makes the same of it, and a second save must
    // write the same bytes.
    const std::string defaults = std::string(kDefaultCompressFormats) + "|Packer|kyrzbk|";
    struct Case {
        const char* what;
        std::string content;
        std::string loaded; // Snapshot() after loading
        std::string saved;
        std::string reloaded; // empty: as loaded
    } cases[] = {
        {"found by fuzzing: NULs, lone CRs, a bracket inside a line and a damaged duplicate key",
         "[Configuzbk=695,kyrzbk.wcx\r\n\r\n[KYRZBK_HLV]\r\nUseCompression=5\r\n;inside\r\n"
         "CompressFormats=  ;\0\0\n\n\n\xc4"
         "cptxt[KssFormats= tx ; ;cpt ;p ;cpp,,\r\r ;cp"s,
         "|Packer|kyrzbk|10001",
         "[Configuzbk=695,kyrzbk.wcx\r\n\r\n" + SectionWith({"CompressFormats="}) + ";inside\r\n",
         // The empty list is saved as an empty value, which loading skips.
         defaults + "10001"},
        {"NUL bytes end a line's text", "[KYRZBK_HLV]\0[Other]\r\nCompressFormats=txt\0,cpp\r\nZbkSignatureSuffixKey=a\0b\r\n"s,
         "txt|a|kyrzbk|10001", SectionWith({"CompressFormats=txt", "ZbkSignatureSuffixKey=a"}), ""},
        {"a lone CR ends the text, the line runs on to the LF",
         "[KYRZBK_HLV]\r\nUseCompression=0\rCompressAll=1\r\nForceZbkSignature=1\r[Other]\n", defaults + "00101",
         SectionWith({"UseCompression=0", "ForceZbkSignature=1"}), ""},
        {"a header behind a lone CR is not one, and is kept", "[Other]\r\na=1\r[KYRZBK_HLV]\r\nUseCompression=0\r\n",
         defaults + "10001", "[Other]\r\na=1\r[KYRZBK_HLV]\r\nUseCompression=0\r\n" + std::string(kDefaultSection), ""},
        {"brackets inside values",
         "[KYRZBK_HLV]\r\nZbkSignatureSuffixKey=[k]\r\nZbkSignatureSuffixValue= v]\r\nCompressFormats=a[,b]\r\n"
         "UseCompression=0\r\n",
         "a[,b]|[k]|v]|00001",
         SectionWith({"UseCompression=0", "CompressFormats=a[,b]", "ZbkSignatureSuffixKey=[k]",
                      "ZbkSignatureSuffixValue=v]"}),
         ""},
        {"duplicate keys: the last non-empty one counts",
         "[KYRZBK_HLV]\r\nUseCompression=0\r\nCompressFormats=a\r\nUseCompression=1\r\nCompressFormats=b\r\n"
         "CompressAll=1\r\nCompressAll=\r\n",
         "b|Packer|kyrzbk|11001", SectionWith({"CompressFormats=b", "CompressAll=1"}), ""},
        {"keys outside the section",
         "UseCompression=0\r\n[KYRZBK_HLV]\r\nCompressAll=1\r\n[Other]\r\nForceZbkSignature=1\r\n", defaults + "11001",
         "UseCompression=0\r\n" + SectionWith({"CompressAll=1"}) + "[Other]\r\nForceZbkSignature=1\r\n", ""},
        // Lines the plug-in does not own are written back byte for byte: what follows a NUL
        // or a lone CR in them belongs to whoever wrote it, and so do their line ends.
        {"foreign lines before the section keep NUL bytes and what follows them",
         "[Other]\0tail\r\nkey=a\0b\0c\n  \0\r\n\0\n[KYRZBK_HLV]\r\nUseCompression=0\r\n"s, defaults + "00001",
         "[Other]\0tail\r\nkey=a\0b\0c\n  \0\r\n\0\n"s + SectionWith({"UseCompression=0"}), ""},
        {"foreign lines after the section keep NUL bytes, even at their start",
         "[KYRZBK_HLV]\r\nUseCompression=0\r\n[Other]\r\n\0x=1\r\ny=\0\0\r\n\r\n\n\0\n"s, defaults + "00001",
         SectionWith({"UseCompression=0"}) + "[Other]\r\n\0x=1\r\ny=\0\0\r\n\0\n"s, ""},
        {"lone CRs before and after the section, and a last line without a line end",
         "a=1\rhidden\r\n\rb=2\n[KYRZBK_HLV]\nCompressAll=1\n[Other]\r\nc=3\r\rd=4\n\r\r\n\rtail",
         defaults + "11001",
         "a=1\rhidden\r\n\rb=2\n" + SectionWith({"CompressAll=1"}) + "[Other]\r\nc=3\r\rd=4\n\r\r\n\rtail", ""},
        {"LF and CR LF mixed, and comments in the section keep theirs",
         "[A]\nx=1\r\ny=2\n\n[KYRZBK_HLV]\n; mine\0more\rx\nCompressAll=1\r\n;\tb\r\n[B]\r\nz=3\nw=4\r\n"s,
         defaults + "11001",
         "[A]\nx=1\r\ny=2\n\n" + SectionWith({"CompressAll=1"}) + "; mine\0more\rx\n;\tb\r\n[B]\r\nz=3\nw=4\r\n"s, ""},
        {"no section: it follows a last line that ends in a NUL and a lone CR", "[Other]\r\nkey=\0x\r"s,
         defaults + "10001", "[Other]\r\nkey=\0x\r\r\n"s + kDefaultSection, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string path = dir.File("wincmd.ini");
        WriteFileText(path, c.content);
        ResetSettingsToDefaults();
        Load(path);
        EXPECT_EQ(Snapshot(), c.loaded);
        ASSERT_TRUE(SaveSettings());
        EXPECT_EQ(ReadFileText(path), c.saved);
        ResetSettingsToDefaults();
        Load(path);
        EXPECT_EQ(Snapshot(), c.reloaded.empty() ? c.loaded : c.reloaded);
        if (!c.reloaded.empty()) continue;
        ASSERT_TRUE(SaveSettings());
        EXPECT_EQ(ReadFileText(path), c.saved);
    }
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
