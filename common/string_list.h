// A list of names held as one multi-string block: consecutive NUL-terminated strings
// closed by an extra NUL, the layout of the host's add and delete lists.
#pragma once

#include <cstddef>
#include <cstdint>

class StringList {
public:
    StringList();                              // throws int 11 when out of memory
    explicit StringList(const char* multiString); // throws int 11 when out of memory
    ~StringList();
    StringList(const StringList&) = delete;
    StringList& operator=(const StringList&) = delete;

    void Release();
    void Recount();
    char* Next();
    int Add(const char* s);
    // Add, telling success apart from the failure code (which can equal a count).
    bool TryAdd(const char* s) {
        int before = count;
        Add(s);
        return count == before + 1;
    }
    bool Find(const char* s, bool ignoreCase);
    void Sort(bool descending);

    // Starts a walk: the current string is the first one.
    char* Rewind() { cursor = buffer; return buffer && *buffer ? buffer : nullptr; }

    char* buffer;
    char* cursor;
    int count;
    int size;

private:
    size_t m_room; // bytes allocated for buffer (at least size)
};
