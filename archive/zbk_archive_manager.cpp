#include "archive/zbk_archive_manager.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "codec/decompressor.h"
#include "archive/integrity_block.h"
#include "common/file_io.h"
#include "common/replacement_file.h"
#include "common/string_utils.h"
#include "platform/platform.h"

namespace {

// The expanded data go straight from the decoder's output buffer to the file, without the
// copy a stream buffer would add (a quarter of a large entry's extraction time): this many
// bytes per write for a large entry.
constexpr size_t kDecodeOutputBytes = 1 << 20;

constexpr int kCapabilityMask = PK_CAPS_NEW | PK_CAPS_MODIFY | PK_CAPS_MULTIPLE | PK_CAPS_DELETE | PK_CAPS_BY_CONTENT;

// An entry's block, read on from the archive's position through the test's fault switch.
class ArchiveSource : public DecodeSource {
public:
    explicit ArchiveSource(FILE* archive) : m_archive(archive) {}
    size_t Read(unsigned char* into, size_t n) override { return ReadUpTo(m_archive, into, n); }

private:
    FILE* m_archive;
};

class FileSink : public DecodeSink {
public:
    explicit FileSink(FILE* file) : m_file(file) {}
    bool Write(const unsigned char* bytes, size_t n) override { return WriteFully(m_file, bytes, n); }

private:
    FILE* m_file;
};

} // namespace

CZbkArchiveManager::CZbkArchiveManager()
    : m_archiveFile(nullptr), m_entries(nullptr), m_archiveLength(0), m_offsetIndex(-1), m_offsetAtIndex(0) {
    m_entries = new (std::nothrow) ZbkEntryList();
}

CZbkArchiveManager::~CZbkArchiveManager() {
    CloseArchiveFile();
    if (m_entries) {
        m_entries->ClearEntries();
        delete m_entries;
    }
    m_entries = nullptr;
}

void CZbkArchiveManager::CloseArchiveFile() {
    if (m_archiveFile) std::fclose(m_archiveFile);
    m_archiveFile = nullptr;
}

const char* CZbkArchiveManager::ClassName() { return "CZbkArchiveManager"; }

bool CZbkArchiveManager::SupportsCapability(int flags) { return (flags & ~kCapabilityMask) == 0; }

bool CZbkArchiveManager::CanYouHandleThisFile(char* fileName) {
    if (m_archiveFile) return true;
    if (!fileName || !*fileName) return false;
    if (!m_entries) throw static_cast<int>(E_NO_MEMORY);
    m_archiveFile = platform::OpenSharedRead(fileName);
    if (!m_archiveFile) throw static_cast<int>(E_EOPEN);
    m_entries->ClearEntries();
    m_offsetIndex = -1;
    try {
        m_entries->LoadHeader(m_archiveFile);
    } catch (int) {
        CloseArchiveFile();
        throw;
    } catch (...) {
        CloseArchiveFile();
        return false;
    }
    // Measured in 64 bits: archives may pass 4 GiB, and a header may claim far more data
    // than any file holds.
    int64_t length = platform::OpenFileLength(m_archiveFile);
    int64_t needed = static_cast<int64_t>(m_entries->DataEnd());
    if (length < static_cast<int64_t>(kZbkRecordFixedBytes) || length < needed ||
        !platform::SeekFile(m_archiveFile, 0)) {
        CloseArchiveFile();
        throw static_cast<int>(E_BAD_DATA);
    }
    m_archiveLength = length;
    return true;
}

CKyrArchiveManager* CZbkArchiveManager::OpenArchive(tOpenArchiveData* openData) {
    if (!openData) return nullptr;
    try {
        if (!CanYouHandleThisFile(openData->ArcName)) {
            openData->OpenResult = E_UNKNOWN_FORMAT;
            return nullptr;
        }
    } catch (int code) {
        openData->OpenResult = code;
        return nullptr;
    }
    m_entries->current = 0;
    RememberOpenData(openData);
    openData->OpenResult = E_SUCCESS;
    return this;
}

int CZbkArchiveManager::ReadHeader(tHeaderData* headerData) { return FillHeader(headerData); }

int CZbkArchiveManager::ReadHeaderEx(tHeaderDataEx* headerData) {
    return Guarded([&] { return FillHeader(headerData); });
}

