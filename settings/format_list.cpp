#include "settings/format_list.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

bool IsSeparator(char c) { return c == ',' || c == ';'; }

} // namespace

StringList* ParseFormatList(const char* text) {
    if (!text) return nullptr;
    size_t length = std::strlen(text);
    // Two spare zero bytes close the last item and the multi-string.
    char* block = static_cast<char*>(std::calloc(length + 2, 1));
    if (!block) return nullptr;
    char* out = block;
    bool atItemStart = true;
    for (const char* in = text; *in; ++in) {
        if (IsSeparator(*in)) {
            if (!atItemStart) *out++ = 0;
            atItemStart = true;
        } else {
            *out++ = *in;
            atItemStart = false;
        }
    }
    StringList* list = nullptr;
    try {
        list = new (std::nothrow) StringList(block);
    } catch (int) {
        list = nullptr;
    }
    std::free(block);
    return list;
}

char* JoinFormatList(const StringList& list) {
    size_t total = 0;
    const char* items = list.buffer;
    if (items)
        for (const char* p = items; *p; p += std::strlen(p) + 1) total += std::strlen(p) + 1;
    // total counts one separator or terminator per item, so it is exactly the joined size.
    char* joined = static_cast<char*>(std::malloc(total ? total : 1));
    if (!joined) return nullptr;
    char* out = joined;
    if (items) {
        for (const char* p = items; *p; p += std::strlen(p) + 1) {
            if (out != joined) *out++ = ',';
            size_t n = std::strlen(p);
            std::memcpy(out, p, n);
            out += n;
        }
    }
    *out = 0;
    return joined;
}
