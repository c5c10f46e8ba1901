// What an archive carries besides its entries. The file managers have no call for it, so
// the host reads the header and the integrity block with the plug-in's own format code,
// linked in, instead of through an export that every file manager would be offered. The
// plug-in still opens the archive first: what it does not take for a ZBK archive (a
// configuration file, say) is refused as it refuses it.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "archive/integrity_block.h"
#include "archive/zbk_format.h"
#include "common/string_list.h"
#include "platform/platform.h"
#include "tools/archive_session.h"
#include "tools/host.h"
#include "tools/json_text.h"

namespace {

struct ArchiveFacts {
    bool signatureRecord = false;
    std::vector<std::string> properties; // the header block's strings: key, value, key, value...
    int stored = 0;
    int compressed = 0;
    uint64_t storedBytes = 0;
    uint64_t packedBytes = 0;
    uint64_t unpackedBytes = 0;
    IntegrityState integrity = IntegrityState::None;
};

int ReadFacts(const std::string& path, ArchiveFacts* facts) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(platform::OpenSharedRead(path.c_str()), std::fclose);
    if (!file) return E_EOPEN;
    ZbkEntryList list;
    try {
        list.LoadHeader(file.get());
    } catch (int code) {
        return code;
    } catch (...) {
        return E_BAD_DATA;
    }
    uint64_t dataEnd = list.DataEnd();
    int64_t length = platform::OpenFileLength(file.get());
    if (length < 0 || static_cast<uint64_t>(length) < dataEnd) return E_BAD_DATA;
    facts->signatureRecord = list.hasSignature;
    std::unique_ptr<StringList> strings(list.SignatureStrings());
    if (strings)
        for (const char* s = strings->Rewind(); s; s = strings->Next()) facts->properties.emplace_back(s);
    for (int i = list.FirstFileIndex(); i < list.count - 1; ++i) {
        const ZbkEntry& e = *list.entries[i];
        if (e.packingMethod == MethodCompressed) {
            ++facts->compressed;
            facts->packedBytes += e.dataSize;
            facts->unpackedBytes += e.uncompressedSize;
        } else {
            ++facts->stored;
            facts->storedBytes += e.dataSize;
        }
    }
    return ReadIntegrityState(file.get(), dataEnd, &facts->integrity);
}

const char* IntegrityText(IntegrityState state) {
    switch (state) {
    case IntegrityState::Valid: return "valid";
    case IntegrityState::Mismatch: return "mismatch";
    default: return "none";
    }
}

// Entries as the plug-in lists them; -1 when it does not open the file.
int ListedEntries(PluginApi& api, const std::string& archive, int* openResult) {
    ArchiveSession session(api, archive, PK_OM_LIST);
    if ((*openResult = session.Open(nullptr)) != 0) return -1;
    int entries = 0;
    tHeaderDataEx header;
    while (session.NextHeader(&header) == 0 && session.Process(PK_SKIP, "", "") == 0) ++entries;
    return entries;
}

void PrintText(const std::string& archive, const ArchiveFacts& f) {
    std::printf("archive:         %s\n", archive.c_str());
    if (!f.signatureRecord) std::printf("header block:    none\n");
    else if (f.properties.empty()) std::printf("header block:    empty\n");
    for (size_t i = 0; i < f.properties.size(); i += 2) {
        std::printf("%s%s", i == 0 ? "header block:    " : "                 ", f.properties[i].c_str());
        if (i + 1 < f.properties.size()) std::printf(" = %s", f.properties[i + 1].c_str());
        std::printf("\n");
    }
    std::printf("entries:         %d: %d stored (%llu bytes), %d compressed (%llu bytes packed, %llu unpacked)\n",
                f.stored + f.compressed, f.stored, static_cast<unsigned long long>(f.storedBytes), f.compressed,
                static_cast<unsigned long long>(f.packedBytes), static_cast<unsigned long long>(f.unpackedBytes));
    std::printf("integrity block: %s\n", IntegrityText(f.integrity));
}

void PrintJson(const ArchiveFacts& f) {
    std::string properties;
    for (size_t i = 0; i < f.properties.size(); i += 2) {
        properties += std::string(i ? ", " : "") + "{\"key\": " + JsonString(f.properties[i].c_str()) + ", \"value\": " +
                      (i + 1 < f.properties.size() ? JsonString(f.properties[i + 1].c_str()) : "null") + "}";
    }
    std::printf("{\"headerBlock\": %s, \"properties\": [%s], \"entries\": %d, "
                "\"stored\": {\"count\": %d, \"bytes\": %llu}, "
                "\"compressed\": {\"count\": %d, \"packedBytes\": %llu, \"unpackedBytes\": %llu}, "
                "\"integrity\": \"%s\"}\n",
                f.signatureRecord ? "true" : "false", properties.c_str(), f.stored + f.compressed, f.stored,
                static_cast<unsigned long long>(f.storedBytes), f.compressed,
                static_cast<unsigned long long>(f.packedBytes), static_cast<unsigned long long>(f.unpackedBytes),
                IntegrityText(f.integrity));
}

int Info(HostContext& ctx, const std::vector<std::string>& args) {
    bool json = false;
    std::string archive;
    for (const std::string& a : args) {
        if (a == "--json") json = true;
        else if (a.size() > 1 && a[0] == '-') return UsageError("info: unknown option " + a);
        else if (archive.empty()) archive = a;
        else return UsageError("info takes one archive");
    }
    if (archive.empty()) return UsageError("info needs an archive");
    int openResult = 0;
    int listed = ListedEntries(*ctx.api, archive, &openResult);
    if (listed < 0) return ReportFailure(archive, openResult);
    ArchiveFacts facts;
    if (int r = ReadFacts(archive, &facts)) return ReportFailure(archive, r);
    // A configuration file begins with what reads as an empty header.
    if (listed != facts.stored + facts.compressed) return ReportFailure(archive, E_UNKNOWN_FORMAT);
    if (json) PrintJson(facts);
    else PrintText(archive, facts);
    return 0;
}

const char kInfoHelp[] =
    "Prints what ARCHIVE carries besides its entries' data: the header block's properties\n"
    "(the strings of its signature record, as KEY = VALUE pairs in their order; the games\n"
    "take the folder of every file from \"prefix\"), the number of entries stored and\n"
    "compressed with their sizes, and the state of the integrity block at the end of the\n"
    "file: none, valid (its SHA-1 digest matches every byte before it) or mismatch (the\n"
    "archive was changed or damaged after it was written; `kyrzbk verify` fails on it).\n"
    "The exit status is 0 whatever the block's state, or the code of an archive that cannot\n"
    "be read.\n"
    "\n"
    "options:\n"
    "  --json  one JSON object: {\"headerBlock\": BOOL, \"properties\": [{\"key\": ..., \"value\": ...}],\n"
    "          \"entries\": N, \"stored\": {\"count\": N, \"bytes\": N},\n"
    "          \"compressed\": {\"count\": N, \"packedBytes\": N, \"unpackedBytes\": N},\n"
    "          \"integrity\": \"none\"|\"valid\"|\"mismatch\"}\n"
    "\n"
    "example:\n"
    "  kyrzbk info examples/sample.zbk\n";

HostCommandRegistration registration({55, "info", "[--json] ARCHIVE", "show an archive's header block and integrity",
                                      Info, kInfoHelp});

} // namespace
