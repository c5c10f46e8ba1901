#include "archive/integrity_block.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "common/file_io.h"
#include "common/sha1.h"
#include "frame/wcx.h"
#include "platform/platform.h"

namespace {

// Large enough that a gigabyte costs a thousand reads, small enough for any address space.
constexpr size_t kDigestReadSize = 1 << 20;

// A buffer for reading the file to digest; empty when there is no memory for it.
std::vector<unsigned char> ReadBuffer() {
    try {
        return std::vector<unsigned char>(kDigestReadSize);
    } catch (...) {
        return {};
    }
}

// Adds the next `count` bytes of the file at its position to the digest; `stop` ends it
// early with 21.
int DigestNext(FILE* file, uint64_t count, std::vector<unsigned char>& buffer, Sha1* sha,
               const std::atomic<bool>* stop = nullptr) {
    if (buffer.empty()) return E_NO_MEMORY;
    while (count > 0) {
        if (stop && stop->load(std::memory_order_relaxed)) return E_EABORTED;
        size_t want = static_cast<size_t>(std::min<uint64_t>(count, buffer.size()));
        // Not through the test's fault switch: a digest may be taken on a thread of its own.
        if (std::fread(buffer.data(), 1, want, file) != want) return E_EREAD;
        sha->Update(buffer.data(), want);
        count -= want;
    }
    return E_SUCCESS;
}

// The digest of the first `count` bytes of the file.
int DigestOf(FILE* file, uint64_t count, Sha1Digest* digest, const std::atomic<bool>* stop = nullptr) {
    if (!platform::SeekFile(file, 0)) return E_EREAD;
    std::vector<unsigned char> buffer = ReadBuffer();
    Sha1 sha;
    if (int r = DigestNext(file, count, buffer, &sha, stop)) return r;
    *digest = sha.Final();
    return E_SUCCESS;
}

// 0 when the first dataEnd bytes of the file have the stored digest, 12 when not, or the
// code of a failed read.
int CheckDigest(FILE* file, uint64_t dataEnd, const unsigned char stored[20], const std::atomic<bool>* stop = nullptr) {
    Sha1Digest digest;
    if (int r = DigestOf(file, dataEnd, &digest, stop)) return r;
    return std::memcmp(digest.data(), stored, digest.size()) == 0 ? E_SUCCESS : E_BAD_DATA;
}

// Whether the file ends with a block behind dataEnd; its digest into `stored`.
int FindBlock(FILE* archive, uint64_t dataEnd, bool* found, unsigned char stored[20]) {
    *found = false;
    int64_t length = platform::OpenFileLength(archive);
    if (length < 0) return E_EREAD;
    if (static_cast<uint64_t>(length) != dataEnd + kIntegrityBlockSize) return E_SUCCESS;
    unsigned char block[kIntegrityBlockSize];
    if (!platform::SeekFile(archive, static_cast<int64_t>(dataEnd)) ||
        std::fread(block, 1, sizeof block, archive) != sizeof block)
        return E_EREAD;
    *found = block[0] == 0;
    std::memcpy(stored, block + 1, 20);
    return E_SUCCESS;
}

} // namespace

int ReadIntegrityState(FILE* archive, uint64_t dataEnd, IntegrityState* state) {
    *state = IntegrityState::None;
    bool found;
    unsigned char stored[20];
    if (int r = FindBlock(archive, dataEnd, &found, stored)) return r;
    if (!found) return E_SUCCESS;
    int checked = CheckDigest(archive, dataEnd, stored);
    if (checked != E_SUCCESS && checked != E_BAD_DATA) return checked;
    *state = checked == E_SUCCESS ? IntegrityState::Valid : IntegrityState::Mismatch;
    return E_SUCCESS;
}

int AppendIntegrityBlock(FILE* file) {
    if (std::fflush(file) != 0) return E_EWRITE;
    int64_t length = platform::OpenFileLength(file);
    if (length < 0) return E_EREAD;
    Sha1Digest digest;
    if (int r = DigestOf(file, static_cast<uint64_t>(length), &digest)) return r;
    // A stream that was read must be positioned before it is written again.
    if (!platform::SeekFile(file, length)) return E_EWRITE;
    return AppendIntegrityBlock(file, digest);
}

int AppendIntegrityBlock(FILE* file, const Sha1Digest& digest) {
    unsigned char block[kIntegrityBlockSize] = {0};
    std::memcpy(block + 1, digest.data(), digest.size());
    return WriteFully(file, block, sizeof block) ? E_SUCCESS : E_EWRITE;
}

