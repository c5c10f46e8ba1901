// The trailing integrity block that archives of the second game end with: exactly 21
// bytes after the last entry's data, a 0 byte and the SHA-1 digest of every byte of the
// file before the block. The games check it; a rewrite must keep it true.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include "common/sha1.h"

constexpr uint64_t kIntegrityBlockSize = 21;

enum class IntegrityState { None, Valid, Mismatch };

// The state of the block of an archive whose entry data end at dataEnd. A block present is
// checked against the whole file before it. 0, or 18 when the file cannot be read.
int ReadIntegrityState(FILE* archive, uint64_t dataEnd, IntegrityState* state);

// Appends a fresh block to a file open for reading and writing, over every byte it holds.
// 0, or 18 (read) or 19 (write).
int AppendIntegrityBlock(FILE* file);
// Appends a block holding a digest taken already; 0 or 19.
int AppendIntegrityBlock(FILE* file, const Sha1Digest& digest);

// The old archive's digest, checked on a thread of its own while a rewrite copies from the
// archive: the digest costs about as much as the copy, and the two together would take
// twice as long one after the other. Holds one more stream of the archive and 1 MiB.
class IntegrityCheck {
public:
    IntegrityCheck() = default;
    ~IntegrityCheck(); // stops a check still running
    IntegrityCheck(const IntegrityCheck&) = delete;
    IntegrityCheck& operator=(const IntegrityCheck&) = delete;

    // Looks for a block behind dataEnd of the archive open as `archive`, and when there is
    // one starts checking it through a stream of its own opened at `path`. 0, or 18 when the
    // archive cannot be read.
    int Start(const char* path, FILE* archive, uint64_t dataEnd);
    // The archive ends with a block, whose check has started.
    bool Sealed() const { return m_sealed; }
    // Waits for the check: 0 when the digest matches, 12 when not, 18 when the archive
    // could not be read to its end.
    int Finish();

private:
    void Run(uint64_t dataEnd);

    bool m_sealed = false;
    FILE* m_file = nullptr;
    unsigned char m_stored[20] = {};
    int m_result = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// The digest of a file being written from its first byte on, taken on a thread of its own
// that reads the file a little behind the writer, so that the digest costs no pass of its
// own after the writing. Holds one more stream of the file and 1 MiB.
class DigestFollower {
public:
    DigestFollower() = default;
    ~DigestFollower(); // stops a thread still running
    DigestFollower(const DigestFollower&) = delete;
    DigestFollower& operator=(const DigestFollower&) = delete;

    // Starts following the file at `path`, which the caller writes from its start through
    // `out`; false when it cannot be read (the caller then takes the digest afterwards).
    bool Start(const std::string& path, FILE* out);
    bool Following() const { return m_file != nullptr; }
    // The writer has written `length` bytes: every few MiB they are flushed, so that the
    // thread may read them.
    void Written(uint64_t length);
    // Everything is written: waits for the digest. 0, or 18 when the file could not be
    // read back, 19 when the writer's stream cannot be flushed.
    int Finish(Sha1Digest* digest);

private:
    void Run();
    void Publish(uint64_t length, bool last);

    FILE* m_out = nullptr;
    FILE* m_file = nullptr;
    uint64_t m_flushed = 0; // writer side: what the thread was told of last
    std::mutex m_mutex;
    std::condition_variable m_moved;
    uint64_t m_readable = 0; // bytes the thread may read
    bool m_last = false;     // m_readable is the whole file
    bool m_stop = false;
    int m_result = 0;
    Sha1Digest m_digest{};
    std::thread m_thread;
};

// What a rewrite does for an archive that ends with an integrity block: checks the old
// block while the old archive is copied, and ends the new file with a fresh one, whose
// digest follows the writing where the new file is written from its first byte on.
class IntegrityRenewal {
public:
    // 0, or 18 when the old archive cannot be read.
    int Start(const char* oldPath, FILE* oldArchive, uint64_t oldDataEnd) {
        return m_check.Start(oldPath, oldArchive, oldDataEnd);
    }
    // The new archive is written through `out` from its first byte on from now: the
    // follower to tell of every byte written, or null when the archive had no block.
    DigestFollower* Follow(const std::string& newPath, FILE* out);
    // Appends the fresh block, when the old archive had one and it matched: 0, 12 when it
    // did not, 18 or 19 when the new file cannot be read back or written.
    int Finish(FILE* out);

private:
    IntegrityCheck m_check;
    DigestFollower m_follower;
};
