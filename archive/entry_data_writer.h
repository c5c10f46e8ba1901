// Appends entry data to an archive being written: a source file stored or compressed,
// or an old entry's bytes copied unchanged. Shared by creating and rewriting archives.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/compression_pool.h"
#include "archive/integrity_block.h"
#include "archive/zbk_format.h"
#include "codec/compressor.h"
#include "frame/wcx.h"

constexpr size_t kCopyBufferSize = 1048576;

class EntryDataWriter {
public:
    // `creating` selects the progress style of a new archive (encoder reports and a report
    // per copied chunk) instead of that of an update (one announcement per file).
    EntryDataWriter(FILE* archive, uint64_t startLength, tProcessDataProc progress, bool creating);

    // False when the copy buffer cannot be allocated.
    bool Ready();

    // Announces a file that WriteFile will be given, in the order of those calls, so that
    // files marked for compression can be compressed on other threads before their turn.
    void Plan(const ZbkEntry* record, const std::string& sourcePath);

    // Writes the source's data as the record says, compressing when the record is marked
    // MethodCompressed and storing otherwise; the record gets its final method and sizes.
    int WriteFile(FILE* source, const std::string& sourcePath, ZbkEntry* record);
    // Copies `count` bytes from `offset` of an old archive.
    int CopyOldEntry(FILE* oldArchive, uint64_t offset, uint32_t count);

    uint64_t Length() const { return m_length; }
    // Tells the follower of every byte written from now on.
    void Follow(DigestFollower* follower) { m_follower = follower; }
    // Tells the host of an item's progress between the pieces of a long one, where an update
    // or a deletion otherwise makes no call: `pace` hears the bytes of the item done so far
    // (never all of them: the caller reports the whole item itself), and stops the item
    // with 21 when it answers false. Set for each item; null for none.
    using Pace = std::function<bool(uint64_t done)>;
    void PaceItem(Pace pace) {
        m_pace = std::move(pace);
        m_itemDone = 0;
        m_nextPace = kPaceStep;
    }
    // The bytes of an item between two such calls.
    static constexpr uint64_t kPaceStep = kLongItemReportBytes;

    // The longest compressed stream an entry may have (its record's size is 32-bit); a
    // longer one is taken back and the file stored. Lowered only by tests, which also
    // choose the compressor's chunk size, to see streams taken back after some chunks.
    void LimitStream(uint64_t bytes, size_t chunkBytes = kCompressChunkBytes) {
        m_streamLimit = bytes;
        m_chunkBytes = chunkBytes;
    }

private:
    friend class ArchiveStreamInput;
    friend class ArchiveStreamOutput;
    int Report(const std::string& text, int count);
    int WriteBytes(const void* bytes, size_t n);
    int TryCompress(FILE* source, const std::string& sourcePath, ZbkEntry* record, bool* stored);
    // Compresses from the source straight into the archive.
    int CompressStreaming(FILE* source, const std::string& sourcePath, ZbkEntry* record, bool* stored);
    int StoreFile(FILE* source, const std::string& sourcePath, ZbkEntry* record);
    // What the compressor told a worker, told to the host now; 21 when it says stop.
    int Replay(const CompressionPool::Job& job);
    int CopyThroughBuffer(FILE* oldArchive, uint64_t offset, uint64_t count);
    // `n` more bytes of the item done, `more` when some are left: paces the item.
    int Paced(uint64_t n, bool more);

    FILE* m_archive;
    uint64_t m_length;
    tProcessDataProc m_progress;
    bool m_creating;
    std::vector<unsigned char> m_buffer;
    // The part of the old archive held in m_buffer; the stream stands at its end.
    uint64_t m_windowStart = UINT64_MAX;
    uint64_t m_windowEnd = UINT64_MAX;
    std::unique_ptr<CompressionPool> m_pool; // null while nothing is planned
    DigestFollower* m_follower = nullptr;
    uint64_t m_streamLimit = UINT32_MAX;
    size_t m_chunkBytes = kCompressChunkBytes;
    Pace m_pace;
    uint64_t m_itemDone = 0;
    uint64_t m_nextPace = kPaceStep;
};

// The file on disk behind a name of the add list (archive separators): srcPath followed
// by the name with the host's separators.
std::string SourcePathOf(const std::string& srcPath, const std::string& listedName);

// True when a file of this name is compressed under the current settings.
bool ShouldCompress(const char* sourcePath);
