#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "settings/format_list.h"
#include "settings/options_dialog.h"
#include "settings/options_dialog_ids.h"
#include "settings/settings_store.h"
#include "tests/support/temp_dir.h"

namespace {

// Stands in for the dialog manager: holds each control of the template and what the dialog
// did to it, and plays the user's clicks and typing the way the dialog manager would.
class FakeDialogManager : public DialogControls {
public:
    struct Control {
        bool checkBox = false;
        bool checked = false;
        bool enabled = true;
        std::string text;
    };

    FakeDialogManager() {
        for (int id : {IDC_USE_COMPRESSION, IDC_COMPRESS_ALL, IDC_FORCE_SIGNATURE, IDC_KEEP_SUFFIX, IDC_WRITE_COMMENTS})
            controls[id].checkBox = true;
        for (int id : {IDC_COMPRESSION_GROUP, IDC_SIGNATURE_GROUP, IDC_DECODING_GROUP, IDC_SAVE, IDC_CANCEL,
                       IDC_LOAD_DEFAULTS, IDC_SESSION_ONLY, IDC_FORMATS_LABEL, IDC_FORMATS, IDC_SUFFIX_KEY_LABEL,
                       IDC_SUFFIX_KEY, IDC_SUFFIX_VALUE_LABEL, IDC_SUFFIX_VALUE})
            controls[id];
    }

    bool IsChecked(int id) override { return At(id).checked; }
    void SetChecked(int id, bool checked) override { At(id).checked = checked; }
    int TextLength(int id) override { return static_cast<int>(At(id).text.size()); }
    int GetText(int id, char* buffer, int size) override {
        if (failFetch) return 0;
        std::string text = At(id).text.substr(0, static_cast<size_t>(size - 1));
        std::memcpy(buffer, text.c_str(), text.size() + 1);
        return static_cast<int>(text.size());
    }
    void SetText(int id, const char* text) override { At(id).text = text; }
    void Enable(int id, bool enabled) override { At(id).enabled = enabled; }
    void EndDialog(int code) override { endCodes.push_back(code); }

    Control& At(int id) {
        auto it = controls.find(id);
        if (it == controls.end()) {
            ADD_FAILURE() << "the dialog touched control " << id << ", which the template does not have";
            return controls[id];
        }
        return it->second;
    }

    // A user can only reach enabled controls; an automatic check box toggles before it reports
    // the click.
    void Click(COptionsDialog& dialog, int id) {
        ASSERT_TRUE(At(id).enabled) << "control " << id << " is disabled";
        if (At(id).checkBox) At(id).checked = !At(id).checked;
        dialog.DialogProc(kWmCommand, static_cast<uintptr_t>(id), 0);
    }
    void Type(int id, const std::string& text) {
        ASSERT_TRUE(At(id).enabled) << "control " << id << " is disabled";
        At(id).text = text;
    }

