// Writing side of the archive manager: adding to, replacing in and deleting from an
// existing archive. The new archive is written beside the old one and replaces it in one
// step only when complete, so a failure at any point leaves the old archive as it was.
//
// Kept records travel through the rebuild with their index in the old header, so an
// archive of tens of thousands of entries is rebuilt without looking names up one by one.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "archive/entry_data_writer.h"
#include "archive/integrity_block.h"
#include "archive/zbk_archive_manager.h"
#include "common/replacement_file.h"
#include "common/string_utils.h"
#include "platform/platform.h"

namespace {

// Names match without regard to letter case when an added file replaces a record.
struct FoldedHash {
    size_t operator()(std::string_view s) const {
        // In 64 bits on every build: cut to a 32-bit size_t, the constants left a multiplier
        // of 435, which spread names poorly over the buckets.
        uint64_t h = 14695981039346656037ull;
        for (char c : s) h = (h ^ static_cast<unsigned char>(std::tolower(static_cast<unsigned char>(c)))) * 1099511628211ull;
        return static_cast<size_t>(h ^ (h >> 32));
    }
};
struct FoldedEqual {
    bool operator()(std::string_view a, std::string_view b) const {
        return a.size() == b.size() && platform::CompareNoCase(std::string(a).c_str(), std::string(b).c_str()) == 0;
    }
};

// A rebuild's progress, as a percentage of the whole operation: the host has no byte total
// for a deletion, and the bytes of an update are not those of the files it was given.
// Each record weighs its data bytes and one more, so that empty records move the bar too.
class RebuildProgress {
public:
    explicit RebuildProgress(const ZbkEntryList& list) {
        for (int i = list.FirstFileIndex(); i < list.count - 1; ++i) m_total += Weight(*list.entries[i]);
    }
    // A record's weight, taken before its data are written (compression changes dataSize).
    static uint64_t Weight(const ZbkEntry& e) { return static_cast<uint64_t>(e.dataSize) + 1; }
    int Add(uint64_t weight) {
        m_done += weight;
        return WholeOperationProgress(m_done, m_total);
    }
    // The share with `part` of the next item done, which its Add then completes.
    int Within(uint64_t part) const { return WholeOperationProgress(m_done + part, m_total); }

private:
    uint64_t m_total = 0;
    uint64_t m_done = 0;
};

} // namespace

// One record of the header being written: a kept old record or a file to add.
struct CZbkArchiveManager::RebuildItem {
    const char* name;
    int oldIndex;       // -1 for a file to add
    std::string source; // path of a file to add
};

struct CZbkArchiveManager::OldEntries {
    std::vector<RebuildItem> sorted; // the old file records in name order
    std::vector<uint64_t> offsets;   // data offset per record index
};

void CZbkArchiveManager::SortByName(std::vector<RebuildItem>* items) {
    platform::CollationScope scope;
    std::stable_sort(items->begin(), items->end(), [](const RebuildItem& a, const RebuildItem& b) {
        return platform::CollateNoCase(a.name, b.name) < 0;
    });
}

void CZbkArchiveManager::IndexOldEntries(OldEntries* old) {
    ZbkEntryList& list = *m_entries;
    old->offsets.assign(static_cast<size_t>(std::max(list.count, 0)), 0);
    // A loaded header's size already counts its signature block.
    uint64_t offset = list.headerSize;
    for (int i = list.FirstFileIndex(); i < list.count - 1; ++i) {
        ZbkEntry* e = list.entries[i];
        old->offsets[static_cast<size_t>(i)] = offset;
        offset += e->dataSize;
        if (e->HasName()) old->sorted.push_back({e->name, i, std::string()});
    }
    SortByName(&old->sorted);
}

ZbkEntry* CZbkArchiveManager::CopyRecord(const ZbkEntry& from) {
    ZbkEntry* copy = new (std::nothrow) ZbkEntry();
    if (!copy) return nullptr;
    copy->packingMethod = from.packingMethod;
    copy->uncompressedSize = from.uncompressedSize;
    copy->reserved = from.reserved;
    copy->timeStamp = from.timeStamp;
    copy->dataSize = from.dataSize;
    copy->name = from.name ? DuplicateString(from.name) : nullptr;
    if (from.name && !copy->name) {
        delete copy;
        return nullptr;
    }
    return copy;
}

