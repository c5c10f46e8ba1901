#include "archive/integrity_block.h"

#include <cstring>
#include <vector>

#include "common/file_io.h"
#include "common/sha1.h"
#include "frame/wcx.h"
#include "platform/platform.h"

namespace {

// Large enough that a gigabyte costs a thousand reads, small enough for any address space.
constexpr size_t kDigestReadSize = 1 << 20;

// The digest of the first `count` bytes of the file.
int DigestOf(FILE* file, uint64_t count, Sha1Digest* digest) {
    if (!platform::SeekFile(file, 0)) return E_EREAD;
    std::vector<unsigned char> buffer;
    try {
        buffer.resize(kDigestReadSize);
    } catch (...) {
        return E_NO_MEMORY;
    }
    Sha1 sha;
    while (count > 0) {
        size_t want = count < buffer.size() ? static_cast<size_t>(count) : buffer.size();
        size_t n = ReadUpTo(file, buffer.data(), want);
        if (n != want) return E_EREAD;
        sha.Update(buffer.data(), n);
        count -= n;
    }
    *digest = sha.Final();
    return E_SUCCESS;
}

} // namespace

int ReadIntegrityState(FILE* archive, uint64_t dataEnd, IntegrityState* state) {
    *state = IntegrityState::None;
    int64_t length = platform::OpenFileLength(archive);
    if (length < 0) return E_EREAD;
    if (static_cast<uint64_t>(length) != dataEnd + kIntegrityBlockSize) return E_SUCCESS;
    unsigned char block[kIntegrityBlockSize];
    if (!platform::SeekFile(archive, static_cast<int64_t>(dataEnd)) ||
        ReadUpTo(archive, block, sizeof block) != sizeof block)
        return E_EREAD;
    if (block[0] != 0) return E_SUCCESS;
    Sha1Digest digest;
    if (int r = DigestOf(archive, dataEnd, &digest)) return r;
    *state = std::memcmp(digest.data(), block + 1, digest.size()) == 0 ? IntegrityState::Valid
                                                                         : IntegrityState::Mismatch;
    return E_SUCCESS;
}

int AppendIntegrityBlock(FILE* file) {
    if (std::fflush(file) != 0) return E_EWRITE;
    int64_t length = platform::OpenFileLength(file);
    if (length < 0) return E_EREAD;
    unsigned char block[kIntegrityBlockSize] = {0};
    Sha1Digest digest;
    if (int r = DigestOf(file, static_cast<uint64_t>(length), &digest)) return r;
    std::memcpy(block + 1, digest.data(), digest.size());
    // A stream that was read must be positioned before it is written again.
    if (!platform::SeekFile(file, length) || !WriteFully(file, block, sizeof block)) return E_EWRITE;
    return E_SUCCESS;
}