    std::map<int, Control> controls;
    std::vector<int> endCodes;
    bool failFetch = false;
};

std::string Joined(const StringList* list) {
    if (!list) return "<null>";
    char* j = JoinFormatList(*list);
    std::string s = j ? j : "<null>";
    std::free(j);
    return s;
}

// The settings as one comparable line.
std::string SettingsSummary() {
    const PluginSettingsRecord& s = PluginSettings;
    return std::string("use=") + (s.UseCompression ? "1" : "0") + " all=" + (s.CompressAll ? "1" : "0") +
           " formats=" + Joined(s.CompressFormats) + " force=" + (s.ForceZbkSignature ? "1" : "0") +
           " keep=" + (s.KeepOriginalSignatureSuffix ? "1" : "0") + " key=" + s.ZbkSignatureSuffixKey +
           " value=" + s.ZbkSignatureSuffixValue + " comments=" + (s.WriteCppComments ? "1" : "0");
}

const char kDefaultsSummary[] = "use=1 all=0 formats=sqs,sqf,sqm,ext,csv,txt,htm,html,cpp,bin,p3d force=0 keep=0 "
                                "key=Packer value=kyrzbk comments=1";

// Check states of 1004 1006 1009 1010 1018, as '0' and '1'.
std::string Checks(FakeDialogManager& f) {
    std::string s;
    for (int id : {IDC_USE_COMPRESSION, IDC_COMPRESS_ALL, IDC_FORCE_SIGNATURE, IDC_KEEP_SUFFIX, IDC_WRITE_COMMENTS})
        s += f.At(id).checked ? '1' : '0';
    return s;
}

// Enabled flags of the controls that the rules switch: 1006 1007 1010 1012 1014.
std::string Enabled(FakeDialogManager& f) {
    std::string s;
    for (int id : {IDC_COMPRESS_ALL, IDC_FORMATS, IDC_KEEP_SUFFIX, IDC_SUFFIX_KEY, IDC_SUFFIX_VALUE})
        s += f.At(id).enabled ? '1' : '0';
    return s;
}

// The settings file the tests start from: foreign lines around a section that differs from
// the defaults in every setting.
const char kStartFile[] = "[Other]\r\n"
                          "x=1\r\n"
                          "[KYRZBK_HLV]\r\n"
                          "UseCompression=0\r\n"
                          "CompressAll=1\r\n"
                          "CompressFormats=txt,cpp\r\n"
                          "ForceZbkSignature=1\r\n"
                          "KeepOriginalSignatureSuffix=1\r\n"
                          "ZbkSignatureSuffixKey=Maker\r\n"
                          "ZbkSignatureSuffixValue=tool\r\n"
                          "WriteCppComments=0\r\n";
const char kStartSummary[] = "use=0 all=1 formats=txt,cpp force=1 keep=1 key=Maker value=tool comments=0";

class OptionsDialog : public ::testing::Test {
protected:
    void SetUp() override {
        LoadStartFile();
        dialog.SetControls(&fake);
    }
    void TearDown() override { ResetSettingsToDefaults(); }

    // A fresh library that the host has handed the start file.
    void LoadStartFile() {
        ResetSettingsToDefaults();
        ini = dir.File("plugins.ini");
        WriteFileText(ini, kStartFile);
        PackDefaultParamStruct params = {};
        params.size = sizeof params;
        std::strncpy(params.DefaultIniName, ini.c_str(), sizeof params.DefaultIniName - 1);
        LoadSettings(&params);
        ASSERT_EQ(SettingsSummary(), kStartSummary);
    }
    void Open() { ASSERT_TRUE(dialog.DialogProc(kWmInitDialog, 0, 0)); }

