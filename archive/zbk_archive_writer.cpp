// Writing side of the archive manager: packing files into a new archive.
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "archive/entry_data_writer.h"
#include "archive/zbk_archive_manager.h"
#include "codec/compressor.h"
#include "common/replacement_file.h"
#include "common/string_utils.h"
#include "platform/platform.h"

namespace {

bool EndsWith(const char* s, const char* tail) {
    size_t n = std::strlen(s), t = std::strlen(tail);
    return n >= t && std::memcmp(s + n - t, tail, t) == 0;
}

// Adds every file below srcPath + folder (host form, ending in a separator or empty),
// with its path relative to srcPath. A name that cannot be stored stops the walk and is
// given back in *refused.
bool AddFolderFiles(const std::string& srcPath, const std::string& folder, StringList* out, std::string* refused) {
    std::vector<platform::FoundFile> found;
    if (!platform::ListDirectory((srcPath + folder).c_str(), &found)) return true; // a missing folder adds nothing
    for (const platform::FoundFile& f : found) {
        std::string relative = folder + f.name;
        std::string stored;
        if (!f.exact || !platform::CanStoreName(f.name.c_str()) || !platform::ToArchiveText(relative, &stored)) {
            *refused = relative;
            return false;
        }
        if (f.attrib & platform::kAttrDirectory) {
            if (!AddFolderFiles(srcPath, relative + platform::HostSeparator(), out, refused)) return false;
        } else {
            platform::ToArchiveSeparators(&stored[0]);
            if (!out->TryAdd(stored.c_str())) return false;
        }
    }
    return true;
}

bool AddPrefixedRecords(ZbkEntryList* entries, const std::string& prefix, StringList* out) {
    if (prefix.empty() || !entries || entries->count < 1) return true;
    int first = entries->hasSignature ? 1 : 0;
    for (int i = first; i < entries->count - 1; ++i) {
        const char* name = entries->entries[i]->name;
        if (name && std::strncmp(name, prefix.c_str(), prefix.size()) == 0 && !out->TryAdd(name)) return false;
    }
    return true;
}

} // namespace

std::string NormalizeSubPath(const char* subPath) {
    // No sub-path, or an empty one, packs into the archive's root.
    if (!subPath || !*subPath) return std::string();
    std::string sub;
    // A folder that cannot be named in the archive fails the request before anything is
    // written, as a file name that cannot be stored does.
    if (!platform::ToArchiveText(subPath, &sub)) throw static_cast<int>(E_NOT_SUPPORTED);
    platform::ToArchiveSeparators(&sub[0]);
    if (sub.back() != '\\') sub += '\\';
    return sub;
}

StringList* CZbkArchiveManager::ExpandFileList(const char* srcPath, const char* list) {
    StringList* hostList = nullptr;
    StringList* expanded = nullptr;
    m_refusedName.clear();
    try {
        hostList = new StringList(list);
        expanded = new StringList();
        for (char* name = hostList->Rewind(); name; name = hostList->Next()) {
            bool ok = true;
            std::string stored;
            bool storable = platform::ToArchiveText(name, &stored);
            if (srcPath && (!storable || !platform::CanStoreName(name))) {
                m_refusedName = name;
                ok = false;
            } else if (!storable) {
                // A name to delete with no stored form cannot match any record.
            } else if (!EndsWith(name, "*.*")) {
                platform::ToArchiveSeparators(&stored[0]);
                ok = expanded->TryAdd(stored.c_str());
            } else {
                std::string folder(name, std::strlen(name) - 3);
                if (srcPath) {
                    std::string hostFolder = folder;
                    platform::ToHostSeparators(&hostFolder[0]);
                    ok = AddFolderFiles(srcPath, hostFolder, expanded, &m_refusedName);
                } else {
                    std::string storedFolder(stored, 0, stored.size() - 3);
                    platform::ToArchiveSeparators(&storedFolder[0]);
                    ok = AddPrefixedRecords(m_entries, storedFolder, expanded);
                }
            }
            if (!ok) throw static_cast<int>(E_NO_MEMORY);
        }
    } catch (...) {
        delete hostList;
        delete expanded;
        return nullptr;
    }
    delete hostList;
    return expanded;
}

int CZbkArchiveManager::PackFiles(char* packedFile, char* subPath, char* srcPath, char* addList, int flags) {
    if (!packedFile || !*packedFile) return E_NOT_SUPPORTED;
    bool exists = false;
    if (FILE* probe = platform::OpenFile(packedFile, "rb")) {
        exists = true;
        std::fclose(probe);
    }
    if (exists && !CanYouHandleThisFile(packedFile)) return E_UNKNOWN_FORMAT;
    std::unique_ptr<StringList> names(ExpandFileList(srcPath ? srcPath : "", addList));
    // A file that cannot be stored under its name fails the whole request before anything
    // is written: leaving it out would lose it without a word.
    if (!names) return m_refusedName.empty() ? E_NO_MEMORY : E_NOT_SUPPORTED;
    names->Sort(false);
    return Guarded([&] {
        std::string sub = NormalizeSubPath(subPath);
        return exists ? UpdateArchive(packedFile, sub, srcPath ? srcPath : "", *names, flags)
                      : CreateArchive(packedFile, sub, srcPath ? srcPath : "", *names, flags);
    });
}

