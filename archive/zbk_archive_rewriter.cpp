// Writing side of the archive manager: adding to, replacing in and deleting from an
// existing archive. The new archive is written beside the old one and replaces it in one
// step only when complete, so a failure at any point leaves the old archive as it was.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <new>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "archive/entry_data_writer.h"
#include "archive/zbk_archive_manager.h"
#include "common/file_io.h"
#include "common/replacement_file.h"
#include "common/string_utils.h"
#include "platform/platform.h"

namespace {

// Names compare without regard to ASCII letter case when entries are looked up.
std::string FoldCase(const char* name) {
    std::string folded = name;
    for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return folded;
}

std::string ToHostName(std::string name) {
    platform::ToHostSeparators(&name[0]);
    return name;
}

} // namespace

// The old archive's file records, indexed for the rebuild: lookups must not be quadratic
// in archives of tens of thousands of entries.
struct CZbkArchiveManager::OldEntries {
    std::unordered_map<std::string, int> byFoldedName;
    std::vector<uint64_t> offsets; // data offset per record index
    StringList sortedNames;

    int Find(const char* name) const {
        auto it = byFoldedName.find(FoldCase(name));
        return it == byFoldedName.end() ? -1 : it->second;
    }
};

bool CZbkArchiveManager::IndexOldEntries(OldEntries* old) {
    ZbkEntryList& list = *m_entries;
    old->offsets.assign(static_cast<size_t>(std::max(list.count, 0)), 0);
    uint64_t offset = HeaderBytesOnDisk(list);
    int first = list.hasSignature ? 1 : 0;
    for (int i = first; i < list.count - 1; ++i) {
        ZbkEntry* e = list.entries[i];
        old->offsets[static_cast<size_t>(i)] = offset;
        offset += e->dataSize;
        if (!e->name) continue;
        old->byFoldedName.emplace(FoldCase(e->name), i); // the first of equal names wins
        if (!old->sortedNames.TryAdd(e->name)) return false;
    }
    old->sortedNames.Sort(false);
    return true;
}

uint64_t CZbkArchiveManager::HeaderBytesOnDisk(const ZbkEntryList& list) {
    // A loaded header's size already counts its signature block.
    return list.headerSize;
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
    if (!IndexOldEntries(&old)) return E_NO_MEMORY;

    StringList newNames;
    std::unordered_set<std::string> newExact, newFolded;
    for (const char* name = names.Rewind(); name; name = names.Next()) {
        size_t n = std::strlen(name);
        if (name[n - 1] == '\\') continue; // a folder
        std::string stored = subPath + name;
        if (!newNames.TryAdd(stored.c_str())) return E_NO_MEMORY;
        newExact.insert(stored);
        newFolded.insert(FoldCase(stored.c_str()));
    }
    if (newNames.count == 0) return E_SUCCESS;

    // Old records that an added file replaces (same name but for letter case) drop out.
    StringList written;
    for (const char* name = old.sortedNames.Rewind(); name; name = old.sortedNames.Next())
        if (!newFolded.count(FoldCase(name)) && !written.TryAdd(name)) return E_NO_MEMORY;
    for (const char* name = newNames.Rewind(); name; name = newNames.Next())
        if (!written.TryAdd(name)) return E_NO_MEMORY;
    written.Sort(false);

    ZbkEntryList* newList = new (std::nothrow) ZbkEntryList();
    if (!newList) return E_NO_MEMORY;
    int result = WriteUpdatedArchive(temp.File(), packedFile, subPath, srcPath, written, newExact, old, newList);
    if (result == E_SUCCESS) result = ReplaceArchive(temp, packedFile, newList);
    if (result != E_SUCCESS) {
        newList->ClearEntries();
        delete newList;
        return result;
    }
    if (flags & PK_PACK_MOVE_FILES) DeleteSources(srcPath, names);
    return E_SUCCESS;
}

int CZbkArchiveManager::WriteUpdatedArchive(FILE* out, const char* packedFile, const std::string& subPath,
                                            const std::string& srcPath, StringList& written,
                                            const std::unordered_set<std::string>& added, const OldEntries& old,
                                            ZbkEntryList* newList) {
    if (int r = AddSignatureRecord(newList, m_entries, E_NO_MEMORY)) return r;
    int64_t total = newList->hasSignature ? 21 + static_cast<int64_t>(newList->signatureLength) : 0;

    struct Item {
        int newIndex;
        int oldIndex;       // -1 for a file to add
        std::string source; // for a file to add
    };
    std::vector<Item> items;
    for (const char* name = written.Rewind(); name; name = written.Next()) {
        Item item{-1, -1, std::string()};
        ZbkEntry* record = nullptr;
        if (added.count(name)) {
            item.source = srcPath + ToHostName(name + subPath.size());
            if (int r = MakeFileRecord(name, item.source, &record)) return r;
            if (!record) return E_EREAD; // a file to add that is missing fails the update
            total += record->packingMethod == MethodCompressed ? record->uncompressedSize : record->dataSize;
        } else {
            item.oldIndex = old.Find(name);
            if (item.oldIndex < 0) return E_EREAD;
            record = CopyRecord(*m_entries->entries[item.oldIndex]);
            if (!record) return E_NO_MEMORY;
        }
        item.newIndex = newList->AddEntry(record);
        if (item.newIndex < 0) {
            delete record;
            return E_NO_MEMORY;
        }
        items.push_back(std::move(item));
    }
    if (int r = AddTerminator(newList)) return r;
    uint64_t headerBytes = HeaderBytes(*newList);
    if (headerBytes >= kArchiveLengthLimit) return E_EWRITE;
    // The header is written last, into room reserved for it now.
    if (!platform::ExtendFile(out, static_cast<int64_t>(headerBytes)) || std::fseek(out, 0, SEEK_END) != 0)
        return E_EWRITE;
    int share = static_cast<int>(std::min<int64_t>(total / static_cast<int64_t>(items.size()), INT32_MAX));

    EntryDataWriter writer(out, headerBytes, m_processDataProc, false);
    for (const Item& item : items) {
        int r;
        if (item.oldIndex < 0) {
            FILE* source = std::fopen(item.source.c_str(), "rb");
            if (!source) return E_EOPEN;
            r = writer.WriteFile(source, item.source, newList->EntryAt(item.newIndex));
            std::fclose(source);
        } else {
            const ZbkEntry& record = *m_entries->entries[item.oldIndex];
            std::string text = std::string("Reorganizing archived file : ") + record.name;
            if (!ReportProgress(text.c_str(), 0)) return E_EABORTED;
            r = writer.CopyOldEntry(m_archiveFile, old.offsets[static_cast<size_t>(item.oldIndex)], record.dataSize);
        }
        if (r) return r;
        if (!ReportProgress(nullptr, share)) return E_EABORTED;
    }
    std::string text = std::string("Rewriting archive header : ") + packedFile;
    if (!ReportProgress(text.c_str(), share)) return E_EABORTED;
    return newList->SaveHeader(out);
}

