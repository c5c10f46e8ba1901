#include "archive/entry_data_writer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "codec/compressor.h"
#include "codec/decompressor.h"
#include "common/file_io.h"
#include "common/string_utils.h"
#include "platform/platform.h"
#include "settings/settings_store.h"

namespace {
// Below this an entry's system calls would cost more than copying it through our buffer.
constexpr uint64_t kKernelCopyMinimum = 64 * 1024;
// The kernel copies page by page; an entry that moves by a part of a page costs it more
// than the plain copy (a deletion of one entry of 4 MiB from an archive of 256 MB took 1.4
// times as long on ext4 as through our buffer).
constexpr uint64_t kKernelCopyAlignment = 4096;
// What an archive stream gives the compressor when the stream outgrows its record.
constexpr int kStreamTooLong = -1;
// The kernel copies a long entry in pieces of this size, so that it can be paced.
constexpr uint64_t kKernelCopyPiece = EntryDataWriter::kPaceStep;
} // namespace

// The file's bytes as measured before: a file that has since shrunk or grown fails. The
// compressor reads a chunk ahead of its tokens, so what it has read paces the item.
class ArchiveStreamInput : public CompressorInput {
public:
    ArchiveStreamInput(EntryDataWriter& writer, FILE* file, uint64_t size)
        : m_writer(writer), m_file(file), m_left(size) {}
    int Read(unsigned char* into, size_t want, size_t* got) override {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(want, m_left));
        if (n && ReadUpTo(m_file, into, n) != n) return E_EREAD;
        m_left -= n;
        *got = n;
        if (n < want && std::fgetc(m_file) != EOF) return E_EREAD;
        return m_writer.Paced(n, m_left > 0);
    }

private:
    EntryDataWriter& m_writer;
    FILE* m_file;
    uint64_t m_left;
};

int EntryDataWriter::Paced(uint64_t n, bool more) {
    m_itemDone += n;
    if (!m_pace || !more || m_itemDone < m_nextPace) return E_SUCCESS;
    m_nextPace = (m_itemDone / kPaceStep + 1) * kPaceStep;
    return m_pace(m_itemDone) ? E_SUCCESS : E_EABORTED;
}

class ArchiveStreamOutput : public CompressorOutput {
public:
    explicit ArchiveStreamOutput(EntryDataWriter& writer) : m_writer(writer) {}
    int Write(const unsigned char* bytes, size_t n) override {
        if (written + n > m_writer.m_streamLimit) return kStreamTooLong;
        written += n;
        return m_writer.WriteBytes(bytes, n);
    }
    uint64_t written = 0;

private:
    EntryDataWriter& m_writer;
};

std::string SourcePathOf(const std::string& srcPath, const std::string& listedName) {
    std::string path = srcPath + platform::FromArchiveText(listedName.c_str());
    platform::ToHostSeparators(&path[srcPath.size()]);
    return path;
}

bool ShouldCompress(const char* sourcePath) {
    SettingsLock lock;
    if (!PluginSettings.UseCompression) return false;
    if (PluginSettings.CompressAll) return true;
    const char* extension = FindExtension(FindFileName(sourcePath));
    if (!extension || !*extension || !PluginSettings.CompressFormats) return false;
    // Walked without the list's cursor, which packs on several host threads would share.
    for (const char* f = PluginSettings.CompressFormats->buffer; f && *f; f += std::strlen(f) + 1)
        if (platform::CompareNoCase(f, extension) == 0) return true;
    return false;
}

EntryDataWriter::EntryDataWriter(FILE* archive, uint64_t startLength, tProcessDataProc progress, bool creating)
    : m_archive(archive), m_length(startLength), m_progress(progress), m_creating(creating) {}

void EntryDataWriter::Plan(const ZbkEntry* record, const std::string& sourcePath) {
    if (record->packingMethod != MethodCompressed) return;
    if (!m_pool) {
        int threads = PackThreads();
        if (threads < 2) return;
        m_pool.reset(new CompressionPool(threads));
    }
    m_pool->Plan(record, sourcePath, record->uncompressedSize);
}

bool EntryDataWriter::Ready() {
    if (!m_buffer.empty()) return true;
    try {
        m_buffer.resize(kCopyBufferSize);
    } catch (...) {
        return false;
    }
    return true;
}

