#include "settings/settings_store.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "common/string_utils.h"
#include "common/text_line.h"
#include "platform/platform.h"
#include "settings/format_list.h"

namespace {

PluginSettingsRecord MakeDefaultSettings() {
    PluginSettingsRecord r;
    std::memset(&r, 0, sizeof r);
    r.UseCompression = true;
    r.CompressAll = false;
    r.CompressFormats = ParseFormatList(kDefaultCompressFormats);
    r.ForceZbkSignature = false;
    r.KeepOriginalSignatureSuffix = false;
    r.ZbkSignatureSuffixKey = DuplicateString(kDefaultSignatureSuffixKey);
    r.ZbkSignatureSuffixValue = DuplicateString(kDefaultSignatureSuffixValue);
    r.WriteCppComments = true;
    return r;
}

// A file this short cannot hold the section header and one setting.
constexpr int32_t kShortestLoadableFile = 11;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// line is trimmed and starts with '['. Its last character is taken for the closing bracket
// whatever it is, as the host's own reader does.
bool IsOwnSectionHeader(const char* line) {
    size_t n = std::strlen(line);
    const char* first = line + 1;
    const char* end = n >= 2 ? line + n - 1 : first;
    while (first < end && IsBlank(*first)) ++first;
    while (end > first && IsBlank(end[-1])) --end;
    size_t length = static_cast<size_t>(end - first);
    return length == sizeof kSettingsSection - 1 && std::memcmp(first, kSettingsSection, length) == 0;
}

void ReplaceString(char** field, const char* text) {
    if (!text || !*text) return;
    char* copy = DuplicateString(text);
    if (!copy) return;
    std::free(*field);
    *field = copy;
}

const char* SettingsPath() {
    const char* path = PluginSettings.DefaultParams.DefaultIniName;
    // The host's record is not guaranteed to be terminated within its array.
    return std::memchr(path, 0, sizeof PluginSettings.DefaultParams.DefaultIniName) && *path ? path : nullptr;
}

// Owns a block from ReadStoredLine or DuplicateString.
struct OwnedText {
    char* p = nullptr;
    ~OwnedText() { std::free(p); }
    void Reset(char* q) {
        std::free(p);
        p = q;
    }
};

// Lines the plug-in does not own go back exactly as they were read: other programs may keep
// bytes behind a NUL or a lone CR, where the text the rules below look at stops, and may use
// line ends of their own.
bool AppendStored(CTextBuffer& buffer, const OwnedText& stored, size_t size) {
    return size <= INT32_MAX && buffer.AppendBytes(stored.p, static_cast<int32_t>(size)) >= 0;
}

// Only a line that holds nothing but its line end is empty for the save: one whose text is
// empty because it stops at a NUL or a lone CR still carries bytes of someone else.
bool IsBareLineEnd(const char* stored, size_t size) {
    return (size == 1 && stored[0] == '\n') || (size == 2 && stored[0] == '\r' && stored[1] == '\n');
}

// Builds the new file content from the old file: the section is rewritten where it stood.
// False when a line cannot be read or copied, or an append fails.
bool MergeIntoExisting(FILE* in, CTextBuffer& buffer, bool* sectionWritten) {
    bool pastSection = false;
    OwnedText raw, stored, trimmed;
    for (;;) {
        bool failed = false;
        size_t size = 0;
        char* bytes = nullptr;
        raw.Reset(ReadStoredLine(in, &bytes, &size, &failed));
        stored.Reset(bytes);
        if (!raw.p) return !failed;
        trimmed.Reset(DuplicateString(raw.p));
        if (!trimmed.p) return false;
        TrimBlanks(trimmed.p);
        bool ok = true;
        if (pastSection) {
            if (!IsBareLineEnd(stored.p, size)) ok = AppendStored(buffer, stored, size);
        } else if (*trimmed.p == '[' && !*sectionWritten && IsOwnSectionHeader(trimmed.p)) {
            ok = WriteSettingsSection(buffer, false);
            *sectionWritten = true;
        } else if (!*sectionWritten || *trimmed.p == ';') {
            ok = AppendStored(buffer, stored, size);
        } else if (*trimmed.p == '[') {
            pastSection = true;
            ok = AppendStored(buffer, stored, size);
        }
        // Anything else is a blank line or an old setting of the plug-in's own section, which
        // the section just written replaces.
        if (!ok) return false;
    }
}

std::string FolderOf(const char* path) {
    const char* name = path + std::strlen(path);
    while (name > path && !platform::IsSeparator(name[-1])) --name;
    return std::string(path, static_cast<size_t>(name - path));
}

// Writes the content beside the file and then puts it in the file's place, so that the file
// is never seen truncated or half-written.
bool ReplaceFileContent(const char* path, const CTextBuffer& content) {
    std::string temp;
    FILE* f = platform::CreateUniqueFile(FolderOf(path), FindFileName(path), &temp);
    if (!f) return false;
    std::fclose(f);
    if (content.WriteToFile(temp.c_str()) != 0 || !platform::ReplaceFileAtomically(temp.c_str(), path)) {
        platform::DeleteFileAt(temp.c_str());
        return false;
    }
    return true;
}

} // namespace

PluginSettingsRecord PluginSettings = MakeDefaultSettings();

namespace {
std::recursive_mutex& SettingsMutex() {
    static std::recursive_mutex mutex;
    return mutex;
}
} // namespace

SettingsLock::SettingsLock() { SettingsMutex().lock(); }

SettingsLock::~SettingsLock() { SettingsMutex().unlock(); }

