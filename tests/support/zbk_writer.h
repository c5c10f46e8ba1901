// Writes ZBK archive bytes from a description: records with name, method, sizes, time and
// data block; an optional signature record and block; the terminator; and the damage that
// tests need (cut-off files, sizes that disagree with the data, odd records).
// Its constants are written out here on purpose, independent of the plug-in's own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr uint32_t kZbkStored = 0;
constexpr uint32_t kZbkCompressed = 0x43707273; // "srpC" on disk
constexpr uint32_t kZbkVersion = 0x56657273;    // "sreV" on disk

struct TestRecord {
    std::string name;
    uint32_t method = kZbkStored;
    uint32_t uncompressedSize = 0;
    uint32_t reserved = 0;
    uint32_t timeStamp = 0;
    std::vector<unsigned char> data; // the data block, appended to the data area in record order
    int64_t dataSizeOverride = -1;   // written as dataSize instead of data.size() when >= 0
    std::vector<unsigned char> afterRecord; // raw bytes right behind the record (odd signature blocks)
};

struct TestArchive {
    bool signature = false;
    std::vector<unsigned char> signatureBlock = {0};
    std::vector<TestRecord> records;
    bool terminator = true;
    uint32_t terminatorMethod = kZbkStored;
    uint32_t signatureTimeStamp = 0;     // written into the signature record (archives from elsewhere)
    std::vector<unsigned char> trailing; // bytes behind the data area
    bool sealed = false;                 // ends with the integrity block: 0, then the SHA-1 of all before

    // Adds a stored entry.
    TestArchive& Stored(const std::string& name, const std::vector<unsigned char>& data, uint32_t time = 0);
    TestArchive& Stored(const std::string& name, const std::string& text, uint32_t time = 0);
    // Adds a compressed entry, encoded with the test-data encoder.
    TestArchive& Compressed(const std::string& name, const std::vector<unsigned char>& plain, uint32_t time = 0);
    TestArchive& Compressed(const std::string& name, const std::string& text, uint32_t time = 0);
    // Puts a signature record with this block in first place.
    TestArchive& Signed(const std::vector<unsigned char>& block);

    std::vector<unsigned char> Bytes() const;
    uint32_t HeaderSize() const;
    // The offset of a record's data block in Bytes().
    uint64_t DataOffset(size_t record) const;
};

// A signature block holding these strings, closed by the empty string.
std::vector<unsigned char> SignatureBlock(const std::vector<std::string>& strings);
std::vector<unsigned char> Bytes(const std::string& text);
// The bytes without their last `n`.
std::vector<unsigned char> DropTail(std::vector<unsigned char> bytes, size_t n);
void WriteZbkArchive(const std::string& path, const TestArchive& layout);