template <typename Record>
int CZbkArchiveManager::FillHeader(Record* headerData) {
    if (!headerData || !m_entries) return E_BAD_DATA;
    ZbkEntryList& list = *m_entries;
    if (list.current == 0 && list.hasSignature && list.count > 1) list.current = 1;
    if (list.current >= list.count - 1) return E_END_ARCHIVE;
    const ZbkEntry* entry = list.EntryAt(list.current);
    // The field holds its size less one bytes and the terminating 0; longer names are cut.
    constexpr size_t kMaxHostName = sizeof headerData->FileName - 1;
    std::string hostName;
    const char* name = entry->name ? entry->name : "";
    if (platform::HostTextIsWide()) {
        hostName = platform::FromArchiveText(name);
        name = hostName.c_str();
    }
    size_t n = std::strlen(name);
    if (n > kMaxHostName) n = kMaxHostName;
    std::memcpy(headerData->FileName, name, n);
    headerData->FileName[n] = 0;
    platform::ToHostSeparators(headerData->FileName);
    // Time stamps are read as unsigned, so that files written after 2038 keep their dates.
    headerData->FileTime = MakeHostFileTime(static_cast<int64_t>(entry->timeStamp));
    headerData->FileAttr = static_cast<int>(platform::HostFileAttribute());
    SetHeaderSizes(headerData, entry->dataSize,
                   entry->packingMethod == MethodCompressed ? entry->uncompressedSize : entry->dataSize);
    return E_SUCCESS;
}

int CZbkArchiveManager::ProcessFile(int operation, char* destPath, char* destName) {
    return Guarded(
        [&] {
            switch (operation) {
            case PK_SKIP:
                MoveToNextEntry();
                return static_cast<int>(E_SUCCESS);
            case PK_TEST:
                return TestEntry();
            case PK_EXTRACT:
                return ExtractEntry(destPath, destName);
            default:
                return static_cast<int>(E_NOT_SUPPORTED);
            }
        },
        E_BAD_DATA);
}

int CZbkArchiveManager::TestEntry() {
    // The file manager tests entry by entry; the digest covers the whole file, so it is
    // checked once, with the last entry, where a mismatch is reported.
    bool last = m_entries && m_archiveFile && m_entries->current == m_entries->count - 2;
    MoveToNextEntry();
    if (!last) return E_SUCCESS;
    IntegrityState state;
    if (int r = ReadIntegrityState(m_archiveFile, m_entries->DataEnd(), &state)) return r;
    return state == IntegrityState::Mismatch ? E_BAD_DATA : E_SUCCESS;
}

void CZbkArchiveManager::MoveToNextEntry() {
    if (m_entries && m_entries->current + 1 < m_entries->count) ++m_entries->current;
}

int64_t CZbkArchiveManager::CurrentDataOffset() {
    const ZbkEntryList& list = *m_entries;
    int i = list.current;
    int64_t offset;
    if (m_offsetIndex >= list.FirstFileIndex() && m_offsetIndex <= i && i < list.count - 1) {
        offset = m_offsetAtIndex;
        for (int k = m_offsetIndex; k < i; ++k) offset += list.entries[k]->dataSize;
    } else {
        offset = list.DataOffset(i);
    }
    if (offset >= 0) {
        m_offsetIndex = i;
        m_offsetAtIndex = offset;
    }
    return offset;
}

int CZbkArchiveManager::ExtractEntry(const char* destPath, const char* destName) {
    if (!m_entries || !m_archiveFile) return E_BAD_DATA;
    if (!destPath && !destName) return E_ECREATE;
    char* target = destPath ? ConcatStrings(destPath, destName) : DuplicateString(destName);
    if (!target) return E_NO_MEMORY;
    const ZbkEntry* entry = m_entries->EntryAt(m_entries->current);
    int64_t offset = entry ? CurrentDataOffset() : -1;
    MoveToNextEntry();
    bool placed = false;
    int result = entry ? ExtractData(target, entry, offset, &placed) : E_BAD_DATA;
    // The file managers leave the time of an extracted file to the plug-in. A time stamp of
    // 0 means none was kept, and one the system refuses leaves the time of extraction:
    // either way the data are right, so neither is a failure.
    if (placed && entry->timeStamp != 0) platform::SetFileWriteTime(target, static_cast<int64_t>(entry->timeStamp));
    std::free(target);
    return result;
}