void SetCompressFormats(StringList* list) {
    delete PluginSettings.CompressFormats;
    if (!list) {
        try {
            list = new (std::nothrow) StringList();
        } catch (int) {
            list = nullptr;
        }
    }
    PluginSettings.CompressFormats = list;
}

void SetSignatureSuffixKey(const char* key) { ReplaceString(&PluginSettings.ZbkSignatureSuffixKey, key); }

void SetSignatureSuffixValue(const char* value) { ReplaceString(&PluginSettings.ZbkSignatureSuffixValue, value); }

void ApplySettingLine(char* line) {
    if (!line) return;
    char* equals = std::strchr(line, '=');
    if (!equals || equals == line || equals[1] == 0) return;
    *equals = 0;
    const char* key = TrimBlanks(line);
    char* value = TrimBlanks(equals + 1);
    if (!std::strcmp(key, "UseCompression"))
        PluginSettings.UseCompression = value[0] != '0';
    else if (!std::strcmp(key, "CompressAll"))
        PluginSettings.CompressAll = value[0] == '1';
    else if (!std::strcmp(key, "CompressFormats"))
        SetCompressFormats(ParseFormatList(RemoveBlanks(value)));
    else if (!std::strcmp(key, "ForceZbkSignature"))
        PluginSettings.ForceZbkSignature = value[0] == '1';
    else if (!std::strcmp(key, "KeepOriginalSignatureSuffix"))
        PluginSettings.KeepOriginalSignatureSuffix = value[0] == '1';
    else if (!std::strcmp(key, "ZbkSignatureSuffixKey"))
        SetSignatureSuffixKey(value);
    else if (!std::strcmp(key, "ZbkSignatureSuffixValue"))
        SetSignatureSuffixValue(value);
    else if (!std::strcmp(key, "WriteCppComments"))
        PluginSettings.WriteCppComments = value[0] != '0';
}

void LoadSettings(const PackDefaultParamStruct* params) {
    if (!params) return;
    SettingsLock lock;
    std::memcpy(&PluginSettings.DefaultParams, params, sizeof(PackDefaultParamStruct));
    const char* path = SettingsPath();
    if (!path) return;
    FILE* in = platform::OpenSharedRead(path);
    if (!in) return;
    if (GetOpenFileSize(in) < kShortestLoadableFile) {
        std::fclose(in);
        return;
    }
    bool inSection = false;
    while (char* line = ReadTextLine(in, true)) {
        if (*line == '[') {
            if (inSection) {
                std::free(line);
                break; // only the first section of that name counts
            }
            inSection = IsOwnSectionHeader(line);
        } else if (*line && *line != ';' && inSection) {
            ApplySettingLine(line);
        }
        std::free(line);
    }
    std::fclose(in);
}

bool SaveSettings() {
    SettingsLock lock;
    const char* path = SettingsPath();
    if (!path) return false;
    CTextBuffer buffer;
    if (!buffer.Data()) return false;
    bool sectionWritten = false;
    if (FILE* in = platform::OpenSharedRead(path)) {
        bool merged = MergeIntoExisting(in, buffer, &sectionWritten);
        std::fclose(in);
        if (!merged) return false;
    } else {
        // A file that exists but cannot be read would lose the host's lines if written over.
        platform::FoundFile found;
        if (platform::FindFile(path, &found)) return false;
    }
    if (!sectionWritten) {
        bool lineEndFirst = buffer.Length() > 0 && buffer.Data()[buffer.Length() - 1] != '\n';
        if (!WriteSettingsSection(buffer, lineEndFirst)) return false;
    }
    return ReplaceFileContent(path, buffer);
}

bool WriteSettingsSection(CTextBuffer& buffer, bool lineEndFirst) {
    bool ok = true;
    auto put = [&](int32_t result) { ok = ok && result >= 0; };
    auto putText = [&](const char* key, const char* value) {
        put(buffer.Append(key));
        put(buffer.Append("="));
        put(buffer.Append(value));
        put(buffer.AppendNewLines(1));
    };
    auto putBool = [&](const char* key, bool value) { putText(key, value ? "1" : "0"); };
    if (lineEndFirst) put(buffer.AppendNewLines(1));
    put(buffer.Append("["));
    put(buffer.Append(kSettingsSection));
    put(buffer.Append("]"));
    put(buffer.AppendNewLines(1));
    putBool("UseCompression", PluginSettings.UseCompression);
    putBool("CompressAll", PluginSettings.CompressAll);
    char* formats = PluginSettings.CompressFormats ? JoinFormatList(*PluginSettings.CompressFormats)
                                                   : DuplicateString("");
    if (formats)
        putText("CompressFormats", formats);
    else
        ok = false;
    std::free(formats);
    putBool("ForceZbkSignature", PluginSettings.ForceZbkSignature);
    putBool("KeepOriginalSignatureSuffix", PluginSettings.KeepOriginalSignatureSuffix);
    putText("ZbkSignatureSuffixKey", PluginSettings.ZbkSignatureSuffixKey);
    putText("ZbkSignatureSuffixValue", PluginSettings.ZbkSignatureSuffixValue);
    putBool("WriteCppComments", PluginSettings.WriteCppComments);
    return ok;
}

void ReleaseSettings() {
    SettingsLock lock;
    delete PluginSettings.CompressFormats;
    PluginSettings.CompressFormats = nullptr;
    std::free(PluginSettings.ZbkSignatureSuffixKey);
    PluginSettings.ZbkSignatureSuffixKey = nullptr;
    std::free(PluginSettings.ZbkSignatureSuffixValue);
    PluginSettings.ZbkSignatureSuffixValue = nullptr;
}

void ResetSettingsToDefaults() {
    SettingsLock lock;
    ReleaseSettings();
    PluginSettings = MakeDefaultSettings();
}