int CZbkArchiveManager::UpdateArchive(const char* packedFile, const std::string& subPath, const std::string& srcPath,
                                      StringList& names, int flags) {
    ReplacementFile temp(packedFile);
    if (!temp.Create()) return E_ECREATE;
    OldEntries old;
    IndexOldEntries(&old);

    std::vector<std::string> added;
    for (const char* name = names.Rewind(); name; name = names.Next())
        if (name[std::strlen(name) - 1] != '\\') added.push_back(subPath + name); // folders are skipped
    if (added.empty()) return E_SUCCESS;

    // Old records that an added file replaces (same name but for letter case) drop out.
    std::unordered_set<std::string_view, FoldedHash, FoldedEqual> replaced(added.begin(), added.end());
    std::vector<RebuildItem> items;
    for (const RebuildItem& kept : old.sorted)
        if (!replaced.count(kept.name)) items.push_back(kept);
    for (const std::string& name : added)
        items.push_back({name.c_str(), -1, SourcePathOf(srcPath, name.substr(subPath.size()))});
    SortByName(&items);

    IntegrityRenewal renewal;
    if (int r = renewal.Start(packedFile, m_archiveFile, m_entries->DataEnd())) return r;
    ZbkEntryList* newList = new (std::nothrow) ZbkEntryList();
    if (!newList) return E_NO_MEMORY;
    int result = WriteUpdatedArchive(temp, packedFile, items, old, newList, renewal);
    if (result == E_SUCCESS) result = renewal.Finish(temp.File());
    if (result == E_SUCCESS) result = ReplaceArchive(temp, packedFile, newList);
    if (result != E_SUCCESS) {
        delete newList;
        return result;
    }
    if (flags & PK_PACK_MOVE_FILES) DeleteSources(srcPath, names);
    return E_SUCCESS;
}

bool CZbkArchiveManager::AddsCompressedFile(const std::vector<RebuildItem>& items, const ZbkEntryList& newList) {
    int index = newList.FirstFileIndex();
    for (const RebuildItem& item : items) {
        const ZbkEntry& record = *newList.entries[index++];
        if (item.oldIndex < 0 && record.packingMethod == MethodCompressed) return true;
    }
    return false;
}

int CZbkArchiveManager::AddRebuildRecords(const std::vector<RebuildItem>& items, ZbkEntryList* newList) {
    for (const RebuildItem& item : items) {
        ZbkEntry* record = nullptr;
        if (item.oldIndex < 0) {
            if (int r = MakeFileRecord(item.name, item.source, &record)) return r;
            if (!record) return E_EREAD; // a file to add that is missing fails the update
        } else {
            record = CopyRecord(*m_entries->entries[item.oldIndex]);
            if (!record) return E_NO_MEMORY;
        }
        if (newList->AddEntry(record) < 0) {
            delete record;
            return E_NO_MEMORY;
        }
    }
    return AddTerminator(newList);
}

int CZbkArchiveManager::WriteUpdatedArchive(ReplacementFile& temp, const char* packedFile,
                                            const std::vector<RebuildItem>& items, const OldEntries& old,
                                            ZbkEntryList* newList, IntegrityRenewal& renewal) {
    FILE* out = temp.File();
    if (int r = AddSignatureRecord(newList, m_entries, E_NO_MEMORY)) return r;
    if (int r = AddRebuildRecords(items, newList)) return r;
    uint64_t headerBytes = HeaderBytes(*newList);
    EntryDataWriter writer(out, headerBytes, m_processDataProc, false);
    // Where no file is to be compressed every size is known now: the header goes first, and
    // the new digest can follow the writing. Otherwise the header is written last, into room
    // reserved for it now.
    bool headerFirst = !AddsCompressedFile(items, *newList);
    DigestFollower* follower = headerFirst ? renewal.Follow(temp.TemporaryPath(), out) : nullptr;
    if (follower) {
        writer.Follow(follower);
        if (int r = newList->SaveHeader(out)) return r;
    } else if (!platform::ExtendFile(out, static_cast<int64_t>(headerBytes)) || std::fseek(out, 0, SEEK_END) != 0) {
        return E_EWRITE;
    }

    RebuildProgress progress(*newList);
    int index = newList->FirstFileIndex();
    for (const RebuildItem& item : items) {
        if (item.oldIndex < 0) writer.Plan(newList->entries[index], item.source);
        ++index;
    }
    index = newList->FirstFileIndex();
    for (const RebuildItem& item : items) {
        int r;
        uint64_t weight = RebuildProgress::Weight(*newList->entries[index]);
        writer.PaceItem([&](uint64_t done) { return ReportProgress(nullptr, progress.Within(done)) != 0; });
        if (item.oldIndex < 0) {
            FILE* source = platform::OpenFile(item.source.c_str(), "rb");
            if (!source) return E_EOPEN;
            r = writer.WriteFile(source, item.source, newList->entries[index]);
            std::fclose(source);
        } else {
            std::string text = std::string("Reorganizing archived file : ") + platform::FromArchiveText(item.name);
            if (!ReportProgress(text.c_str(), 0)) return E_EABORTED;
            r = writer.CopyOldEntry(m_archiveFile, old.offsets[static_cast<size_t>(item.oldIndex)],
                                    m_entries->entries[item.oldIndex]->dataSize);
        }
        if (r) return r;
        if (!ReportProgress(nullptr, progress.Add(weight))) return E_EABORTED;
        ++index;
    }
    std::string text = std::string("Rewriting archive header : ") + packedFile;
    if (!ReportProgress(text.c_str(), progress.Add(0))) return E_EABORTED;
    return follower ? E_SUCCESS : newList->SaveHeader(out);
}

