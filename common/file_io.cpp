#include "common/file_io.h"

#include <atomic>
#include <new>

#include "frame/wcx.h"
#include "platform/platform.h"

namespace {

int g_countdown[static_cast<int>(IoFault::Count)] = {};
bool g_refuseKernelCopies = false;
std::atomic<bool> g_refuseFileLocks{false};
// Changes of several archives may run at once, each on a host thread of its own.
std::atomic<uint64_t> g_kernelCopied{0};

bool Faulted(IoFault kind) {
    int& n = g_countdown[static_cast<int>(kind)];
    if (n <= 0) return false;
    return --n == 0;
}

} // namespace

void InjectIoFault(IoFault kind, int nthCall) { g_countdown[static_cast<int>(kind)] = nthCall; }

void ClearIoFaults() {
    for (int& n : g_countdown) n = 0;
    g_refuseKernelCopies = false;
    g_refuseFileLocks = false;
}

void RefuseFileLocks(bool refuse) { g_refuseFileLocks = refuse; }

platform::FileChangeLock::Attempt TakeFileLock(platform::FileChangeLock& lock, const char* path) {
    if (g_refuseFileLocks) return platform::FileChangeLock::kUnsupported;
    return lock.TryTake(path);
}

void RefuseKernelCopies(bool refuse) { g_refuseKernelCopies = refuse; }

uint64_t KernelCopiedBytes() { return g_kernelCopied; }

uint64_t CopyInKernel(FILE* in, uint64_t inOffset, FILE* out, uint64_t outOffset, uint64_t count) {
    if (g_refuseKernelCopies || g_countdown[static_cast<int>(IoFault::Read)] > 0 ||
        g_countdown[static_cast<int>(IoFault::Write)] > 0)
        return 0;
    if (Faulted(IoFault::KernelCopy)) count /= 2;
    uint64_t copied = platform::CopyFileRange(in, inOffset, out, outOffset, count);
    g_kernelCopied += copied;
    return copied;
}

std::unique_ptr<char[]> GiveWriteBuffer(FILE* file) {
    constexpr size_t kBufferSize = 1 << 20;
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[kBufferSize]);
    if (buffer && std::setvbuf(file, buffer.get(), _IOFBF, kBufferSize) != 0) buffer.reset();
    return buffer;
}

int ReadWholeFile(const char* path, std::vector<char>* out, uint64_t limit) {
    FILE* f = platform::OpenSharedRead(path);
    if (!f) return E_EOPEN;
    int64_t size = platform::OpenFileLength(f);
    if (size > 0 && static_cast<uint64_t>(size) <= limit) out->reserve(static_cast<size_t>(size));
    char buffer[65536];
    int result = E_SUCCESS;
    for (size_t n; result == E_SUCCESS && (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) {
        if (out->size() + n > limit) result = E_EREAD;
        else out->insert(out->end(), buffer, buffer + n);
    }
    if (std::ferror(f)) result = E_EREAD;
    std::fclose(f);
    return result;
}

bool WriteFully(FILE* file, const void* bytes, size_t n) {
    if (!file) return false;
    if (n == 0) return true;
    if (Faulted(IoFault::Write)) {
        std::fwrite(bytes, 1, n / 2, file);
        return false;
    }
    return std::fwrite(bytes, 1, n, file) == n;
}

size_t ReadUpTo(FILE* file, void* bytes, size_t n) {
    if (!file || n == 0) return 0;
    if (Faulted(IoFault::Read)) return 0;
    return std::fread(bytes, 1, n, file);
}

bool CloseWritten(FILE* file) { return file && std::fclose(file) == 0; }

bool ReplaceFile(const char* from, const char* to) {
    if (Faulted(IoFault::Replace)) return false;
    return platform::ReplaceFileAtomically(from, to);
}
