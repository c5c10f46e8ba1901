#include "config/string_table.h"

#include <climits>
#include <cstdlib>

int32_t CStringTable::Add(char* s) {
    if (count == capacity) {
        int64_t grown = capacity == 0 ? 32 : static_cast<int64_t>(capacity) * 2;
        if (grown > INT32_MAX) {
            std::free(s);
            return -1;
        }
        char** slots = static_cast<char**>(std::realloc(strings, static_cast<size_t>(grown) * sizeof(char*)));
        if (!slots) {
            std::free(s);
            return -1;
        }
        strings = slots;
        capacity = static_cast<int32_t>(grown);
    }
    strings[count] = s;
    return count++;
}

void CStringTable::Clear() {
    for (int32_t i = 0; i < count; ++i) std::free(strings[i]);
    std::free(strings);
    strings = nullptr;
    capacity = 0;
    count = 0;
}
