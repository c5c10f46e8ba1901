// A configuration read from text, before it is laid out in either binary layout. Entries
// are kept in text order as one flat list: each class's entries and each array's elements
// follow right behind it, and `end` says where its contents stop. Both layouts write most
// of it in that very order; only the second-game layout moves class bodies elsewhere.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Nesting of classes and arrays that a decode follows before it calls the file bad data,
// and that the parser accepts. Real configurations nest a handful of levels; the bound
// keeps recursion, and the indentation that grows with it, small whatever a file claims.
constexpr int32_t kMaxConfigDepth = 256;

// Text held by the document: a stretch of the parsed text, or of the document's own pool
// for strings whose doubled quotes were made single.
struct ConfigTextRef {
    uint32_t offset = 0;
    uint32_t length = 0; // the top bit marks a stretch of the pool
};

struct ConfigNode {
    enum Kind : uint8_t {
        kClass,       // name, base (empty: none), count entries follow
        kExternal,    // name: a class declared elsewhere
        kDelete,      // name: an inherited member removed
        kValue,       // name and a scalar
        kArray,       // name, count elements follow
        kElement,     // a scalar inside an array
        kNestedArray, // count elements follow
    };
    enum Scalar : uint8_t { kString, kFloat, kInt };

    Kind kind = kValue;
    Scalar scalar = kInt;
    ConfigTextRef name;
    ConfigTextRef text; // a class's base, or a string scalar
    union {
        float f;
        int32_t i = 0;
    };
    uint32_t count = 0; // entries of a class, elements of an array
    uint32_t end = 0;   // index just past the node's contents
};

struct ConfigConstant {
    ConfigTextRef name;
    int32_t value = 0;
};

struct ConfigDocument {
    const char* source = nullptr; // the parsed text, which must outlive the document
    std::string pool;
    std::vector<ConfigNode> nodes; // the root's entries and everything inside them
    uint32_t rootCount = 0;
    std::vector<ConfigConstant> constants;

    std::string_view View(ConfigTextRef ref) const {
        constexpr uint32_t kPoolBit = 0x80000000u;
        const char* base = (ref.length & kPoolBit) ? pool.data() : source;
        return std::string_view(base + ref.offset, ref.length & ~kPoolBit);
    }
};
