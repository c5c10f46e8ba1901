// The archive manager for ZBK archives: recognises them by content, lists their entries
// and extracts stored and compressed ones.
#pragma once

#include <cstdint>
#include <cstdio>

#include "archive/zbk_format.h"
#include "frame/archive_manager.h"

class CZbkArchiveManager : public CKyrArchiveManager {
public:
    CZbkArchiveManager();
    ~CZbkArchiveManager() override;

    const char* ClassName() override;
    CKyrArchiveManager* OpenArchive(tOpenArchiveData* openData) override;
    int ReadHeader(tHeaderData* headerData) override;
    int ProcessFile(int operation, char* destPath, char* destName) override;
    bool SupportsCapability(int flags) override;
    // Throws an int result code for a file that cannot be opened or is a malformed archive.
    bool CanYouHandleThisFile(char* fileName) override;

    // Extracts the entry at the listing position to destPath + destName and moves on.
    int ExtractEntry(const char* destPath, const char* destName);
    // Expands a compressed block into m_textBuffer, reporting to m_processDataProc.
    int DecompressEntry(const unsigned char* block, int32_t length, const char* entryName,
                        uint32_t expectedSize = 0);

    const ZbkEntryList* Entries() const { return m_entries; }

protected:
    void CloseArchiveFile();

    FILE* m_archiveFile;
    ZbkEntryList* m_entries;

private:
    void MoveToNextEntry();
    int64_t CurrentDataOffset();
    int ExtractData(const char* target, const ZbkEntry* entry, int64_t offset);

    int64_t m_archiveLength;
    // Data offset of one record, carried forward as the listing advances, so that walking
    // the whole archive costs linear time. Valid while the loaded header is unchanged.
    int m_offsetIndex;
    int64_t m_offsetAtIndex;
};
