#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "common/multi_string.h"
#include "platform/platform.h"
#include "tools/archive_session.h"
#include "tools/host.h"
#include "tools/progress.h"
#include "tools/progress_line.h"

namespace {

const char kPackHelp[] =
    "Packs the files NAME of SRCDIR (a NAME that is a folder brings everything below it),\n"
    "or all of SRCDIR without NAME, into ARCHIVE, with PackFiles as the file manager calls\n"
    "it. A new archive is created; an existing one is updated: an entry with the name of an\n"
    "added file (letter case ignored) is replaced, all others are kept as they are. Names\n"
    "inside the archive are relative to SRCDIR. Which files are compressed follows the\n"
    "settings (see --ini and kyrzbk options).\n"
    "\n"
    "options:\n"
    "  --sub-path PATH  store the files below the folder PATH inside the archive\n"
    "  --move           delete the source files once the archive is written (folders stay)\n"
    "  --property KEY=VALUE\n"
    "                   a new archive's header block holds KEY and VALUE (for the games'\n"
    "                   folder of every file: prefix=my\\mod\\data). The plug-in takes it\n"
    "                   through its settings (ForceZbkSignature on, KeepOriginalSignatureSuffix\n"
    "                   off, ZbkSignatureSuffixKey, ZbkSignatureSuffixValue), which hold one\n"
    "                   pair: give it once. Refused for an existing archive, which keeps the\n"
    "                   header block it has.\n"
    "  --threads N      compress on N threads (1: one file after the other on the calling\n"
    "                   thread); default one per available core. Passed to the plug-in as\n"
    "                   the environment variable KYRZBK_THREADS, which it reads at each pack.\n"
    "                   The archive's bytes are the same for every N.\n"
    "\n"
    "The archive is written beside its name and renamed into place only when complete.\n"
    "An existing archive keeps its header block (the games' folder prefix) byte for byte,\n"
    "and one that ends with an integrity block gets a fresh one; one whose block does not\n"
    "match its bytes is left as it is, with 12.\n"
    "\n"
    "A binarized configuration file as ARCHIVE takes back its one entry, the text named\n"
    "NAME.cpp as listing shows it: kyrzbk pack config.bin DIR config.cpp encodes DIR's\n"
    "config.cpp in the file's own layout and replaces the file. Text it cannot encode gives\n"
    "12 and leaves the file as it was (kyrzbk encode shows the line and column); any other\n"
    "NAME, or a --sub-path, gives 24.\n"
    "\n"
    "A missing SRCDIR or NAME gives 15, an existing file that is no ZBK archive 14. A file\n"
    "whose name holds '\\' (possible on Linux) cannot be stored under its name, nor a file\n"
    "of 4 GiB or more in an entry: the command names it, packs nothing and gives 24.\n"
    "\n"
    "examples:\n"
    "  kyrzbk pack demo.zbk examples/demo\n"
    "  kyrzbk pack demo.zbk examples/extra welcome.html --sub-path docs\n";

// Adds the files below folder (relative to srcDir, ending in a separator or empty) the way
// the file manager lists them: every file by its relative path, every folder as its
// relative name ending in a separator.
void AddTree(const std::string& srcDir, const std::string& folder, std::vector<std::string>* names) {
    std::vector<platform::FoundFile> found;
    if (!platform::ListDirectory((srcDir + folder).c_str(), &found)) return;
    for (const platform::FoundFile& f : found) {
        std::string relative = folder + f.name;
        if (f.attrib & platform::kAttrDirectory) {
            names->push_back(relative + platform::HostSeparator());
            AddTree(srcDir, relative + platform::HostSeparator(), names);
        } else {
            names->push_back(relative);
        }
    }
}

// Each entry's size is a 32-bit field.
constexpr uint64_t kEntrySizeLimit = 1ull << 32;

// The plug-in refuses the whole request for a file it cannot store, by its name or its
// size, with one code; the user learns which file it was and why.
void ReportRefusedFile(const std::string& srcDir, const std::vector<std::string>& names,
                       const std::vector<uint64_t>& sizes) {
    for (size_t i = 0; i < names.size(); ++i) {
        const std::string& name = names[i];
        std::string stored;
        const char* reason = nullptr;
        std::string size;
        if (!platform::CanStoreName(name.c_str())) {
            reason = "the name cannot be stored in an archive ('\\' separates folders there); rename it";
        } else if (!platform::ToArchiveText(name, &stored)) {
            reason = "the name holds characters that the system's ANSI code page, in which archives keep names, "
                     "lacks; rename it";
        } else if (sizes[i] >= kEntrySizeLimit) {
            size = "4 GiB or more (" + ByteSize(sizes[i]) + "), more than an entry can hold";
            reason = size.c_str();
        }
        if (reason) {
            std::fprintf(stderr, "kyrzbk: %s: %s; nothing was packed\n", (srcDir + name).c_str(), reason);
            return;
        }
    }
}

// What packing into an existing archive copies besides the files: the entries it keeps.
// The plug-in counts the files' bytes, or reports percentages of both.
uint64_t KeptBytes(PluginApi& api, const std::string& archive, const std::string& subPath,
                   const std::vector<std::string>& names) {
    platform::FoundFile existing;
    if (!platform::FindFile(archive.c_str(), &existing)) return 0;
    std::set<std::string> added;
    std::string prefix = subPath.empty() ? std::string() : FoldedName(subPath) + "/";
    for (const std::string& name : names) added.insert(prefix + FoldedName(name));
    uint64_t kept = 0;
    for (const ListedEntry& entry : ListEntries(api, archive))
        if (!added.count(FoldedName(entry.name))) kept += entry.packedBytes;
    return kept;
}

// A deletion copies the entries it keeps. Names compare with letter case; "folder/*.*"
// takes everything below the folder.
uint64_t DeleteTotal(PluginApi& api, const std::string& archive, const std::vector<std::string>& names) {
    auto slashed = [](std::string s) {
        for (char& c : s)
            if (c == '\\') c = '/';
        return s;
    };
    uint64_t total = 0;
    for (const ListedEntry& entry : ListEntries(api, archive)) {
        std::string e = slashed(entry.name);
        bool deleted = false;
        for (const std::string& name : names) {
            std::string n = slashed(name);
            bool folder = n.size() >= 3 && n.compare(n.size() - 3, 3, "*.*") == 0;
            deleted = deleted || e == n || (folder && e.compare(0, n.size() - 3, n, 0, n.size() - 3) == 0);
        }
        if (!deleted) total += entry.packedBytes;
    }
    return total;
}

// The lines of the first settings section of the plug-in in a settings file, as the
// plug-in reads them; none when there is no such file or section.
std::string OwnSectionLines(const std::string& iniPath) {
    std::string lines;
    if (iniPath.empty()) return lines;
    std::unique_ptr<FILE, int (*)(FILE*)> in(platform::OpenFile(iniPath.c_str(), "rb"), std::fclose);
    if (!in) return lines;
    bool inSection = false;
    char line[4096];
    while (std::fgets(line, sizeof line, in.get())) {
        std::string text = line;
        size_t first = text.find_first_not_of(" \t");
        if (first != std::string::npos && text[first] == '[') {
            if (inSection) break;
            size_t close = text.find(']', first);
            inSection = close != std::string::npos && text.substr(first + 1, close - first - 1) == "KYRZBK_HLV";
        } else if (inSection) {
            lines += text;
            if (text.back() != '\n') lines += "\r\n";
        }
    }
    return lines;
}

// A settings file for this run: the user's settings, then the signature switches and the
// one key and value they hold. Empty when no file can be written.
std::string SettingsWithProperty(const std::string& iniPath, const std::string& key, const std::string& value) {
    std::error_code ec;
    std::string folder = std::filesystem::temp_directory_path(ec).u8string();
    std::string path;
    FILE* out = ec ? nullptr : platform::CreateUniqueFile(folder, "kyrzbk-settings", &path);
    if (!out) return std::string();
    std::string text = "[KYRZBK_HLV]\r\n" + OwnSectionLines(iniPath) +
                       "ForceZbkSignature=1\r\nKeepOriginalSignatureSuffix=0\r\nZbkSignatureSuffixKey=" + key +
                       "\r\nZbkSignatureSuffixValue=" + value + "\r\n";
    bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
    if (std::fclose(out) != 0 || !written) {
        platform::DeleteFileAt(path.c_str());
        return std::string();
    }
    return path;
}

// KEY=VALUE as the settings can hold it: both non-empty, without blanks at either end
// (the settings file trims them) or line breaks; an error text otherwise.
std::string SplitProperty(const std::string& pair, std::string* key, std::string* value) {
    size_t equals = pair.find('=');
    if (equals == std::string::npos) return "--property needs KEY=VALUE";
    *key = pair.substr(0, equals);
    *value = pair.substr(equals + 1);
    for (const std::string* part : {key, value}) {
        if (part->empty()) return "--property needs a KEY and a VALUE that are not empty";
        if (part->find_first_of("\r\n") != std::string::npos) return "--property cannot hold a line break";
        if (std::isspace(static_cast<unsigned char>(part->front())) ||
            std::isspace(static_cast<unsigned char>(part->back())))
            return "--property: KEY and VALUE cannot begin or end with a blank";
    }
    return std::string();
}

int Pack(HostContext& ctx, const std::vector<std::string>& args) {
    std::vector<std::string> positional;
    std::string subPath;
    bool move = false;
    std::string threads;
    std::vector<std::string> properties;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--sub-path" && i + 1 < args.size()) subPath = args[++i];
        else if (args[i] == "--property" && i + 1 < args.size()) properties.push_back(args[++i]);
        else if (args[i] == "--move") move = true;
        else if (args[i] == "--threads" && i + 1 < args.size()) threads = args[++i];
        else if (args[i].size() > 1 && args[i][0] == '-' && args[i] != "-") return UsageError("unknown option " + args[i]);
        else positional.push_back(args[i]);
    }
    if (positional.size() < 2) return UsageError("pack needs ARCHIVE and SRCDIR");
    if (!threads.empty()) {
        // The exports have no place for it, and the plug-in no setting: the environment does.
        if (threads.find_first_not_of("0123456789") != std::string::npos || std::atoi(threads.c_str()) < 1)
            return UsageError("--threads needs a number from 1 on");
        platform::SetEnvironmentValue("KYRZBK_THREADS", threads.c_str());
    }
    std::string archive = positional[0];
    std::string srcDir = positional[1];
    std::string propertyKey, propertyValue;
    if (properties.size() > 1) return UsageError("--property: the settings hold one KEY=VALUE pair");
    if (!properties.empty()) {
        std::string error = SplitProperty(properties[0], &propertyKey, &propertyValue);
        if (!error.empty()) return UsageError(error);
        platform::FoundFile existing;
        // Given to an existing archive, it would replace the header block the games read.
        if (platform::FindFile(archive.c_str(), &existing))
            return UsageError("--property sets the header of a new archive; " + archive + " exists and keeps its own");
    }
    if (!platform::IsSeparator(srcDir.back())) srcDir += platform::HostSeparator();
    platform::FoundFile dir;
    if (!platform::FindFile(positional[1].c_str(), &dir) || !(dir.attrib & platform::kAttrDirectory))
        return ReportFailure(positional[1], E_EOPEN);

