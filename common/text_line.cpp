#include "common/text_line.h"

#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

} // namespace

char* ReadTextLine(FILE* file, bool trim, bool* outOfMemory) {
    if (outOfMemory) *outOfMemory = false;
    if (!file) return nullptr;
    int64_t start = platform::TellFile(file);
    if (start < 0) return nullptr;
    int c = std::fgetc(file);
    if (c == EOF) return nullptr;
    size_t length = 0;
    while (c != EOF && c != '\r' && c != '\n') {
        ++length;
        c = std::fgetc(file);
    }
    char* text = static_cast<char*>(std::malloc(length + 1));
    if (!text) {
        if (outOfMemory) *outOfMemory = true;
        return nullptr;
    }
    if (!platform::SeekFile(file, start) || std::fread(text, 1, length, file) != length) {
        std::free(text);
        return nullptr;
    }
    text[length] = 0;
    // A lone CR ends the text but not the line: the line runs on to the next LF.
    c = std::fgetc(file);
    while (c != EOF && c != '\n') c = std::fgetc(file);
    return trim ? TrimBlanks(text) : text;
}

char* ReadStoredLine(FILE* file, char** stored, size_t* storedSize, bool* failed) {
    *stored = nullptr;
    *storedSize = 0;
    *failed = true;
    if (!file) return nullptr;
    int64_t start = platform::TellFile(file);
    if (start < 0) return nullptr;
    bool outOfMemory = false;
    char* text = ReadTextLine(file, false, &outOfMemory);
    if (!text) {
        // ReadTextLine only returns null at the end of the file after a read there has failed;
        // any other null (a failed seek or re-read) leaves the end-of-file indicator clear.
        *failed = outOfMemory || !std::feof(file) || std::ferror(file);
        return nullptr;
    }
    int64_t end = platform::TellFile(file);
    size_t size = end > start ? static_cast<size_t>(end - start) : 0;
    char* bytes = size > 0 ? static_cast<char*>(std::malloc(size)) : nullptr;
    if (!bytes || !platform::SeekFile(file, start) || std::fread(bytes, 1, size, file) != size) {
        std::free(bytes);
        std::free(text);
        return nullptr;
    }
    *stored = bytes;
    *storedSize = size;
    *failed = false;
    return text;
}

char* TrimBlanks(char* text) {
    if (!text) return text;
    char* first = text;
    while (IsBlank(*first)) ++first;
    size_t length = std::strlen(first);
    while (length > 0 && IsBlank(first[length - 1])) --length;
    std::memmove(text, first, length);
    text[length] = 0;
    return text;
}

char* RemoveBlanks(char* text) {
    if (!text) return text;
    char* out = text;
    for (const char* in = text; *in; ++in)
        if (!IsBlank(*in)) *out++ = *in;
    *out = 0;
    return text;
}