int CZbkArchiveManager::ReplaceArchive(ReplacementFile& temp, const char* packedFile, ZbkEntryList* newList) {
    // The old archive must be closed before it can be replaced on Windows.
    if (m_archiveFile) std::fclose(m_archiveFile);
    m_archiveFile = nullptr;
    bool replaced = temp.Commit();
    m_archiveFile = platform::OpenSharedRead(packedFile);
    if (!replaced) return E_EWRITE;
    delete m_entries;
    m_entries = newList;
    return E_SUCCESS;
}

int CZbkArchiveManager::DeleteFiles(char* packedFile, char* deleteList) {
    if (!packedFile || !*packedFile) return E_NOT_SUPPORTED;
    if (!CanYouHandleThisFile(packedFile)) return E_UNKNOWN_FORMAT;
    std::unique_ptr<StringList> expanded(ExpandFileList(nullptr, deleteList));
    if (!expanded) return E_NO_MEMORY;
    return Guarded([&] { return RemoveEntries(packedFile, *expanded); });
}

int CZbkArchiveManager::RemoveEntries(const char* packedFile, StringList& deleteList) {
    ReplacementFile temp(packedFile);
    if (!temp.Create()) return E_ECREATE;
    OldEntries old;
    IndexOldEntries(&old);
    // Deleting compares names with letter case.
    std::unordered_set<std::string_view> doomed;
    for (const char* name = deleteList.Rewind(); name; name = deleteList.Next()) doomed.insert(name);
    std::vector<RebuildItem> items;
    for (const RebuildItem& kept : old.sorted)
        if (!doomed.count(kept.name)) items.push_back(kept);
    if (items.size() == old.sorted.size()) return E_SUCCESS; // nothing to delete: archive untouched

    IntegrityRenewal renewal;
    if (int r = renewal.Start(packedFile, m_archiveFile, m_entries->DataEnd())) return r;
    ZbkEntryList* newList = new (std::nothrow) ZbkEntryList();
    if (!newList) return E_NO_MEMORY;
    int result = WriteReducedArchive(temp, items, old, newList, renewal);
    if (result == E_SUCCESS) result = renewal.Finish(temp.File());
    if (result == E_SUCCESS) result = ReplaceArchive(temp, packedFile, newList);
    if (result != E_SUCCESS) {
        delete newList;
        return result;
    }
    ReportProgress("Archive reorganized successfully.", WholeOperationProgress(1, 1));
    return E_SUCCESS;
}

int CZbkArchiveManager::WriteReducedArchive(ReplacementFile& temp, const std::vector<RebuildItem>& items,
                                            const OldEntries& old, ZbkEntryList* newList, IntegrityRenewal& renewal) {
    FILE* out = temp.File();
    if (int r = AddSignatureRecord(newList, m_entries, E_ECREATE)) return r;
    if (int r = AddRebuildRecords(items, newList)) return r;
    EntryDataWriter writer(out, HeaderBytes(*newList), m_processDataProc, false);
    if (DigestFollower* follower = renewal.Follow(temp.TemporaryPath(), out)) writer.Follow(follower);
    if (int r = newList->SaveHeader(out)) return r;
    if (!writer.Ready()) return E_NO_MEMORY;
    RebuildProgress progress(*newList);
    const char* status = "File(s) deleted, reorganizing archive ...";
    if (!ReportProgress(status, progress.Add(0))) return E_EABORTED;
    for (const RebuildItem& item : items) {
        uint32_t size = m_entries->entries[item.oldIndex]->dataSize;
        writer.PaceItem([&](uint64_t done) { return ReportProgress(status, progress.Within(done)) != 0; });
        if (int r = writer.CopyOldEntry(m_archiveFile, old.offsets[static_cast<size_t>(item.oldIndex)], size))
            return r;
        if (!ReportProgress(status, progress.Add(size + 1ull))) return E_EABORTED;
    }
    return E_SUCCESS;
}