    std::vector<std::string> names;
    std::vector<uint64_t> sizes;
    if (positional.size() == 2) {
        AddTree(srcDir, "", &names);
    } else {
        for (size_t i = 2; i < positional.size(); ++i) {
            std::string name = positional[i];
            while (!name.empty() && platform::IsSeparator(name.back())) name.pop_back();
            platform::FoundFile f;
            if (!platform::FindFile((srcDir + name).c_str(), &f)) return ReportFailure(srcDir + name, E_EOPEN);
            if (f.attrib & platform::kAttrDirectory) {
                names.push_back(name + platform::HostSeparator());
                AddTree(srcDir, name + platform::HostSeparator(), &names);
            } else {
                names.push_back(name);
            }
        }
    }
    for (const std::string& name : names) {
        platform::FoundFile f;
        bool file = !platform::IsSeparator(name.back()) && platform::FindFile((srcDir + name).c_str(), &f);
        sizes.push_back(file ? f.size : 0);
    }
    std::string settings;
    if (!propertyKey.empty()) {
        settings = SettingsWithProperty(ctx.iniPath, propertyKey, propertyValue);
        if (settings.empty()) return ReportFailure("temporary settings file", E_ECREATE);
        ctx.api->SetDefaultParams(settings);
    }
    uint64_t filesBytes = 0;
    for (uint64_t size : sizes) filesBytes += size;
    uint64_t keptBytes = ProgressShown() ? KeptBytes(*ctx.api, archive, subPath, names) : 0;
    SetProgressTotal(filesBytes + keptBytes, filesBytes);
    int result = ctx.api->Pack(archive, subPath, srcDir, names, move ? PK_PACK_MOVE_FILES : 0);
    FinishProgress();
    if (!settings.empty()) platform::DeleteFileAt(settings.c_str());
    if (result == E_NOT_SUPPORTED) ReportRefusedFile(srcDir, names, sizes);
    if (result == E_BAD_DATA && names.size() == 1)
        std::fprintf(stderr, "kyrzbk: if %s is a configuration file, kyrzbk encode %s%s shows where the text "
                             "is refused\n", archive.c_str(), srcDir.c_str(), names[0].c_str());
    return result ? ReportFailure(archive, result) : 0;
}

