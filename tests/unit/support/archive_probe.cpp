#include "tests/unit/support/archive_probe.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "common/sha1.h"
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
    uint64_t dataEnd = at;
    for (const ProbedRecord& r : out.records) dataEnd += r.dataSize;
    if (dataEnd > b.size()) return out;
    out.header.assign(b.begin(), b.begin() + static_cast<long>(at));
    out.trailing.assign(b.begin() + static_cast<long>(dataEnd), b.end());
    if (out.trailing.size() == 21 && out.trailing[0] == 0) {
        Sha1 sha;
        sha.Update(b.data(), static_cast<size_t>(dataEnd));
        Sha1Digest digest = sha.Final();
        out.sealValid = std::equal(digest.begin(), digest.end(), out.trailing.begin() + 1);
    }
    out.ok = true;
    return out;
}

namespace {

// Opens the archive through the exports and hands each entry's header to `process`, which
// returns ProcessFile's result; false when the archive does not open.
template <typename Process>
bool WalkThroughExports(const std::string& path, int openMode, Process process) {
    std::vector<char> name(path.begin(), path.end());
    name.push_back(0);
    tOpenArchiveData open = {};
    open.ArcName = name.data();
    open.OpenMode = openMode;
    void* handle = OpenArchive(&open);
    if (!handle) return false;
    tHeaderData header;
    while (std::memset(&header, 0, sizeof header), ReadHeader(handle, &header) == 0)
        if (!process(handle, header)) break;
    CloseArchive(handle);
    return true;
}

} // namespace

std::map<std::string, std::vector<unsigned char>> ExtractThroughExports(const std::string& path) {
    std::map<std::string, std::vector<unsigned char>> entries;
    TempDir scratch;
    std::string target = scratch.File("entry");
    bool failed = false;
    WalkThroughExports(path, PK_OM_EXTRACT, [&](void* handle, const tHeaderData& header) {
        if (ProcessFile(handle, PK_EXTRACT, nullptr, &target[0]) != 0) return !(failed = true);
        std::string stored = header.FileName;
        std::replace(stored.begin(), stored.end(), '/', '\\');
        entries[stored] = ReadFileBytes(target);
        return true;
    });
    if (failed) entries.clear();
    return entries;
}

std::vector<int> TestThroughExports(const std::string& path) {
    std::vector<int> codes;
    WalkThroughExports(path, PK_OM_EXTRACT, [&](void* handle, const tHeaderData&) {
        codes.push_back(ProcessFile(handle, PK_TEST, nullptr, nullptr));
        return true;
    });
    return codes;
}

std::vector<std::string> FolderListing(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}
