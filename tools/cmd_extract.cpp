#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "tools/archive_session.h"
#include "tools/host.h"
#include "tools/progress.h"

namespace fs = std::filesystem;

namespace {

bool IsAnySeparator(char c) { return c == '/' || c == '\\'; }

// An archive may hold any name; one that is absolute, names a drive or climbs with ".."
// would be written outside the chosen folder.
bool IsSafeEntryName(const std::string& name) {
    if (name.empty() || IsAnySeparator(name[0])) return false;
    if (name.size() >= 2 && name[1] == ':') return false;
    size_t start = 0;
    for (size_t i = 0; i <= name.size(); ++i) {
        if (i == name.size() || IsAnySeparator(name[i])) {
            if (name.compare(start, i - start, "..") == 0 && i - start == 2) return false;
            start = i + 1;
        }
    }
    return true;
}

// A requested name selects the entry itself or, as a folder, everything below it; letter
// case does not matter, as in archive lookups.
bool Selects(const std::string& request, const std::string& entry) {
    std::string r = FoldedName(request), e = FoldedName(entry);
    return e == r || (e.size() > r.size() && e.compare(0, r.size(), r) == 0 && e[r.size()] == '/');
}

uint64_t SelectedBytes(PluginApi& api, const std::string& archive, const std::vector<std::string>& requests) {
    uint64_t total = 0;
    for (const ListedEntry& entry : ListEntries(api, archive)) {
        bool selected = requests.empty();
        for (const std::string& r : requests) selected = selected || Selects(r, entry.name);
        if (selected) total += entry.unpackedBytes;
    }
    return total;
}

int Extract(HostContext& ctx, const std::vector<std::string>& args) {
    std::string archive, folder = ".";
    std::vector<std::string> requests;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-C") {
            if (++i >= args.size()) return UsageError("extract: -C needs a folder");
            folder = args[i];
        } else if (args[i].size() > 1 && args[i][0] == '-') {
            return UsageError("extract: unknown option " + args[i]);
        } else if (archive.empty()) {
            archive = args[i];
        } else {
            requests.push_back(args[i]);
        }
    }
    if (archive.empty()) return UsageError("extract needs an archive");

    SetProgressTotal(SelectedBytes(*ctx.api, archive, requests));
    ArchiveSession session(*ctx.api, archive, PK_OM_EXTRACT);
    int result = session.Open(HostProgress);
    if (result != 0) {
        FinishProgress();
        return ReportFailure(archive, result);
    }
    std::vector<bool> used(requests.size(), false);
    int firstFailure = 0, extracted = 0;
    auto fail = [&](const std::string& what, int code) {
        FinishProgress();
        ReportFailure(what, code);
        if (!firstFailure) firstFailure = code;
    };
    tHeaderDataEx header;
    while ((result = session.NextHeader(&header)) == 0) {
        std::string name = header.FileName;
        bool selected = requests.empty();
        for (size_t r = 0; r < requests.size(); ++r) {
            if (Selects(requests[r], name)) selected = used[r] = true;
        }
        int operation = PK_SKIP;
        std::string target;
        if (selected && !IsSafeEntryName(name)) {
            FinishProgress();
            std::fprintf(stderr, "kyrzbk: %s: %s: name leads outside the target folder, not extracted\n",
                         archive.c_str(), name.c_str());
            if (!firstFailure) firstFailure = E_BAD_DATA;
        } else if (selected) {
            target = folder + platform::HostSeparator() + name;
            std::error_code ec;
            fs::path parent = fs::u8path(target).parent_path();
            if (!parent.empty()) fs::create_directories(parent, ec);
            if (ec) fail(archive + ": " + name, E_ECREATE);
            else operation = PK_EXTRACT;
        }
        // The host passes the whole target as DestName and no DestPath, as the Linux file managers do.
        int processed = session.Process(operation, "", target);
        if (operation == PK_EXTRACT) {
            if (processed == 0) ++extracted;
            else fail(archive + ": " + name, processed);
        } else if (processed != 0) {
            fail(archive, processed);
            break;
        }
    }
    FinishProgress();
    if (result != E_END_ARCHIVE && result != 0) fail(archive, result);
    for (size_t r = 0; r < requests.size(); ++r) {
        if (used[r]) continue;
        std::fprintf(stderr, "kyrzbk: %s: no entry matches %s\n", archive.c_str(), requests[r].c_str());
        if (!firstFailure) firstFailure = E_NO_FILES;
    }
    int closed = session.Close();
    if (closed != 0) fail(archive, closed);
    std::printf("%d entr%s extracted to %s\n", extracted, extracted == 1 ? "y" : "ies", folder.c_str());
    return firstFailure;
}

const char kExtractHelp[] =
    "Extracts every entry of ARCHIVE, or only the entries NAME (a NAME that is a folder\n"
    "selects everything below it; letter case does not matter), creating folders as\n"
    "needed. Existing files are overwritten. Each entry is extracted with\n"
    "ProcessFile(PK_EXTRACT) and its full target path as DestName.\n"
    "\n"
    "options:\n"
    "  -C DIR  folder that receives the entries (default: the current folder)\n"
    "\n"
    "An entry whose name is absolute, names a drive or holds a \"..\" component is\n"
    "reported and not written, and the exit status is 12. A NAME that matches no entry\n"
    "gives 22. Otherwise the exit status is the first entry's failure (13 checksum,\n"
    "12 damaged data, 16 cannot create), or 0.\n"
    "\n"
    "examples:\n"
    "  kyrzbk extract examples/sample.zbk -C sample\n"
    "  kyrzbk extract examples/sample.zbk -C sample data/table.csv scripts\n";

HostCommandRegistration registration({20, "extract", "ARCHIVE [-C DIR] [NAME...]",
                                      "extract all entries, or the named ones", Extract, kExtractHelp});

} // namespace
