#include "common/string_list.h"

#include "frame/wcx.h"
#include "platform/platform.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

StringList::StringList() : buffer(nullptr), cursor(nullptr), count(0), size(1), m_room(1) {
    buffer = static_cast<char*>(std::calloc(1, 1));
    if (!buffer) throw static_cast<int>(E_NO_MEMORY);
    cursor = buffer;
}

StringList::StringList(const char* multiString)
    : buffer(nullptr), cursor(nullptr), count(0), size(1), m_room(1) {
    if (!multiString || !*multiString) {
        buffer = static_cast<char*>(std::calloc(1, 1));
        if (!buffer) throw static_cast<int>(E_NO_MEMORY);
        cursor = buffer;
        return;
    }
    const char* p = multiString;
    while (*p) p += std::strlen(p) + 1;
    size_t bytes = static_cast<size_t>(p - multiString) + 1;
    buffer = static_cast<char*>(std::malloc(bytes));
    if (!buffer) throw static_cast<int>(E_NO_MEMORY);
    std::memcpy(buffer, multiString, bytes);
    m_room = bytes;
    Recount();
}

StringList::~StringList() { Release(); }

void StringList::Release() {
    std::free(buffer);
    buffer = nullptr;
    cursor = nullptr;
    count = 0;
    size = 0;
    m_room = 0;
}

void StringList::Recount() {
    if (!buffer) return;
    cursor = buffer;
    count = 0;
    size = 0;
    while (*cursor) {
        int n = static_cast<int>(std::strlen(cursor));
        size += n + 1;
        cursor += n + 1;
        ++count;
    }
    size += 1;
}

char* StringList::Next() {
    if (!cursor || !*cursor) return nullptr;
    cursor += std::strlen(cursor) + 1;
    return *cursor ? cursor : nullptr;
}

int StringList::Add(const char* s) {
    if (!s || !*s) return -1;
    if (!buffer) {
        buffer = static_cast<char*>(std::calloc(1, 1));
        if (!buffer) return E_NO_MEMORY;
        size = 1;
        count = 0;
        m_room = 1;
    }
    // The block only changes through these operations, so size and count are exact and
    // adding needs no walk over the list; room grows by doubling, so building a list of
    // tens of thousands of names stays linear.
    int n = static_cast<int>(std::strlen(s));
    size_t needed = static_cast<size_t>(size) + static_cast<size_t>(n) + 1;
    if (needed > m_room) {
        size_t room = std::max(needed, m_room * 2);
        char* grown = static_cast<char*>(std::realloc(buffer, room));
        if (!grown) return E_NO_MEMORY;
        buffer = grown;
        m_room = room;
    }
    std::memcpy(buffer + size - 1, s, static_cast<size_t>(n) + 1);
    buffer[size + n] = 0;
    size += n + 1;
    count += 1;
    cursor = buffer + size - 1;
    return count;
}

bool StringList::Find(const char* s, bool ignoreCase) {
    if (!s || !*s || !buffer || !*buffer) return false;
    for (cursor = buffer; *cursor; cursor += std::strlen(cursor) + 1) {
        bool equal = ignoreCase ? platform::CompareNoCase(cursor, s) == 0 : std::strcmp(cursor, s) == 0;
        if (equal) return true;
    }
    return false;
}

void StringList::Sort(bool descending) {
    if (count < 2 || !buffer) return;
    std::vector<const char*> items;
    try {
        items.reserve(static_cast<size_t>(count));
    } catch (...) {
        return;
    }
    for (const char* p = buffer; *p; p += std::strlen(p) + 1) items.push_back(p);
    char* sorted = static_cast<char*>(std::calloc(static_cast<size_t>(size), 1));
    if (!sorted) return;
    {
        platform::CollationScope scope;
        std::sort(items.begin(), items.end(),
                  [](const char* a, const char* b) { return platform::CollateNoCase(a, b) < 0; });
    }
    if (descending) std::reverse(items.begin(), items.end());
    char* out = sorted;
    for (const char* s : items) {
        size_t n = std::strlen(s) + 1;
        std::memcpy(out, s, n);
        out += n;
    }
    std::free(buffer);
    buffer = sorted;
    m_room = static_cast<size_t>(size);
    cursor = buffer + size - 1;
}