int EntryDataWriter::Report(const std::string& text, int count) {
    if (!m_progress) return E_SUCCESS;
    std::vector<char> copy(text.begin(), text.end());
    copy.push_back(0);
    return m_progress(copy.data(), count) ? E_SUCCESS : E_EABORTED;
}

int EntryDataWriter::WriteBytes(const void* bytes, size_t n) {
    if (!WriteFully(m_archive, bytes, n)) return E_EWRITE;
    m_length += n;
    if (m_follower) m_follower->Written(m_length);
    return E_SUCCESS;
}

int EntryDataWriter::WriteFile(FILE* source, const std::string& sourcePath, ZbkEntry* record) {
    // Reads go in large blocks to buffers of ours: a buffer of the stream's own would only
    // cost one more system call per file to size it.
    std::setvbuf(source, nullptr, _IONBF, 0);
    if (record->packingMethod == MethodCompressed) {
        bool stored = false;
        int result = TryCompress(source, sourcePath, record, &stored);
        if (!stored) return result;
        record->packingMethod = MethodStored;
        record->dataSize = record->uncompressedSize;
        record->uncompressedSize = 0;
    }
    int result = StoreFile(source, sourcePath, record);
    // Files after this one may be read ahead only now: reads keep the order of the files.
    if (m_pool && result == E_SUCCESS) m_pool->Fill();
    return result;
}

int EntryDataWriter::TryCompress(FILE* source, const std::string& sourcePath, ZbkEntry* record, bool* stored) {
    if (!m_creating) {
        if (int r = Report("Compressing file : " + sourcePath, 0)) return r;
    }
    using Stage = CompressionPool::Job::Stage;
    CompressionPool::Job* job = m_pool ? m_pool->Take(record) : nullptr;
    if (job && job->stage == Stage::NotPrepared) {
        m_pool->Finish(job);
        job = nullptr; // read at its turn, as if never planned
    }
    if (!job) return CompressStreaming(source, sourcePath, record, stored);
    if (job->stage == Stage::Short) return E_EREAD;
    // Only files small enough to be held whole are planned.
    unsigned char* data = nullptr;
    std::swap(data, job->data);
    int32_t size = job->size;
    int result;
    if (job->stage == Stage::Compressed) {
        result = job->result;
        if (int r = Replay(*job)) {
            std::free(data);
            return r;
        }
    } else {
        result = CompressBuffer(&data, &size, m_creating ? sourcePath.c_str() : nullptr, m_progress);
    }
    if (result == E_SUCCESS) {
        result = WriteBytes(data, static_cast<size_t>(size));
        record->dataSize = static_cast<uint32_t>(size);
        std::free(data);
        if (result == E_SUCCESS) m_pool->Finish(job);
        return result;
    }
    std::free(data);
    if (result == E_EABORTED) return result;
    m_pool->Finish(job);
    // The encoder declined (too short, or no memory): the file is stored instead.
    if (!platform::SeekFile(source, 0)) return E_EREAD;
    *stored = true;
    return E_SUCCESS;
}

int EntryDataWriter::CompressStreaming(FILE* source, const std::string& sourcePath, ZbkEntry* record, bool* stored) {
    const uint64_t start = m_length;
    ArchiveStreamInput input(*this, source, record->uncompressedSize);
    ArchiveStreamOutput output(*this);
    // A file smaller than a chunk is one chunk: the compressor then holds no more than it.
    const size_t chunkBytes = static_cast<size_t>(std::min<uint64_t>(m_chunkBytes, uint64_t(record->uncompressedSize) + 1));
    const int result = CompressStream(input, output, m_creating ? sourcePath.c_str() : nullptr, m_progress, chunkBytes);
    if (result == E_SUCCESS) {
        record->dataSize = static_cast<uint32_t>(output.written);
        return E_SUCCESS;
    }
    // The encoder declines (too short, or no memory) before it writes; a stream that would
    // not fit its record is taken back. Either way the file is stored instead.
    if (result != E_NOT_SUPPORTED && result != E_NO_MEMORY && result != kStreamTooLong) return result;
    if (m_length != start) {
        // The digest has taken in what was written, and cannot give it back.
        if (m_follower) return E_EWRITE;
        if (!platform::ExtendFile(m_archive, static_cast<int64_t>(start)) ||
            !platform::SeekFile(m_archive, static_cast<int64_t>(start)))
            return E_EWRITE;
        m_length = start;
    }
    if (!platform::SeekFile(source, 0)) return E_EREAD;
    *stored = true;
    return E_SUCCESS;
}

