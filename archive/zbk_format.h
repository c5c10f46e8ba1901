// The ZBK archive header: entry records, the optional signature record and its block,
// and the terminator, as one list in memory that reads and writes itself byte for byte.
#pragma once

#include <cstdint>
#include <cstdio>

class StringList;

// Values of packingMethod; on disk they read "srpC" and "sreV".
constexpr uint32_t MethodStored = 0;
constexpr uint32_t MethodCompressed = 0x43707273;
constexpr uint32_t MethodVersion = 0x56657273;

// The largest entry: its sizes are 32-bit fields. Archives have no limit of their own; the
// data blocks lie one after another, at 64-bit positions.
constexpr uint64_t kEntrySizeLimit = 0xFFFFFFFFull;

// Bytes a record takes besides its name: the name's terminating 0 and five 32-bit numbers.
constexpr uint32_t kZbkRecordFixedBytes = 21;

struct ZbkEntry {
    ZbkEntry() = default;
    ~ZbkEntry();
    ZbkEntry(const ZbkEntry&) = delete;
    ZbkEntry& operator=(const ZbkEntry&) = delete;

    // Reads one record at the file's position; throws an int result code.
    void ReadEntry(FILE* file);
    // 0, or 19 when the file is null or a write comes back short.
    int WriteEntry(FILE* file) const;

    bool HasName() const { return name && *name; }
    // Bytes the record takes on disk.
    uint32_t RecordSize() const;

    char* name = nullptr; // owned (std::malloc); null stands for the empty name
    uint32_t packingMethod = 0;
    uint32_t uncompressedSize = 0;
    uint32_t reserved = 0;
    uint32_t timeStamp = 0;
    uint32_t dataSize = 0;
};

struct ZbkEntryList {
    ZbkEntryList() = default;
    ~ZbkEntryList() { ClearEntries(); }
    ZbkEntryList(const ZbkEntryList&) = delete;
    ZbkEntryList& operator=(const ZbkEntryList&) = delete;

    // Reads the whole header of an open archive into an empty list; throws an int result code.
    void LoadHeader(FILE* file);
    int SaveHeader(FILE* file) const;
    // Takes ownership; the new index, or -1 (the entry is then still the caller's).
    int AddEntry(ZbkEntry* entry);
    int ReserveEntries(int n);
    void ShrinkToFit();
    ZbkEntry* EntryAt(int i);
    ZbkEntry* FindEntry(const char* name);
    // Offset of a file record's data block; -1 for the signature record, the terminator
    // and indexes outside the list.
    int64_t DataOffset(int i) const;
    uint64_t TotalDataSize() const;
    // Where the last entry's data end: all that a loaded header accounts for.
    uint64_t DataEnd() const { return static_cast<uint64_t>(headerSize) + TotalDataSize(); }
    void SetSignatureBlock(const StringList* list);
    // The other list's block byte for byte; false when there is no memory for it.
    bool CopySignatureBlock(const ZbkEntryList& from);
    // A new list of the signature block's strings (the caller deletes it), or null.
    StringList* SignatureStrings() const;
    void ClearEntries();

    // Index of the first file record.
    int FirstFileIndex() const { return hasSignature ? 1 : 0; }

    ZbkEntry** entries = nullptr;
    int32_t count = 0;
    int32_t capacity = 0;
    uint32_t headerSize = 0;
    int32_t current = 0;
    bool hasSignature = false;
    char* signatureBlock = nullptr; // owned (std::malloc)
    int32_t signatureLength = 0;

private:
    void ReadSignatureBlock(FILE* file);
};