    TempDir dir;
    std::string ini;
    FakeDialogManager fake;
    COptionsDialog dialog{nullptr, nullptr};
};

// Applies "key=value" lines, separated by '|', on top of the built-in defaults.
void SetSettings(const std::string& lines) {
    ResetSettingsToDefaults();
    size_t start = 0;
    while (start <= lines.size()) {
        size_t end = lines.find('|', start);
        if (end == std::string::npos) end = lines.size();
        std::string line = lines.substr(start, end - start);
        ApplySettingLine(&line[0]);
        start = end + 1;
    }
}

TEST_F(OptionsDialog, OpeningShowsTheSettings) {
    struct Case {
        const char* settings;
        const char* checks;  // 1004 1006 1009 1010 1018
        const char* formats; // 1007
        const char* enabled; // 1006 1007 1010 1012 1014
    } cases[] = {
        {"", "10001", "sqs,sqf,sqm,ext,csv,txt,htm,html,cpp,bin,p3d", "11000"},
        {"CompressAll=1", "11001", "sqs,sqf,sqm,ext,csv,txt,htm,html,cpp,bin,p3d", "10000"},
        {"UseCompression=0|CompressAll=1", "01001", "sqs,sqf,sqm,ext,csv,txt,htm,html,cpp,bin,p3d", "00000"},
        // Shown as stored: single commas, no blanks, duplicates kept.
        {"CompressFormats= txt ;;cpp,txt,", "10001", "txt,cpp,txt", "11000"},
        {"CompressFormats=,;", "10001", "", "11000"},
        {"ForceZbkSignature=1", "10101", "sqs,sqf,sqm,ext,csv,txt,htm,html,cpp,bin,p3d", "11111"},
        {"ForceZbkSignature=1|KeepOriginalSignatureSuffix=1|WriteCppComments=0", "10110",
         "sqs,sqf,sqm,ext,csv,txt,htm,html,cpp,bin,p3d", "11100"},
        // Without a signature the suffix controls are off, whatever they hold.
        {"KeepOriginalSignatureSuffix=1|ZbkSignatureSuffixKey=K|ZbkSignatureSuffixValue=V", "10011",
         "sqs,sqf,sqm,ext,csv,txt,htm,html,cpp,bin,p3d", "11000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.settings);
        SetSettings(c.settings);
        FakeDialogManager shown;
        COptionsDialog opened(nullptr, nullptr);
        opened.SetControls(&shown);
        ASSERT_TRUE(opened.DialogProc(kWmInitDialog, 0, 0));
        EXPECT_EQ(Checks(shown), c.checks);
        EXPECT_EQ(shown.At(IDC_FORMATS).text, c.formats);
        EXPECT_EQ(shown.At(IDC_SUFFIX_KEY).text, PluginSettings.ZbkSignatureSuffixKey);
        EXPECT_EQ(shown.At(IDC_SUFFIX_VALUE).text, PluginSettings.ZbkSignatureSuffixValue);
        EXPECT_EQ(Enabled(shown), c.enabled);
        EXPECT_TRUE(shown.endCodes.empty());
    }
}

TEST_F(OptionsDialog, EnablingFollowsEachClick) {
    SetSettings("");
    Open();
    ASSERT_EQ(Enabled(fake), "11000");
    struct Step {
        int click;
        const char* enabled; // 1006 1007 1010 1012 1014 afterwards
    } steps[] = {
        {IDC_USE_COMPRESSION, "00000"},
        {IDC_USE_COMPRESSION, "11000"},
        {IDC_COMPRESS_ALL, "10000"},
        {IDC_USE_COMPRESSION, "00000"},
        // Compressing again brings the formats back only for compression by extension.
        {IDC_USE_COMPRESSION, "10000"},
        {IDC_COMPRESS_ALL, "11000"},
        {IDC_FORCE_SIGNATURE, "11111"},
        {IDC_KEEP_SUFFIX, "11100"},
        {IDC_FORCE_SIGNATURE, "11000"},
        {IDC_FORCE_SIGNATURE, "11100"},
        {IDC_KEEP_SUFFIX, "11111"},
    };
    int n = 0;
    for (const Step& s : steps) {
        SCOPED_TRACE("step " + std::to_string(++n) + ": click " + std::to_string(s.click));
        fake.Click(dialog, s.click);
        EXPECT_EQ(Enabled(fake), s.enabled);
    }
    for (int id : {IDC_COMPRESSION_GROUP, IDC_SIGNATURE_GROUP, IDC_DECODING_GROUP, IDC_FORMATS_LABEL,
                   IDC_SUFFIX_KEY_LABEL, IDC_SUFFIX_VALUE_LABEL, IDC_WRITE_COMMENTS, IDC_USE_COMPRESSION,
                   IDC_FORCE_SIGNATURE})
        EXPECT_TRUE(fake.At(id).enabled) << id;
    EXPECT_TRUE(fake.endCodes.empty());
    EXPECT_EQ(SettingsSummary(), kDefaultsSummary) << "clicks alone apply nothing";
}

TEST_F(OptionsDialog, LoadDefaultsResetsTheControlsOnly) {
    Open();
    ASSERT_EQ(Checks(fake), "01110");
    ASSERT_EQ(Enabled(fake), "00100");
    fake.Click(dialog, IDC_LOAD_DEFAULTS);
    EXPECT_EQ(Checks(fake), "10001");
    EXPECT_EQ(Enabled(fake), "11000");
    EXPECT_EQ(fake.At(IDC_FORMATS).text, "sqs,sqf,sqm,ext,csv,txt,htm,html,cpp,bin,p3d");
    EXPECT_EQ(fake.At(IDC_SUFFIX_KEY).text, "Packer");
    EXPECT_EQ(fake.At(IDC_SUFFIX_VALUE).text, "kyrzbk");
    EXPECT_TRUE(fake.endCodes.empty());
    EXPECT_EQ(SettingsSummary(), kStartSummary);
}

TEST_F(OptionsDialog, EachButtonAppliesSavesOrDiscards) {
    const std::string savedStart = "[Other]\r\nx=1\r\n[KYRZBK_HLV]\r\n";
    struct Case {
        const char* name;
        std::vector<int> clicks; // before the closing button
        const char* key;         // typed into 1012 when not null
        int closeWith;
        const char* summary;
        const char* section; // the file's section afterwards; null: the file is unchanged
    } cases[] = {
        {"cancel after edits", {IDC_KEEP_SUFFIX, IDC_USE_COMPRESSION, IDC_COMPRESS_ALL}, "Edited", IDC_CANCEL, kStartSummary, nullptr},
        {"load defaults, then cancel", {IDC_LOAD_DEFAULTS}, nullptr, IDC_CANCEL, kStartSummary, nullptr},
        {"session only", {IDC_KEEP_SUFFIX, IDC_USE_COMPRESSION, IDC_COMPRESS_ALL}, "Edited", IDC_SESSION_ONLY,
         "use=1 all=0 formats=txt,cpp force=1 keep=0 key=Edited value=tool comments=0", nullptr},
        {"save",
         {IDC_KEEP_SUFFIX, IDC_USE_COMPRESSION, IDC_COMPRESS_ALL},
         "Edited",
         IDC_SAVE,
         "use=1 all=0 formats=txt,cpp force=1 keep=0 key=Edited value=tool comments=0",
         "UseCompression=1\r\nCompressAll=0\r\nCompressFormats=txt,cpp\r\nForceZbkSignature=1\r\n"
         "KeepOriginalSignatureSuffix=0\r\nZbkSignatureSuffixKey=Edited\r\nZbkSignatureSuffixValue=tool\r\n"
         "WriteCppComments=0\r\n"},
        {"load defaults, then save", {IDC_LOAD_DEFAULTS}, nullptr, IDC_SAVE, kDefaultsSummary,
         "UseCompression=1\r\nCompressAll=0\r\nCompressFormats=sqs,sqf,sqm,ext,csv,txt,htm,html,cpp,bin,p3d\r\n"
         "ForceZbkSignature=0\r\nKeepOriginalSignatureSuffix=0\r\nZbkSignatureSuffixKey=Packer\r\n"
         "ZbkSignatureSuffixValue=kyrzbk\r\nWriteCppComments=1\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LoadStartFile();
        FakeDialogManager user;
        COptionsDialog shown(nullptr, nullptr);
        shown.SetControls(&user);
        ASSERT_TRUE(shown.DialogProc(kWmInitDialog, 0, 0));
        for (int id : c.clicks) user.Click(shown, id);
        if (c.key) user.Type(IDC_SUFFIX_KEY, c.key);
        user.Click(shown, c.closeWith);
        EXPECT_EQ(user.endCodes, std::vector<int>{c.closeWith});
        EXPECT_EQ(SettingsSummary(), c.summary);
        EXPECT_EQ(ReadFileText(ini), c.section ? savedStart + c.section : std::string(kStartFile));
    }
}

TEST_F(OptionsDialog, EditTextsThatKeepOrReplaceASetting) {
    struct Case {
        const char* name;
        const char* formats;
        const char* key;
        const char* value;
        bool fetchFails;
        const char* summary;
    } cases[] = {
        {"unchanged texts", "txt,cpp", "Maker", "tool", false, kStartSummary},
        {"cleared edits keep the settings", "", "", "", false, kStartSummary},
        {"blanks and separators only: an empty list", " ,; ,", "Maker", "tool", false,
         "use=0 all=1 formats= force=1 keep=1 key=Maker value=tool comments=0"},
        {"blanks removed, case and duplicates kept", " sqs , P3D;;sqs ", "Maker", "tool", false,
         "use=0 all=1 formats=sqs,P3D,sqs force=1 keep=1 key=Maker value=tool comments=0"},
        {"new key and value", "txt,cpp", "NewKey", "v 2", false,
         "use=0 all=1 formats=txt,cpp force=1 keep=1 key=NewKey value=v 2 comments=0"},
        {"texts that cannot be fetched count as empty", "bin", "K", "V", true, kStartSummary},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LoadStartFile();
        FakeDialogManager user;
        COptionsDialog shown(nullptr, nullptr);
        shown.SetControls(&user);
        ASSERT_TRUE(shown.DialogProc(kWmInitDialog, 0, 0));
        // All three edits are disabled by the start file's settings; they are read all the same.
        ASSERT_EQ(Enabled(user), "00100");
        user.At(IDC_FORMATS).text = c.formats;
        user.At(IDC_SUFFIX_KEY).text = c.key;
        user.At(IDC_SUFFIX_VALUE).text = c.value;
        user.failFetch = c.fetchFails;
        user.Click(shown, IDC_SESSION_ONLY);
        EXPECT_EQ(SettingsSummary(), c.summary);
        EXPECT_EQ(ReadFileText(ini), kStartFile);
    }
}

TEST_F(OptionsDialog, SessionOnlyValuesAreSavedByALaterSave) {
    Open();
    fake.Click(dialog, IDC_USE_COMPRESSION);
    fake.Click(dialog, IDC_COMPRESS_ALL);
    fake.Type(IDC_FORMATS, "a,b");
    fake.Click(dialog, IDC_SESSION_ONLY);
    ASSERT_EQ(SettingsSummary(), "use=1 all=0 formats=a,b force=1 keep=1 key=Maker value=tool comments=0");
    ASSERT_EQ(ReadFileText(ini), kStartFile);

    FakeDialogManager later;
    COptionsDialog again(nullptr, nullptr);
    again.SetControls(&later);
    ASSERT_TRUE(again.DialogProc(kWmInitDialog, 0, 0));
    EXPECT_EQ(later.At(IDC_FORMATS).text, "a,b");
    later.Click(again, IDC_WRITE_COMMENTS);
    later.Click(again, IDC_SAVE);
    EXPECT_EQ(later.endCodes, std::vector<int>{IDC_SAVE});
    EXPECT_EQ(ReadFileText(ini), "[Other]\r\nx=1\r\n[KYRZBK_HLV]\r\nUseCompression=1\r\nCompressAll=0\r\n"
                                 "CompressFormats=a,b\r\nForceZbkSignature=1\r\nKeepOriginalSignatureSuffix=1\r\n"
                                 "ZbkSignatureSuffixKey=Maker\r\nZbkSignatureSuffixValue=tool\r\n"
                                 "WriteCppComments=1\r\n");
}

TEST_F(OptionsDialog, SaveWithoutASettingsFileStillApplies) {
    SetSettings("");
    Open();
    fake.Click(dialog, IDC_WRITE_COMMENTS);
    fake.Click(dialog, IDC_SAVE);
    EXPECT_EQ(fake.endCodes, std::vector<int>{IDC_SAVE});
    EXPECT_FALSE(PluginSettings.WriteCppComments);
    EXPECT_EQ(ReadFileText(ini), kStartFile);
}

TEST_F(OptionsDialog, OnlyItsMessagesAreHandled) {
    Open();
    auto command = [](int id, int notification) {
        return static_cast<uintptr_t>(id) | static_cast<uintptr_t>(notification) << 16;
    };
    struct Case {
        const char* name;
        unsigned message;
        uintptr_t wParam;
    } cases[] = {
        {"an edit's change notification", kWmCommand, command(IDC_FORMATS, 0x300)},
        {"a button's notification other than a click", kWmCommand, command(IDC_SAVE, 1)},
        {"a cancel that is no click", kWmCommand, command(IDC_CANCEL, 5)},
        {"a control without an action", kWmCommand, command(IDC_COMPRESSION_GROUP, 0)},
        {"a label", kWmCommand, command(IDC_FORMATS_LABEL, 0)},
        // The check box keeps its own state; nothing depends on it while the dialog is open.
        {"the comments check box", kWmCommand, command(IDC_WRITE_COMMENTS, 0)},
        {"another message", 0x0200, command(IDC_SAVE, 0)},
    };
    const std::string checks = Checks(fake), enabled = Enabled(fake);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(dialog.DialogProc(c.message, c.wParam, 0));
        EXPECT_TRUE(fake.endCodes.empty());
        EXPECT_EQ(Checks(fake), checks);
        EXPECT_EQ(Enabled(fake), enabled);
    }
    EXPECT_EQ(SettingsSummary(), kStartSummary);

    int window = 0;
    dialog.SetWindow(&window);
    EXPECT_TRUE(dialog.DialogProc(kWmDestroy, 0, 0));
    EXPECT_EQ(dialog.Window(), nullptr);

    COptionsDialog unbound(nullptr, nullptr);
    EXPECT_FALSE(unbound.DialogProc(kWmInitDialog, 0, 0)) << "no controls to fill";
}

} // namespace
