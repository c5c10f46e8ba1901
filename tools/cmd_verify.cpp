#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

#include "tools/archive_session.h"
#include "tools/host.h"
#include "tools/progress.h"

namespace fs = std::filesystem;

namespace {

// A fresh folder of our own under the system's temporary folder; empty when none can be made.
fs::path MakeScratchFolder() {
    std::error_code ec;
    fs::path base = fs::temp_directory_path(ec);
    if (ec) return {};
    std::random_device seed;
    std::mt19937 random(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path candidate = base / ("kyrzbk-verify-" + std::to_string(random()));
        if (fs::create_directory(candidate, ec)) return candidate;
    }
    return {};
}

uint64_t TotalBytes(PluginApi& api, const std::string& archive) {
    uint64_t total = 0;
    for (const ListedEntry& entry : ListEntries(api, archive)) total += entry.unpackedBytes;
    return total;
}

// The file manager's test, entry by entry: it reads no entry's data, but with the last
// entry the plug-in checks the integrity block that some archives end with, the only
// check that finds damage inside a stored entry.
int TestEveryEntry(PluginApi& api, const std::string& archive) {
    ArchiveSession session(api, archive, PK_OM_EXTRACT);
    if (int r = session.Open(nullptr)) return r;
    tHeaderDataEx header;
    int result = 0;
    while (result == 0 && session.NextHeader(&header) == 0) result = session.Process(PK_TEST, "", "");
    session.Close();
    return result;
}

int Verify(HostContext& ctx, const std::vector<std::string>& args) {
    std::string archive;
    for (const std::string& a : args) {
        if (a.size() > 1 && a[0] == '-') return UsageError("verify: unknown option " + a);
        else if (archive.empty()) archive = a;
        else return UsageError("verify takes one archive");
    }
    if (archive.empty()) return UsageError("verify needs an archive");
    fs::path scratch = MakeScratchFolder();
    if (scratch.empty()) return ReportFailure("temporary folder", E_ECREATE);
    std::string target = (scratch / "entry.tmp").u8string();

    SetProgressTotal(TotalBytes(*ctx.api, archive));
    ArchiveSession session(*ctx.api, archive, PK_OM_EXTRACT);
    int result = session.Open(HostProgress);
    int firstFailure = 0, entries = 0, failed = 0;
    if (result != 0) {
        firstFailure = result;
        FinishProgress();
        ReportFailure(archive, result);
    } else {
        tHeaderDataEx header;
        while ((result = session.NextHeader(&header)) == 0) {
            ++entries;
            int extracted = session.Process(PK_EXTRACT, "", target);
            std::error_code ec;
            fs::remove(fs::u8path(target), ec);
            if (extracted != 0) {
                FinishProgress();
                ReportFailure(archive + ": " + header.FileName, extracted);
                ++failed;
                if (!firstFailure) firstFailure = extracted;
            }
        }
        FinishProgress();
        if (result != E_END_ARCHIVE) {
            ReportFailure(archive, result);
            if (!firstFailure) firstFailure = result;
        }
        int closed = session.Close();
        if (closed != 0 && !firstFailure) firstFailure = ReportFailure(archive, closed);
        int tested = TestEveryEntry(*ctx.api, archive);
        if (tested) {
            if (tested == E_BAD_DATA)
                std::fprintf(stderr,
                             "kyrzbk: %s: the integrity block at the end does not match the archive's bytes: "
                             "it was changed or damaged after it was written (error 12)\n",
                             archive.c_str());
            else
                ReportFailure(archive, tested);
            if (!firstFailure) firstFailure = tested;
        }
        std::printf("%s: %d entr%s verified, %d failed%s\n", archive.c_str(), entries, entries == 1 ? "y" : "ies",
                    failed, tested == E_BAD_DATA ? ", integrity block does not match" : "");
    }
    std::error_code ec;
    fs::remove_all(scratch, ec);
    return firstFailure;
}

const char kVerifyHelp[] =
    "Extracts every entry with ProcessFile(PK_EXTRACT) into a scratch folder that is\n"
    "removed afterwards, so that compressed entries are expanded and their checksums\n"
    "compared; nothing else is written. Prints one summary line.\n"
    "\n"
    "Then tests every entry with ProcessFile(PK_TEST), as the file manager's test does:\n"
    "with the last entry the plug-in checks the integrity block that archives of the\n"
    "second game end with (a SHA-1 digest of every byte before it), the only check that\n"
    "finds damage inside a stored entry.\n"
    "\n"
    "Each entry that fails is reported with its code (13 checksum, 12 damaged data,\n"
    "18 read error), and an integrity block that does not match with a message of its\n"
    "own and 12; the exit status is the first failure's code, or 0 when all is sound.\n"
    "\n"
    "example:\n"
    "  kyrzbk verify examples/sample.zbk\n";

HostCommandRegistration registration({50, "verify", "ARCHIVE", "expand every entry and check its checksum", Verify,
                                      kVerifyHelp});

} // namespace