int EntryDataWriter::Replay(const CompressionPool::Job& job) {
    if (!m_progress) return E_SUCCESS;
    if (m_creating) {
        for (const CompressionPool::Report& r : job.reports)
            if (!m_progress(const_cast<char*>(r.text), r.count)) return E_EABORTED;
        return E_SUCCESS;
    }
    // Given no name, the compressor reports only a failed reallocation of its output, with
    // a null text, just before it gives up for want of memory.
    if (job.result == E_NO_MEMORY && !job.reports.empty() && job.reports.back().text == job.sourcePath.c_str())
        return m_progress(nullptr, 0) ? E_SUCCESS : E_EABORTED;
    return E_SUCCESS;
}

int EntryDataWriter::StoreFile(FILE* source, const std::string& sourcePath, ZbkEntry* record) {
    if (!m_creating) {
        if (int r = Report("Packing file : " + sourcePath, 0)) return r;
    }
    if (!Ready()) return E_NO_MEMORY;
    uint64_t copied = 0;
    for (;;) {
        size_t n = ReadUpTo(source, m_buffer.data(), m_buffer.size());
        if (n == 0) break;
        copied += n;
        // A file that grew since it was measured would not match its record.
        if (copied > record->dataSize) return E_EREAD;
        if (int r = WriteBytes(m_buffer.data(), n)) return r;
        if (m_creating) {
            if (int r = Report(sourcePath, static_cast<int>(n))) return r;
        } else if (int r = Paced(n, copied < record->dataSize)) {
            return r;
        }
    }
    return copied == record->dataSize ? E_SUCCESS : E_EREAD;
}

int EntryDataWriter::CopyOldEntry(FILE* oldArchive, uint64_t offset, uint32_t count) {
    if (!Ready()) return E_NO_MEMORY;
    uint64_t left = count;
    // A large entry that keeps its place within a page is copied inside the kernel where the
    // system can, as a plain copy of the archive would be; small ones cost less through the
    // windows below than a system call each. Whatever the kernel leaves, the plain copy
    // does, and reports its faults.
    if (left >= kKernelCopyMinimum && offset % kKernelCopyAlignment == m_length % kKernelCopyAlignment) {
        for (;;) {
            const uint64_t piece = std::min(left, kKernelCopyPiece);
            const uint64_t copied = CopyInKernel(oldArchive, offset, m_archive, m_length, piece);
            m_length += copied;
            if (m_follower) m_follower->Written(m_length);
            offset += copied;
            left -= copied;
            if (int r = Paced(copied, left > 0)) return r;
            if (copied < piece || left == 0) break;
        }
    }
    return CopyThroughBuffer(oldArchive, offset, left);
}

int EntryDataWriter::CopyThroughBuffer(FILE* oldArchive, uint64_t offset, uint64_t left) {
    // Kept entries mostly follow each other in the old archive, and most are small: reading
    // it in buffer-sized windows keeps the system calls per entry far below one.
    while (left > 0) {
        if (offset >= m_windowStart && offset < m_windowEnd) {
            size_t n = static_cast<size_t>(std::min<uint64_t>(left, m_windowEnd - offset));
            if (int r = WriteBytes(m_buffer.data() + (offset - m_windowStart), n)) return r;
            offset += n;
            left -= n;
            if (int r = Paced(n, left > 0)) return r;
            continue;
        }
        if (offset != m_windowEnd && !platform::SeekFile(oldArchive, static_cast<int64_t>(offset))) return E_EREAD;
        size_t n = ReadUpTo(oldArchive, m_buffer.data(), m_buffer.size());
        m_windowStart = offset;
        m_windowEnd = offset + n;
        if (n == 0) {
            m_windowEnd = UINT64_MAX; // position unknown: seek before the next read
            m_windowStart = UINT64_MAX;
            return E_EREAD;
        }
    }
    return E_SUCCESS;
}
