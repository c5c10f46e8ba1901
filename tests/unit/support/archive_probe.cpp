#include "tests/unit/support/archive_probe.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "frame/exports.h"
#include "tests/support/temp_dir.h"
#include "tests/support/zbk_writer.h"

namespace {

uint32_t Le32(const std::vector<unsigned char>& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

} // namespace

std::vector<std::string> ProbedArchive::Names() const {
    std::vector<std::string> names;
    for (const ProbedRecord& r : records) names.push_back(r.name);
    return names;
}

ProbedArchive ProbeArchive(const std::string& path) {
    ProbedArchive out;
    std::vector<unsigned char> b = ReadFileBytes(path);
    size_t at = 0;
    for (bool first = true;; first = false) {
        size_t end = at;
        while (end < b.size() && b[end]) ++end;
        if (end + 21 > b.size()) return out;
        ProbedRecord r;
        r.name.assign(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(end));
        r.method = Le32(b, end + 1);
        r.uncompressedSize = Le32(b, end + 5);
        r.timeStamp = Le32(b, end + 13);
        r.dataSize = Le32(b, end + 17);
        at = end + 21;
        if (r.method == kZbkVersion) {
            if (!first) return out;
            out.signature = true;
            size_t blockStart = at;
            while (at < b.size() && b[at]) {
                while (at < b.size() && b[at]) ++at;
                ++at;
            }
            if (at >= b.size()) return out;
            ++at;
            out.signatureBlock.assign(b.begin() + static_cast<long>(blockStart), b.begin() + static_cast<long>(at));
            continue;
        }
        if (r.name.empty()) break;
        out.records.push_back(r);
    }
    out.ok = true;
    return out;
}

std::map<std::string, std::vector<unsigned char>> ExtractThroughExports(const std::string& path) {
    std::map<std::string, std::vector<unsigned char>> entries;
    std::vector<char> name(path.begin(), path.end());
    name.push_back(0);
    tOpenArchiveData open = {};
    open.ArcName = name.data();
    open.OpenMode = PK_OM_EXTRACT;
    void* handle = OpenArchive(&open);
    if (!handle) return entries;
    TempDir scratch;
    std::string target = scratch.File("entry");
    tHeaderData header;
    bool failed = false;
    while (std::memset(&header, 0, sizeof header), ReadHeader(handle, &header) == 0) {
        if (ProcessFile(handle, PK_EXTRACT, nullptr, &target[0]) != 0) {
            failed = true;
            break;
        }
        std::string stored = header.FileName;
        std::replace(stored.begin(), stored.end(), '/', '\\');
        entries[stored] = ReadFileBytes(target);
    }
    CloseArchive(handle);
    if (failed) entries.clear();
    return entries;
}

std::vector<std::string> FolderListing(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}