int Delete(HostContext& ctx, const std::vector<std::string>& args) {
    if (args.size() < 2) return UsageError("delete needs ARCHIVE and at least one NAME");
    std::vector<std::string> names;
    for (size_t i = 1; i < args.size(); ++i) {
        // A folder is deleted with everything below it, as the file manager asks for it.
        names.push_back(platform::IsSeparator(args[i].back()) ? args[i] + "*.*" : args[i]);
    }
    SetProgressTotal(ProgressShown() ? DeleteTotal(*ctx.api, args[0], names) : 0);
    int result = ctx.api->Delete(args[0], names);
    FinishProgress();
    return result ? ReportFailure(args[0], result) : 0;
}

const char kDeleteHelp[] =
    "Deletes the entries NAME from ARCHIVE, with DeleteFiles as the file manager calls it.\n"
    "NAME is an entry's name as listed, compared with letter case; a NAME ending in a\n"
    "separator (\"scripts/\") deletes that folder and everything below it. A NAME that\n"
    "matches nothing is no error.\n"
    "\n"
    "The archive is rewritten beside the old one and replaces it only when complete; when\n"
    "no entry matches, it is left untouched. It keeps its header block and integrity\n"
    "block as pack does.\n"
    "\n"
    "example:\n"
    "  kyrzbk delete demo.zbk docs/welcome.html code/\n";

HostCommandRegistration packRegistration({30, "pack",
                                          "ARCHIVE SRCDIR [NAME...] [--sub-path PATH] [--move] [--threads N] "
                                          "[--property KEY=VALUE]",
                                          "create an archive, or add files to one", Pack, kPackHelp});
HostCommandRegistration deleteRegistration({40, "delete", "ARCHIVE NAME...", "delete entries from an archive",
                                            Delete, kDeleteHelp});

} // namespace