// The entry goes to a new file beside the target, which takes the target's name only once
// every byte is written and, for a compressed entry, the checksum is right: damage found
// half-way, a stop or an error leaves a file of that name as it was.
int CZbkArchiveManager::ExtractData(const char* target, const ZbkEntry* entry, int64_t offset, bool* placed) {
    ReplacementFile out(target);
    if (entry->dataSize == 0 && entry->uncompressedSize == 0) {
        if (!out.Create()) return E_ECREATE;
        return PutInPlace(out, placed);
    }
    uint32_t count = entry->dataSize ? entry->dataSize : entry->uncompressedSize;
    // Progress texts are in the request's text, like the paths the host gave.
    std::string shownName = platform::FromArchiveText(entry->name);
    // The signature record and the terminator own no data block.
    if (offset < 0) return E_BAD_DATA;
    // Beyond the end of the file the read could only come back short.
    if (offset + static_cast<int64_t>(count) > m_archiveLength) return E_EREAD;
    if (!out.Create()) return E_ECREATE;
    if (entry->packingMethod == MethodCompressed) {
        if (!platform::SeekFile(m_archiveFile, offset)) return E_EREAD;
        ArchiveSource source(m_archiveFile);
        FileSink sink(out.File());
        DecodeBufferSizes sizes;
        if (entry->uncompressedSize >= kDecodeOutputBytes) sizes.output = kDecodeOutputBytes;
        std::setvbuf(out.File(), nullptr, _IONBF, 0);
        if (int r = DecompressStream(source, count, sink, shownName.c_str(), m_processDataProc, sizes)) return r;
        return PutInPlace(out, placed);
    }
    uint64_t reported = 0;
    if (int r = CopyStoredData(out.File(), offset, count, shownName.c_str(), &reported)) return r;
    if (int r = PutInPlace(out, placed)) return r;
    // The last report comes once the file is written, as the host has always had it: a stop
    // there leaves the complete file in place. A stop at an earlier piece of a long entry
    // leaves a file of that name as it was.
    if (m_processDataProc && !ReportProgress(shownName.c_str(), static_cast<int>(count - reported)))
        return E_EABORTED;
    return E_SUCCESS;
}

int CZbkArchiveManager::PutInPlace(ReplacementFile& out, bool* placed) {
    // A write that fails at the flush is told apart from a target that cannot take the name.
    if (std::fflush(out.File()) != 0) return E_EWRITE;
    if (!out.Commit()) return E_ECREATE;
    *placed = true;
    return E_SUCCESS;
}

// Inside the kernel where the system can, the rest through one buffer of fixed size, in
// pieces that a long entry reports as they are written.
int CZbkArchiveManager::CopyStoredData(FILE* out, int64_t offset, uint32_t count, const char* shownName,
                                       uint64_t* reported) {
    uint64_t from = static_cast<uint64_t>(offset), written = 0;
    std::unique_ptr<unsigned char[]> buffer;
    while (written < count) {
        uint64_t piece = std::min<uint64_t>(count - written, kLongItemReportBytes);
        if (int r = CopyPiece(out, from + written, written, piece, &buffer)) return r;
        written += piece;
        if (written < count && m_processDataProc) {
            if (!ReportProgress(shownName, static_cast<int>(piece))) return E_EABORTED;
            *reported += piece;
        }
    }
    return E_SUCCESS;
}

int CZbkArchiveManager::CopyPiece(FILE* out, uint64_t from, uint64_t to, uint64_t count,
                                  std::unique_ptr<unsigned char[]>* buffer) {
    // Below this a system call costs more than the copy it saves. Above it the kernel wins
    // wherever the entry starts within a page: from an odd offset it is slower than from a
    // page boundary, but still a quarter faster than the copy through the streams' buffers.
    constexpr uint64_t kKernelCopyMinimum = 64 * 1024;
    uint64_t copied = count >= kKernelCopyMinimum ? CopyInKernel(m_archiveFile, from, out, to, count) : 0;
    uint64_t left = count - copied;
    if (left == 0) return E_SUCCESS;
    constexpr uint64_t kCopyBufferSize = 1 << 20;
    size_t size = static_cast<size_t>(std::min(left, kCopyBufferSize));
    if (!*buffer) buffer->reset(new (std::nothrow) unsigned char[kCopyBufferSize]);
    if (!*buffer) return E_NO_MEMORY;
    if (!platform::SeekFile(m_archiveFile, static_cast<int64_t>(from + copied))) return E_EREAD;
    if (!platform::SeekFile(out, static_cast<int64_t>(to + copied))) return E_EWRITE;
    while (left > 0) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(left, size));
        if (ReadUpTo(m_archiveFile, buffer->get(), n) != n) return E_EREAD;
        if (!WriteFully(out, buffer->get(), n)) return E_EWRITE;
        left -= n;
    }
    return E_SUCCESS;
}
