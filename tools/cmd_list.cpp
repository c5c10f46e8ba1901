#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/platform.h"
#include "tools/archive_session.h"
#include "tools/host.h"
#include "tools/json_text.h"
#include "tools/progress.h"

namespace {

// The host record's MS-DOS packed local date and time, as "YYYY-MM-DD hh:mm:ss".
std::string FormatDosTime(uint32_t v) {
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", 1980 + (v >> 25), (v >> 21) & 0x0F,
                  (v >> 16) & 0x1F, (v >> 11) & 0x1F, (v >> 5) & 0x3F, (v & 0x1F) * 2);
    return text;
}

// The plug-in gives the time in the form its host reads: Unix seconds keep the archive's
// exact second, the packed form of the Windows builds only even ones.
std::string FormatHostTime(int fileTime) {
    uint32_t v = static_cast<uint32_t>(fileTime);
    if (!platform::HostTimeIsUnixSeconds()) return FormatDosTime(v);
    struct tm t;
    if (!platform::ToLocalTime(static_cast<int64_t>(v), &t)) return "????-??-?? ??:??:??";
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                  t.tm_hour, t.tm_min, t.tm_sec);
    return text;
}

int List(HostContext& ctx, const std::vector<std::string>& args) {
    bool json = false;
    std::string archive;
    for (const std::string& a : args) {
        if (a == "--json") json = true;
        else if (a.size() > 1 && a[0] == '-') return UsageError("list: unknown option " + a);
        else if (archive.empty()) archive = a;
        else return UsageError("list takes one archive");
    }
    if (archive.empty()) return UsageError("list needs an archive");

    ArchiveSession session(*ctx.api, archive, PK_OM_LIST);
    int result = session.Open(HostProgress);
    if (result != 0) return ReportFailure(archive, result);
    if (!json) std::printf("%12s %12s  %-19s  %s\n", "Unpacked", "Packed", "Date       Time", "Name");
    unsigned long long unpacked = 0, packed = 0;
    int entries = 0;
    tHeaderDataEx header;
    while ((result = session.NextHeader(&header)) == 0) {
        uint32_t unpSize = static_cast<uint32_t>(header.UnpSize), packSize = static_cast<uint32_t>(header.PackSize);
        if (json)
            std::printf("{\"name\": %s, \"packSize\": %u, \"unpSize\": %u, \"time\": \"%s\", \"attr\": %d}\n",
                        JsonString(header.FileName).c_str(), packSize, unpSize,
                        FormatHostTime(header.FileTime).c_str(), header.FileAttr);
        else
            std::printf("%12u %12u  %s  %s\n", unpSize, packSize, FormatHostTime(header.FileTime).c_str(),
                        header.FileName);
        unpacked += unpSize;
        packed += packSize;
        ++entries;
        result = session.Process(PK_SKIP, "", "");
        if (result != 0) break;
    }
    FinishProgress();
    if (result != E_END_ARCHIVE) return ReportFailure(archive, result);
    if (!json) std::printf("%12llu %12llu  %d entr%s\n", unpacked, packed, entries, entries == 1 ? "y" : "ies");
    int closed = session.Close();
    return closed != 0 ? ReportFailure(archive, closed) : 0;
}

const char kListHelp[] =
    "Walks ARCHIVE as the file manager does (ReadHeader, then ProcessFile with PK_SKIP)\n"
    "and prints a heading, one line per entry (unpacked size, packed size, date and time\n"
    "in local time, name) and a line with the totals. ARCHIVE is a ZBK archive or a\n"
    "binarized configuration file, which lists as one .cpp entry.\n"
    "\n"
    "options:\n"
    "  --json  one JSON object per entry and line, nothing else:\n"
    "          {\"name\": ..., \"packSize\": N, \"unpSize\": N,\n"
    "           \"time\": \"YYYY-MM-DD hh:mm:ss\", \"attr\": N}\n"
    "\n"
    "example:\n"
    "  kyrzbk list examples/sample.zbk\n";

HostCommandRegistration registration({10, "list", "[--json] ARCHIVE", "list the entries of an archive", List,
                                      kListHelp});

} // namespace
