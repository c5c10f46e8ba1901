// The archive manager for ZBK archives: recognises them by content, lists their entries
// and extracts stored and compressed ones.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "archive/zbk_format.h"
#include "common/string_list.h"
#include "frame/archive_manager.h"

class IntegrityRenewal;
class ReplacementFile;

class CZbkArchiveManager : public CKyrArchiveManager {
public:
    CZbkArchiveManager();
    ~CZbkArchiveManager() override;

    const char* ClassName() override;
    CKyrArchiveManager* OpenArchive(tOpenArchiveData* openData) override;
    int ReadHeader(tHeaderData* headerData) override;
    int ReadHeaderEx(tHeaderDataEx* headerData) override;
    int ProcessFile(int operation, char* destPath, char* destName) override;
    bool SupportsCapability(int flags) override;
    // Throws an int result code for a file that cannot be opened or is a malformed archive.
    bool CanYouHandleThisFile(char* fileName) override;

    // Extracts the entry at the listing position to destPath + destName and moves on.
    int ExtractEntry(const char* destPath, const char* destName);

    const ZbkEntryList* Entries() const { return m_entries; }

    // Writing side: packing into a new or existing archive, and deleting entries.
    int PackFiles(char* packedFile, char* subPath, char* srcPath, char* addList, int flags) override;
    int DeleteFiles(char* packedFile, char* deleteList) override;
    // The host's list with every "*.*" folder name expanded: below srcPath when packing,
    // to the archive's records under that folder when srcPath is null. Names come out with
    // the archive's separators. Null on failure; when packing, a name that cannot be stored
    // (platform::CanStoreName) fails it and is kept in m_refusedName.
    StringList* ExpandFileList(const char* srcPath, const char* list);
    int CreateArchive(const char* packedFile, const std::string& subPath, const std::string& srcPath,
                      StringList& names, int flags);
    int UpdateArchive(const char* packedFile, const std::string& subPath, const std::string& srcPath,
                      StringList& names, int flags);
    int RemoveEntries(const char* packedFile, StringList& deleteList);
    // Starts a header to be written with the signature record the settings ask for.
    // blockFailureCode is the result when the configured block cannot be made.
    int AddSignatureRecord(ZbkEntryList* newList, ZbkEntryList* oldList, int blockFailureCode);
    int CompressBuffer(unsigned char** data, int32_t* size, const char* progressName);

protected:
    void CloseArchiveFile();

    FILE* m_archiveFile;
    ZbkEntryList* m_entries;

private:
    struct OldEntries;
    struct RebuildItem;

    int WriteNewArchive(FILE* out, const std::string& subPath, const std::string& srcPath, StringList& names);
    int WriteUpdatedArchive(ReplacementFile& temp, const char* packedFile, const std::vector<RebuildItem>& items,
                            const OldEntries& old, ZbkEntryList* newList, IntegrityRenewal& renewal);
    int WriteReducedArchive(ReplacementFile& temp, const std::vector<RebuildItem>& items, const OldEntries& old,
                            ZbkEntryList* newList, IntegrityRenewal& renewal);
    // Whether a file to add is to be compressed, so that its size is not known yet.
    static bool AddsCompressedFile(const std::vector<RebuildItem>& items, const ZbkEntryList& newList);
    // Fills a new header with the records of the items, in their order, and the terminator.
    int AddRebuildRecords(const std::vector<RebuildItem>& items, ZbkEntryList* newList);
    int ReplaceArchive(ReplacementFile& temp, const char* packedFile, ZbkEntryList* newList);
    int KeepSignatureRecord(ZbkEntryList* newList, const ZbkEntryList& oldList);
    void IndexOldEntries(OldEntries* old);
    static void SortByName(std::vector<RebuildItem>* items);
    // A record for a file to pack, or *out null when the path is missing or a folder.
    int MakeFileRecord(const std::string& storedName, const std::string& sourcePath, ZbkEntry** out);
    static int AddTerminator(ZbkEntryList* list);
    // Bytes the header of a list built for writing takes on disk, signature block included.
    static uint64_t HeaderBytes(const ZbkEntryList& list);
    static ZbkEntry* CopyRecord(const ZbkEntry& from);
    static void DeleteSources(const std::string& srcPath, StringList& names);

    // Both header records are filled by the same steps; only the field widths differ.
    template <typename Record>
    int FillHeader(Record* headerData);
    void MoveToNextEntry();
    // PK_TEST: moves on, and checks the integrity block with the last entry.
    int TestEntry();
    int64_t CurrentDataOffset();
    // *placed tells whether the target now holds the whole entry, whatever the result.
    int ExtractData(const char* target, const ZbkEntry* entry, int64_t offset, bool* placed);
    // Reports every piece of a long entry but the last; *reported: the bytes reported.
    int CopyStoredData(FILE* out, int64_t offset, uint32_t count, const char* shownName, uint64_t* reported);
    // Copies count bytes from the archive at `from` to `out` at `to`; the buffer is made on
    // first use.
    int CopyPiece(FILE* out, uint64_t from, uint64_t to, uint64_t count, std::unique_ptr<unsigned char[]>* buffer);
    static int PutInPlace(ReplacementFile& out, bool* placed);

    int64_t m_archiveLength;
    std::string m_refusedName;
    // Data offset of one record, carried forward as the listing advances, so that walking
    // the whole archive costs linear time. Valid while the loaded header is unchanged.
    int m_offsetIndex;
    int64_t m_offsetAtIndex;
};
