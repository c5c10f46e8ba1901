// The one test helper that writes binarized configuration files, in either game's layout,
// from a description of their classes, values, arrays and constants. Raw pieces and
// overrides let a test plant exactly the fault it is about.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cfg {

using Bytes = std::vector<uint8_t>;

struct Element {
    enum Kind { kString, kFloat, kInt, kArray, kRaw } kind = kInt;
    std::string text;
    float f = 0;
    int32_t i = 0;
    std::vector<Element> items;
    int32_t countOverride = -1; // a nested array's written element count, when >= 0
    Bytes raw;                  // kRaw: the whole element, type byte included
};

struct Entry;

struct ClassBody {
    std::string base;
    std::vector<Entry> entries;
    int32_t countOverride = -1; // written entry count, when >= 0
};

struct Entry {
    enum Kind { kClass, kValue, kArray, kExternal, kDelete, kRaw } kind = kValue;
    std::string name;
    Element value;                // kValue: a string, float or int element
    int valueSubtypeOverride = -1; // kValue: written subtype byte, when >= 0
    std::vector<Element> elements; // kArray
    int32_t countOverride = -1;    // kArray: written element count, when >= 0
    ClassBody body;                // kClass
    // Second-game layout: the class's body offset points at the body with this index
    // (0 the root, then the nested bodies in depth-first order of their entries) instead
    // of a body of its own, which is then not written.
    int bodyRef = -1;
    Bytes raw; // kRaw: the whole entry, type byte included
};

struct Constant {
    std::string name;
    int32_t value = 0;
};

struct ConfigDescription {
    std::string rootName; // first-game layout only
    ClassBody root;
    std::vector<Constant> constants;
};

// Where the second-game layout puts nested class bodies.
enum class BodyOrder {
    kAfterRoot,  // depth-first, after the root body
    kReversed,   // after the root body, last first
    kBeforeRoot, // between the header and the root body, before the entries naming them
};

struct TeskLayout {
    uint32_t variantField = 0;
    BodyOrder order = BodyOrder::kAfterRoot;
    bool constantsFirst = false;  // constants table before the root body instead of at the end
    uint32_t extraDistance = 0;   // filler bytes between offset 16 and the root body
    uint8_t byte16 = 0;           // the root's base-name byte the header check looks at
    int64_t constantsOffsetOverride = -1;
    int64_t constantsCountOverride = INT64_MIN;
    Bytes trailing;
    // After each body's entries, the offset just past its subtree (its body and all nested
    // ones), as the games' own files have it; meaningful with kAfterRoot.
    bool subtreeEnds = false;
};

struct KyrLayout {
    uint32_t variantField = 4;
    uint8_t rootBaseByte = 0;
    bool withConstants = false; // the table follows the root body only when there is one
    int64_t constantsCountOverride = INT64_MIN;
    Bytes trailing;
};

Bytes WriteTeskConfig(const ConfigDescription& config, const TeskLayout& layout = {});
Bytes WriteKyrConfig(const ConfigDescription& config, const KyrLayout& layout = {});

// Writes the bytes to a file (throws when it cannot).
void SaveConfig(const std::string& path, const Bytes& bytes);

// The 1 to 4 byte count and index encoding shared by both layouts.
Bytes CompressedInt(uint32_t value);

// Description builders.
Element Str(const std::string& text);
Element Flt(float value);
Element Num(int32_t value);
Element Arr(std::vector<Element> items);
Element RawElement(Bytes raw);

Entry StringValue(const std::string& name, const std::string& text);
Entry FloatValue(const std::string& name, float value);
Entry IntValue(const std::string& name, int32_t value);
Entry ArrayEntry(const std::string& name, std::vector<Element> elements);
Entry ClassEntry(const std::string& name, const std::string& base, std::vector<Entry> entries);
Entry ExternalClass(const std::string& name);
// Second-game layout only: removes the inherited member `name` (type 4).
Entry DeleteEntry(const std::string& name);
Entry RawEntry(Bytes raw);

} // namespace cfg