IntegrityCheck::~IntegrityCheck() {
    m_stop = true;
    Finish();
}

int IntegrityCheck::Start(const char* path, FILE* archive, uint64_t dataEnd) {
    if (int r = FindBlock(archive, dataEnd, &m_sealed, m_stored)) return r;
    if (!m_sealed) return E_SUCCESS;
    // Opened here, in the caller's text of paths, and read from the start by the thread
    // while the caller's own stream serves the copy.
    m_file = platform::OpenSharedRead(path);
    if (!m_file) return E_EREAD;
    try {
        m_thread = std::thread(&IntegrityCheck::Run, this, dataEnd);
    } catch (...) {
        Run(dataEnd); // no thread to be had: checked now instead
    }
    return E_SUCCESS;
}

void IntegrityCheck::Run(uint64_t dataEnd) { m_result = CheckDigest(m_file, dataEnd, m_stored, &m_stop); }

int IntegrityCheck::Finish() {
    if (m_thread.joinable()) m_thread.join();
    if (m_file) std::fclose(m_file);
    m_file = nullptr;
    return m_sealed ? m_result : E_SUCCESS;
}

namespace {
// How much the writer writes between two flushes that let the follower read on: far more
// than a system call's worth, far less than the file.
constexpr uint64_t kFollowStep = 8 << 20;
} // namespace

DigestFollower::~DigestFollower() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_moved.notify_all();
    if (m_thread.joinable()) m_thread.join();
    if (m_file) std::fclose(m_file);
}

bool DigestFollower::Start(const std::string& path, FILE* out) {
    m_out = out;
    m_file = platform::OpenSharedRead(path.c_str());
    if (!m_file) return false;
    // Reads of exactly what was written: a buffer filled ahead could meet the file's end
    // while it is still growing, and stay there.
    std::setvbuf(m_file, nullptr, _IONBF, 0);
    try {
        m_thread = std::thread(&DigestFollower::Run, this);
    } catch (...) {
        std::fclose(m_file);
        m_file = nullptr;
        return false;
    }
    return true;
}

void DigestFollower::Written(uint64_t length) {
    if (m_file && length - m_flushed >= kFollowStep && std::fflush(m_out) == 0) Publish(length, false);
}

void DigestFollower::Publish(uint64_t length, bool last) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_readable = length;
        m_last = last;
    }
    m_flushed = length;
    m_moved.notify_all();
}

int DigestFollower::Finish(Sha1Digest* digest) {
    if (!m_file) return E_EREAD;
    if (std::fflush(m_out) != 0) return E_EWRITE;
    int64_t length = platform::OpenFileLength(m_out);
    if (length < 0) return E_EREAD;
    Publish(static_cast<uint64_t>(length), true);
    m_thread.join();
    // Closed before the file is renamed: Windows refuses to move a file open elsewhere.
    std::fclose(m_file);
    m_file = nullptr;
    *digest = m_digest;
    return m_result;
}

void DigestFollower::Run() {
    std::vector<unsigned char> buffer = ReadBuffer();
    Sha1 sha;
    uint64_t done = 0;
    for (;;) {
        uint64_t readable;
        bool last;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_moved.wait(lock, [&] { return m_stop || m_last || m_readable > done; });
            if (m_stop) return;
            readable = m_readable;
            last = m_last;
        }
        if ((m_result = DigestNext(m_file, readable - done, buffer, &sha)) != E_SUCCESS) return;
        done = readable;
        if (last) break;
    }
    m_digest = sha.Final();
}

DigestFollower* IntegrityRenewal::Follow(const std::string& newPath, FILE* out) {
    if (!m_check.Sealed() || !m_follower.Start(newPath, out)) return nullptr;
    return &m_follower;
}

int IntegrityRenewal::Finish(FILE* out) {
    if (!m_check.Sealed()) return E_SUCCESS;
    Sha1Digest digest;
    // Without a follower the digest takes a pass over the new file, while the old one may
    // still be checked on its own thread.
    bool followed = m_follower.Following();
    int result = followed ? m_follower.Finish(&digest) : AppendIntegrityBlock(out);
    if (result == E_SUCCESS && followed) result = AppendIntegrityBlock(out, digest);
    // A fresh digest over bytes that no longer match the old one would make damage look sound.
    int checked = m_check.Finish();
    return checked ? checked : result;
}
