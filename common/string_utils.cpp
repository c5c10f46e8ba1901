#include "common/string_utils.h"

#include "platform/platform.h"

#include <climits>
#include <cstdlib>
#include <cstring>

char* ReadZString(FILE* file, bool* terminated) {
    if (terminated) *terminated = false;
    if (!file) return nullptr;
    // Collected in one pass: seeking back to read the bytes again would throw away the
    // stream's buffer for every string, which dominates reading a header of many names.
    char small[256];
    char* bytes = small;
    size_t length = 0, room = sizeof small;
    bool sawZero = false;
    for (int c; (c = std::getc(file)) != EOF;) {
        if (length + 1 >= room) {
            size_t grown = room * 2;
            char* bigger = static_cast<char*>(bytes == small ? std::malloc(grown) : std::realloc(bytes, grown));
            if (!bigger) {
                if (bytes != small) std::free(bytes);
                return nullptr;
            }
            if (bytes == small) std::memcpy(bigger, small, length);
            bytes = bigger;
            room = grown;
        }
        bytes[length++] = static_cast<char>(c);
        if (c == 0) {
            sawZero = true;
            break;
        }
    }
    if (length == 0) {
        if (bytes != small) std::free(bytes);
        return nullptr;
    }
    // Room for a terminator even when the file ended first, so callers never run off the end.
    char* s = static_cast<char*>(std::malloc(length + 1));
    if (s) {
        std::memcpy(s, bytes, length);
        s[length] = 0;
        if (terminated) *terminated = sawZero;
    }
    if (bytes != small) std::free(bytes);
    return s;
}

char* DuplicateString(const char* s) {
    if (!s) return nullptr;
    size_t n = std::strlen(s) + 1;
    char* copy = static_cast<char*>(std::malloc(n));
    if (copy) std::memcpy(copy, s, n);
    return copy;
}

char* ConcatStrings(const char* a, const char* b) {
    if (!a && !b) return nullptr;
    if (!a) return DuplicateString(b);
    if (!b) return DuplicateString(a);
    size_t na = std::strlen(a), nb = std::strlen(b);
    char* s = static_cast<char*>(std::malloc(na + nb + 1));
    if (!s) return nullptr;
    std::memcpy(s, a, na);
    std::memcpy(s + na, b, nb + 1);
    return s;
}

char* ReplaceAll(char* source, const char* find, const char* replacement, bool consume) {
    auto unchanged = [&]() { return consume ? source : DuplicateString(source); };
    if (!source || !*source || !find || !*find) return unchanged();
    size_t sourceLen = std::strlen(source), findLen = std::strlen(find);
    size_t replLen = replacement ? std::strlen(replacement) : 0;
    size_t matches = 0;
    for (size_t i = 0; i + findLen <= sourceLen;) {
        if (std::memcmp(source + i, find, findLen) == 0) {
            ++matches;
            i += findLen;
        } else {
            ++i;
        }
    }
    if (matches == 0) return unchanged();
    size_t newLen = sourceLen + matches * replLen - matches * findLen;
    char* result = static_cast<char*>(std::calloc(newLen + 1, 1));
    if (!result) return nullptr;
    char* out = result;
    size_t left = matches;
    for (size_t i = 0; i < sourceLen;) {
        if (left > 0 && i + findLen <= sourceLen && std::memcmp(source + i, find, findLen) == 0) {
            if (replLen) std::memcpy(out, replacement, replLen);
            out += replLen;
            i += findLen;
            --left;
        } else {
            *out++ = source[i++];
        }
    }
    if (consume) std::free(source);
    return result;
}

int CompareBytes(const void* a, const void* b, int n) {
    const unsigned char* x = static_cast<const unsigned char*>(a);
    const unsigned char* y = static_cast<const unsigned char*>(b);
    int i = 0;
    do {
        if (x[i] != y[i]) return -1;
    } while (++i < n);
    return 0;
}

const char* FindFileName(const char* path) {
    if (!path || !*path) return nullptr;
    size_t n = std::strlen(path);
    // A single trailing separator belongs to the last component.
    size_t searchEnd = platform::IsSeparator(path[n - 1]) ? n - 1 : n;
    for (size_t i = searchEnd; i > 0; --i)
        if (platform::IsSeparator(path[i - 1])) return path + i;
    return path;
}

const char* FindExtension(const char* name) {
    if (!name || !*name) return name;
    const char* end = name + std::strlen(name);
    for (const char* p = end - 1; p > name; --p) {
        if (platform::IsSeparator(*p)) return end;
        if (*p == '.') return p + 1;
    }
    return end;
}

int32_t GetOpenFileSize(FILE* file) {
    int64_t n = platform::OpenFileLength(file);
    // Sizes travel as i32; a file beyond that range cannot be measured here.
    if (n < 0 || n > INT32_MAX) return -1;
    return static_cast<int32_t>(n);
}

uint32_t MakeDosDateTime(int64_t time) {
    struct tm t;
    if (!platform::ToLocalTime(time, &t)) return 0;
    uint32_t year = static_cast<uint32_t>(t.tm_year + 1900 - 1980) & 0x7F;
    return (static_cast<uint32_t>(t.tm_sec) / 2) | (static_cast<uint32_t>(t.tm_min) << 5) |
           (static_cast<uint32_t>(t.tm_hour) << 11) | (static_cast<uint32_t>(t.tm_mday) << 16) |
           (static_cast<uint32_t>(t.tm_mon + 1) << 21) | (year << 25);
}

int32_t MakeHostFileTime(int64_t time) {
    // Archives hold unsigned 32-bit seconds; the field keeps their bits, so that a host
    // reading it unsigned sees dates after 2038 too.
    if (platform::HostTimeIsUnixSeconds()) return static_cast<int32_t>(static_cast<uint32_t>(time));
    return static_cast<int32_t>(MakeDosDateTime(time));
}
