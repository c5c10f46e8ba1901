// Loading and saving the settings section of an arbitrary host configuration file. A save
// must be stable: saving what a save wrote gives the same bytes and the same settings. And it
// must not change a byte of the lines before the place where it writes its section.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/config_fuzz.h"
#include "settings/format_list.h"

namespace {

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::vector<uint8_t> bytes;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return bytes;
    for (int c; (c = std::fgetc(f)) != EOF;) bytes.push_back(static_cast<uint8_t>(c));
    std::fclose(f);
    return bytes;
}

void LoadFrom(const std::string& path) {
    ResetSettingsToDefaults();
    PackDefaultParamStruct params = {};
    params.size = sizeof params;
    std::strncpy(params.DefaultIniName, path.c_str(), sizeof params.DefaultIniName - 1);
    LoadSettings(&params);
}

std::string Snapshot() {
    const PluginSettingsRecord& s = PluginSettings;
    char* formats = JoinFormatList(*s.CompressFormats);
    std::string text = std::string(formats) + "|" + s.ZbkSignatureSuffixKey + "|" + s.ZbkSignatureSuffixValue + "|" +
                       char('0' + s.UseCompression) + char('0' + s.CompressAll) + char('0' + s.ForceZbkSignature) +
                       char('0' + s.KeepOriginalSignatureSuffix) + char('0' + s.WriteCppComments);
    std::free(formats);
    return text;
}

// Where the freshly written section starts. A header line that reads "[KYRZBK_HLV]" is the
// plug-in's own, so no line copied in front of the section can start like this.
size_t WrittenSectionStart(const std::vector<uint8_t>& saved) {
    static const std::string header = "[KYRZBK_HLV]\r\nUseCompression=";
    const std::string text(saved.begin(), saved.end());
    for (size_t at = text.find(header); at != std::string::npos; at = text.find(header, at + 1))
        if (at == 0 || text[at - 1] == '\n') return at;
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string& path = fuzz::ScratchPath("kyrzbk-fuzz-ini");
    fuzz::WriteAll(path, data, size);
    LoadFrom(path);
    bool emptyList = PluginSettings.CompressFormats->count == 0;
    std::string loaded = Snapshot();
    if (!SaveSettings()) std::abort();
    std::vector<uint8_t> saved = ReadAll(path);
    // The section replaces the first header of its name, or follows the whole file (behind a
    // CR LF when the file did not end in an LF).
    size_t kept = std::min(WrittenSectionStart(saved), size);
    if (kept > 0 && std::memcmp(saved.data(), data, kept) != 0) std::abort();
    LoadFrom(path);
    if (emptyList) {
        // An empty list is written as an empty value, which loading skips by design: the
        // reload has the default list, everything else as loaded, and the file settles with
        // the save that writes that list.
        if (Snapshot() != kDefaultCompressFormats + loaded) std::abort();
        loaded = Snapshot();
        if (!SaveSettings()) std::abort();
        saved = ReadAll(path);
        LoadFrom(path);
    }
    if (Snapshot() != loaded) std::abort();
    if (!SaveSettings()) std::abort();
    if (ReadAll(path) != saved) std::abort();
    return 0;
}
