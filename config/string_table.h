// The first-game layout stores each distinct string once, where it first occurs; later
// occurrences refer to it by its index in the order of first appearance.
#pragma once

#include <cstdint>

class CStringTable {
public:
    CStringTable() = default;
    ~CStringTable() { Clear(); }
    CStringTable(const CStringTable&) = delete;
    CStringTable& operator=(const CStringTable&) = delete;

    // Takes ownership of s (a std::malloc block) and stores it at index count; returns that
    // index, or -1 when the table cannot grow (s is then freed).
    int32_t Add(char* s);
    // The string at index, or null outside 0 .. count - 1.
    const char* At(int32_t index) const { return index >= 0 && index < count ? strings[index] : nullptr; }
    int32_t Count() const { return count; }
    // Frees every string and the slots.
    void Clear();

private:
    char** strings = nullptr;
    int32_t capacity = 0; // 0 before the first string, then 32, doubled when full
    int32_t count = 0;
};