int CZbkArchiveManager::MakeFileRecord(const std::string& storedName, const std::string& sourcePath,
                                       ZbkEntry** out) {
    platform::FoundFile found;
    if (!platform::FindFile(sourcePath.c_str(), &found) || (found.attrib & platform::kAttrDirectory)) {
        *out = nullptr;
        return E_SUCCESS;
    }
    // An entry's sizes are 32-bit: such a file can never be packed, and nothing is written
    // for a pack that holds one. Refused as a name that has no stored form is.
    if (found.size > kEntrySizeLimit) return E_NOT_SUPPORTED;
    ZbkEntry* record = new (std::nothrow) ZbkEntry();
    if (!record) return E_NO_MEMORY;
    record->name = DuplicateString(storedName.c_str());
    if (!record->name) {
        delete record;
        return E_NO_MEMORY;
    }
    record->timeStamp = static_cast<uint32_t>(found.writeTime);
    record->dataSize = static_cast<uint32_t>(found.size);
    if (ShouldCompress(sourcePath.c_str())) {
        record->packingMethod = MethodCompressed;
        record->uncompressedSize = record->dataSize;
    } else {
        record->packingMethod = MethodStored;
    }
    *out = record;
    return E_SUCCESS;
}

int CZbkArchiveManager::CreateArchive(const char* packedFile, const std::string& subPath, const std::string& srcPath,
                                      StringList& names, int flags) {
    CloseArchiveFile();
    m_entries->ClearEntries();
    // Written beside its final name and renamed into place only when complete, so that a
    // crash or a kill while packing never leaves a truncated archive under that name.
    ReplacementFile temp(packedFile);
    if (!temp.Create()) return E_ECREATE;
    int result = WriteNewArchive(temp.File(), subPath, srcPath, names);
    if (result == E_SUCCESS && !temp.Commit()) result = E_EWRITE;
    if (result != E_SUCCESS) {
        m_entries->ClearEntries();
        return result;
    }
    m_archiveFile = platform::OpenSharedRead(packedFile);
    if (flags & PK_PACK_MOVE_FILES) DeleteSources(srcPath, names);
    return E_SUCCESS;
}

int CZbkArchiveManager::WriteNewArchive(FILE* out, const std::string& subPath, const std::string& srcPath,
                                        StringList& names) {
    if (int r = AddSignatureRecord(m_entries, nullptr, E_NO_MEMORY)) return r;
    struct Packed {
        std::string source;
        int index;
    };
    std::vector<Packed> packed;
    bool compressing = false;
    for (const char* name = names.Rewind(); name; name = names.Next()) {
        std::string source = SourcePathOf(srcPath, name);
        ZbkEntry* record = nullptr;
        if (int r = MakeFileRecord(subPath + name, source, &record)) return r;
        if (!record) continue;
        compressing |= record->packingMethod == MethodCompressed;
        int index = m_entries->AddEntry(record);
        if (index < 0) {
            delete record;
            return E_NO_MEMORY;
        }
        packed.push_back({source, index});
    }
    if (int r = AddTerminator(m_entries)) return r;
    uint64_t headerBytes = HeaderBytes(*m_entries);
    if (int r = m_entries->SaveHeader(out)) return r;

    EntryDataWriter writer(out, headerBytes, m_processDataProc, true);
    for (const Packed& p : packed) writer.Plan(m_entries->EntryAt(p.index), p.source);
    for (const Packed& p : packed) {
        if (!ReportProgress(p.source.c_str(), 0)) return E_EABORTED;
        FILE* source = platform::OpenFile(p.source.c_str(), "rb");
        if (!source) return E_EOPEN;
        int r = writer.WriteFile(source, p.source, m_entries->EntryAt(p.index));
        std::fclose(source);
        if (r) return r;
    }
    // Methods and sizes of compressed files are known only now; the header keeps its length.
    if (compressing) return m_entries->SaveHeader(out);
    return E_SUCCESS;
}

int CZbkArchiveManager::AddTerminator(ZbkEntryList* list) {
    ZbkEntry* terminator = new (std::nothrow) ZbkEntry();
    if (!terminator) return E_NO_MEMORY;
    if (list->AddEntry(terminator) < 0) {
        delete terminator;
        return E_NO_MEMORY;
    }
    list->ShrinkToFit();
    return E_SUCCESS;
}

uint64_t CZbkArchiveManager::HeaderBytes(const ZbkEntryList& list) {
    return static_cast<uint64_t>(list.headerSize) + (list.hasSignature ? static_cast<uint64_t>(list.signatureLength) : 0);
}

void CZbkArchiveManager::DeleteSources(const std::string& srcPath, StringList& names) {
    for (const char* name = names.Rewind(); name; name = names.Next()) {
        std::string source = SourcePathOf(srcPath, name);
        platform::FoundFile found;
        if (platform::FindFile(source.c_str(), &found) && !(found.attrib & platform::kAttrDirectory))
            platform::DeleteFileAt(source.c_str());
    }
}

int CZbkArchiveManager::CompressBuffer(unsigned char** data, int32_t* size, const char* progressName) {
    return ::CompressBuffer(data, size, progressName, m_processDataProc);
}
