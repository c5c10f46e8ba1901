#include "common/text_buffer.h"

#include "frame/wcx.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

void CTextBuffer::Init() {
    data = nullptr;
    capacity = 0;
    length = 0;
    Reserve(4096);
}

void CTextBuffer::Reset() {
    Release();
    Reserve(4096);
}

void CTextBuffer::Release() {
    std::free(data);
    data = nullptr;
    capacity = 0;
    length = 0;
}

int32_t CTextBuffer::Reserve(int32_t n) {
    if (n < 0) return 0;
    if (static_cast<int64_t>(capacity) >= static_cast<int64_t>(length) + n) return 0;
    if (!data) {
        data = static_cast<char*>(std::calloc(static_cast<size_t>(n) + 1, 1));
        if (!data) return -1;
        capacity = n;
        return n;
    }
    int64_t growth = static_cast<int64_t>(length) + n > 2 * static_cast<int64_t>(capacity)
                         ? static_cast<int64_t>(length) - capacity + n + 1
                         : static_cast<int64_t>(capacity) + 1;
    int64_t newSize = capacity + growth;
    // The content length is an i32; a buffer that would pass it cannot be addressed.
    if (newSize - 1 > INT32_MAX) return -1;
    char* grown = static_cast<char*>(std::realloc(data, static_cast<size_t>(newSize)));
    if (!grown) return -1;
    data = grown;
    std::memset(data + length, 0, static_cast<size_t>(newSize - length));
    capacity = static_cast<int32_t>(newSize - 1);
    return static_cast<int32_t>(growth);
}

int32_t CTextBuffer::Append(const char* text) {
    if (!text || !*text) return 0;
    size_t n = std::strlen(text);
    if (n > INT32_MAX || Reserve(static_cast<int32_t>(n)) < 0) return -1;
    std::memcpy(data + length, text, n + 1);
    length += static_cast<int32_t>(n);
    return static_cast<int32_t>(n);
}

int32_t CTextBuffer::AppendBytes(const void* bytes, int32_t n) {
    if (!bytes || n < 1) return 0;
    if (Reserve(n) < 0) return -1;
    std::memcpy(data + length, bytes, static_cast<size_t>(n));
    length += n;
    return n;
}

char* CTextBuffer::AppendRoom(int32_t n) {
    if (n < 0 || Reserve(n) < 0 || !data) return nullptr;
    return data + length;
}

void CTextBuffer::CommitAppend(int32_t n) {
    if (n > 0 && static_cast<int64_t>(length) + n <= capacity) length += n;
}

int32_t CTextBuffer::AppendNewLines(int32_t n) {
    int32_t result = 0;
    for (int32_t i = 0; i < n; ++i) result = AppendBytes("\r\n", 2);
    return result;
}

int32_t CTextBuffer::AppendRun(char fill, int32_t n) {
    if (n < 1) return 0;
    char* run = static_cast<char*>(std::malloc(static_cast<size_t>(n)));
    if (!run) return -1;
    std::memset(run, fill, static_cast<size_t>(n));
    int32_t result = AppendBytes(run, n);
    std::free(run);
    return result;
}

int32_t CTextBuffer::AppendTabs(int32_t n) { return AppendRun('\t', n); }

int32_t CTextBuffer::AppendSpaces(int32_t n) { return AppendRun(' ', n); }

int32_t CTextBuffer::AppendInt(int32_t value) {
    char text[16];
    int n = std::snprintf(text, sizeof text, "%d", value);
    if (n < 0) return -1;
    return AppendBytes(text, n) < 0 ? -1 : n;
}

int32_t CTextBuffer::AppendFloat(float value) {
    int n = std::snprintf(nullptr, 0, "%.6f", static_cast<double>(value));
    if (n < 0) return -1;
    char* text = static_cast<char*>(std::malloc(static_cast<size_t>(n) + 1));
    if (!text) return -1;
    std::snprintf(text, static_cast<size_t>(n) + 1, "%.6f", static_cast<double>(value));
    int32_t result = AppendBytes(text, n) < 0 ? -1 : n;
    std::free(text);
    return result;
}

void CTextBuffer::AppendQuoted(const char* text) {
    Append("\"");
    Append(text);
    Append("\"");
}

int CTextBuffer::WriteBytes(const char* path, const char* mode, int32_t offset, int32_t count) const {
    FILE* f = path ? platform::OpenFile(path, mode) : nullptr;
    if (!f) return E_ECREATE;
    int result = 0;
    if (count > 0 && std::fwrite(data + offset, 1, static_cast<size_t>(count), f) != static_cast<size_t>(count))
        result = E_EWRITE;
    if (std::fclose(f) != 0 && result == 0) result = E_EWRITE;
    return result;
}

int CTextBuffer::WriteToFile(const char* path) const { return WriteBytes(path, "wb", 0, length); }

int CTextBuffer::AppendToFile(const char* path) const { return WriteBytes(path, "ab", 0, length); }

int CTextBuffer::WriteRangeToFile(const char* path, int32_t offset, int32_t count) const {
    if (offset < 0 || count < 0 || static_cast<int64_t>(offset) + count > length) return E_EWRITE;
    return WriteBytes(path, "wb", offset, count);
}

void CTextBuffer::Finalize() {
    char* shrunk = static_cast<char*>(std::realloc(data, static_cast<size_t>(length) + 1));
    if (!shrunk) return;
    data = shrunk;
    data[length] = 0;
    capacity = length;
}
