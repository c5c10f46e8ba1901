#include "common/text_line.h"

#include <cstdlib>
#include <cstring>

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

} // namespace

char* ReadTextLine(FILE* file, bool trim, bool* outOfMemory) {
    if (outOfMemory) *outOfMemory = false;
    if (!file) return nullptr;
    long start = std::ftell(file);
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
    if (std::fseek(file, start, SEEK_SET) != 0 || std::fread(text, 1, length, file) != length) {
        std::free(text);
        return nullptr;
    }
    text[length] = 0;
    // A lone CR ends the text but not the line: the line runs on to the next LF.
    c = std::fgetc(file);
    while (c != EOF && c != '\n') c = std::fgetc(file);
    return trim ? TrimBlanks(text) : text;
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