int CZbkArchiveManager::ReplaceArchive(ReplacementFile& temp, const char* packedFile, ZbkEntryList* newList) {
    // The old archive must be closed before it can be replaced on Windows.
    if (m_archiveFile) std::fclose(m_archiveFile);
    m_archiveFile = nullptr;
    bool replaced = temp.Commit();
    m_archiveFile = platform::OpenSharedRead(packedFile);
    if (!replaced) return E_EWRITE;
    m_entries->ClearEntries();
    delete m_entries;
    m_entries = newList;
    return E_SUCCESS;
}

int CZbkArchiveManager::DeleteFiles(char* packedFile, char* deleteList) {
    if (!packedFile || !*packedFile) return E_NOT_SUPPORTED;
    if (!CanYouHandleThisFile(packedFile)) return E_UNKNOWN_FORMAT;
    StringList* expanded = ExpandFileList(nullptr, deleteList);
    if (!expanded) return E_NO_MEMORY;
    int result;
    try {
        result = RemoveEntries(packedFile, *expanded);
    } catch (int code) {
        result = code;
    } catch (...) {
        result = E_NO_MEMORY;
    }
    delete expanded;
    return result;
}

int CZbkArchiveManager::RemoveEntries(const char* packedFile, StringList& deleteList) {
    ReplacementFile temp(packedFile);
    if (!temp.Create()) return E_ECREATE;
    OldEntries old;
    if (!IndexOldEntries(&old)) return E_NO_MEMORY;
    std::unordered_set<std::string> doomed;
    for (const char* name = deleteList.Rewind(); name; name = deleteList.Next()) doomed.insert(name);

    StringList written;
    for (const char* name = old.sortedNames.Rewind(); name; name = old.sortedNames.Next())
        if (!doomed.count(name) && !written.TryAdd(name)) return E_NO_MEMORY;
    if (written.count == old.sortedNames.count) return E_SUCCESS; // nothing to delete: archive untouched
    written.Sort(false);

    ZbkEntryList* newList = new (std::nothrow) ZbkEntryList();
    if (!newList) return E_NO_MEMORY;
    int sum = 0;
    int result = WriteReducedArchive(temp.File(), written, old, newList, &sum);
    if (result == E_SUCCESS) result = ReplaceArchive(temp, packedFile, newList);
    if (result != E_SUCCESS) {
        newList->ClearEntries();
        delete newList;
        return result;
    }
    ReportProgress("Archive reorganized successfully.", sum < 100 ? 100 : 0);
    return E_SUCCESS;
}

int CZbkArchiveManager::WriteReducedArchive(FILE* out, StringList& written, const OldEntries& old,
                                            ZbkEntryList* newList, int* progressSum) {
    if (int r = AddSignatureRecord(newList, m_entries, E_ECREATE)) return r;
    std::vector<int> oldIndexes;
    for (const char* name = written.Rewind(); name; name = written.Next()) {
        int index = old.Find(name);
        if (index < 0) return E_EREAD;
        ZbkEntry* record = CopyRecord(*m_entries->entries[index]);
        if (!record) return E_NO_MEMORY;
        if (newList->AddEntry(record) < 0) {
            delete record;
            return E_NO_MEMORY;
        }
        oldIndexes.push_back(index);
    }
    if (int r = AddTerminator(newList)) return r;
    uint64_t headerBytes = HeaderBytes(*newList);
    if (headerBytes >= kArchiveLengthLimit) return E_EWRITE;
    if (int r = newList->SaveHeader(out)) return r;
    // Deleting every entry leaves no written name to share the progress among.
    int step = oldIndexes.empty() ? 100 : 100 / static_cast<int>(oldIndexes.size());
    EntryDataWriter writer(out, headerBytes, m_processDataProc, false);
    if (!writer.Ready()) return E_NO_MEMORY;
    const char* status = "File(s) deleted, reorganizing archive ...";
    if (!ReportProgress(status, 0)) return E_EABORTED;
    for (int index : oldIndexes) {
        if (int r = writer.CopyOldEntry(m_archiveFile, old.offsets[static_cast<size_t>(index)],
                                        m_entries->entries[index]->dataSize))
            return r;
        if (!ReportProgress(status, step)) return E_EABORTED;
        *progressSum += step;
    }
    return E_SUCCESS;
}
