#include "common/file_io.h"

#include <new>

#include "platform/platform.h"

namespace {

int g_countdown[static_cast<int>(IoFault::Count)] = {};

bool Faulted(IoFault kind) {
    int& n = g_countdown[static_cast<int>(kind)];
    if (n <= 0) return false;
    return --n == 0;
}

} // namespace

void InjectIoFault(IoFault kind, int nthCall) { g_countdown[static_cast<int>(kind)] = nthCall; }

void ClearIoFaults() {
    for (int& n : g_countdown) n = 0;
}

std::unique_ptr<char[]> GiveWriteBuffer(FILE* file) {
    constexpr size_t kBufferSize = 1 << 20;
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[kBufferSize]);
    if (buffer && std::setvbuf(file, buffer.get(), _IOFBF, kBufferSize) != 0) buffer.reset();
    return buffer;
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
