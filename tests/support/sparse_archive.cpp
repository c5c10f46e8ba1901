#include "tests/support/sparse_archive.h"

#include "common/file_io.h"
#include "platform/platform.h"

namespace {

bool IsHole(const TestRecord& r) { return r.data.empty() && r.dataSizeOverride > 0; }

} // namespace

TestArchive HoleArchive(const std::vector<uint32_t>& holeSizes, const TestArchive& after) {
    TestArchive layout;
    layout.signature = after.signature;
    layout.signatureBlock = after.signatureBlock;
    for (size_t i = 0; i < holeSizes.size(); ++i) {
        TestRecord hole;
        hole.name = "hole" + std::to_string(i + 1) + ".bin";
        hole.dataSizeOverride = holeSizes[i];
        layout.records.push_back(hole);
    }
    layout.records.insert(layout.records.end(), after.records.begin(), after.records.end());
    return layout;
}

uint64_t SparseDataOffset(const TestArchive& layout, size_t record) {
    uint64_t offset = layout.HeaderSize();
    for (size_t i = 0; i < record && i < layout.records.size(); ++i) {
        const TestRecord& r = layout.records[i];
        offset += IsHole(r) ? static_cast<uint64_t>(r.dataSizeOverride) : r.data.size();
    }
    return offset;
}

bool WriteSparseArchive(const std::string& path, const TestArchive& layout) {
    std::vector<unsigned char> header = layout.Bytes();
    header.resize(layout.HeaderSize());
    FILE* f = platform::OpenFile(path.c_str(), "wb");
    if (!f) return false;
    bool ok = WriteFully(f, header.data(), header.size());
    uint64_t written = header.size();
    for (size_t i = 0; ok && i < layout.records.size(); ++i) {
        const TestRecord& r = layout.records[i];
        if (IsHole(r) || r.data.empty()) continue;
        uint64_t at = SparseDataOffset(layout, i);
        // Setting the length leaves the bytes in between unwritten.
        if (at != written) ok = platform::ExtendFile(f, static_cast<int64_t>(at)) && platform::SeekFile(f, static_cast<int64_t>(at));
        ok = ok && WriteFully(f, r.data.data(), r.data.size());
        written = at + r.data.size();
    }
    uint64_t end = SparseDataOffset(layout, layout.records.size());
    if (ok && end != written) ok = platform::ExtendFile(f, static_cast<int64_t>(end));
    return std::fclose(f) == 0 && ok;
}
