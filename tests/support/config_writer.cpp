#include "tests/support/config_writer.h"

#include <cstring>
#include <map>
#include <stdexcept>
#include <utility>

#include "tests/support/temp_dir.h"

namespace cfg {

namespace {

constexpr uint32_t kMagic = 0x50617200;

void PutU32(Bytes& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void PutI32(Bytes& out, int32_t v) { PutU32(out, static_cast<uint32_t>(v)); }

void PutFloat(Bytes& out, float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    PutU32(out, bits);
}

void PutString(Bytes& out, const std::string& s) {
    out.insert(out.end(), s.begin(), s.end());
    out.push_back(0);
}

void PutCount(Bytes& out, size_t actual, int64_t override) {
    Bytes c = CompressedInt(override >= 0 ? static_cast<uint32_t>(override) : static_cast<uint32_t>(actual));
    out.insert(out.end(), c.begin(), c.end());
}

void Append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }

void PatchU32(Bytes& out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

uint8_t SubtypeOf(const Element& e) {
    switch (e.kind) {
    case Element::kString: return 0;
    case Element::kFloat: return 1;
    case Element::kInt: return 2;
    default: throw std::invalid_argument("a value holds a string, float or int");
    }
}

Bytes ConstantsTable(const std::vector<Constant>& constants, int64_t countOverride) {
    Bytes out;
    PutI32(out, countOverride != INT64_MIN ? static_cast<int32_t>(countOverride)
                                           : static_cast<int32_t>(constants.size()));
    for (const Constant& c : constants) {
        PutString(out, c.name);
        PutI32(out, c.value);
    }
    return out;
}

// Strings are written inline; the caller decides how (plain or through the string table).
template <typename PutText>
void PutElements(Bytes& out, const std::vector<Element>& items, PutText putText) {
    for (const Element& e : items) {
        switch (e.kind) {
        case Element::kString:
            out.push_back(0);
            putText(out, e.text);
            break;
        case Element::kFloat:
            out.push_back(1);
            PutFloat(out, e.f);
            break;
        case Element::kInt:
            out.push_back(2);
            PutI32(out, e.i);
            break;
        case Element::kArray:
            out.push_back(3);
            PutCount(out, e.items.size(), e.countOverride);
            PutElements(out, e.items, putText);
            break;
        case Element::kRaw: Append(out, e.raw); break;
        }
    }
}

// Second-game layout: each class body is a separate blob; class entries hold the absolute
// offset of their body, patched in once every blob has its place.
class TeskWriter {
public:
    struct Blob {
        Bytes bytes;
        std::vector<std::pair<size_t, int>> fixups; // offset field position -> body index
    };

    explicit TeskWriter(bool subtreeEnds) : m_subtreeEnds(subtreeEnds) {}

    int Serialize(const ClassBody& body) {
        int index = static_cast<int>(m_blobs.size());
        m_blobs.emplace_back();
        m_lastInSubtree.push_back(index);
        Blob blob;
        PutString(blob.bytes, body.base);
        PutCount(blob.bytes, body.entries.size(), body.countOverride);
        for (const Entry& e : body.entries) {
            switch (e.kind) {
            case Entry::kClass: {
                blob.bytes.push_back(0);
                PutString(blob.bytes, e.name);
                size_t at = blob.bytes.size();
                PutU32(blob.bytes, 0);
                blob.fixups.emplace_back(at, e.bodyRef >= 0 ? e.bodyRef : Serialize(e.body));
                break;
            }
            case Entry::kValue:
                blob.bytes.push_back(1);
                blob.bytes.push_back(e.valueSubtypeOverride >= 0 ? static_cast<uint8_t>(e.valueSubtypeOverride)
                                                                 : SubtypeOf(e.value));
                PutString(blob.bytes, e.name);
                if (e.value.kind == Element::kString) PutString(blob.bytes, e.value.text);
                else if (e.value.kind == Element::kFloat) PutFloat(blob.bytes, e.value.f);
                else PutI32(blob.bytes, e.value.i);
                break;
            case Entry::kArray:
                blob.bytes.push_back(2);
                PutString(blob.bytes, e.name);
                PutCount(blob.bytes, e.elements.size(), e.countOverride);
                PutElements(blob.bytes, e.elements, PutString);
                break;
            case Entry::kExternal:
                blob.bytes.push_back(3);
                PutString(blob.bytes, e.name);
                break;
            case Entry::kDelete:
                blob.bytes.push_back(4);
                PutString(blob.bytes, e.name);
                break;
            case Entry::kRaw: Append(blob.bytes, e.raw); break;
            }
        }
        if (m_subtreeEnds) PutU32(blob.bytes, 0);
        m_blobs[static_cast<size_t>(index)] = std::move(blob);
        m_lastInSubtree[static_cast<size_t>(index)] = static_cast<int>(m_blobs.size()) - 1;
        return index;
    }

    Bytes Write(const ConfigDescription& config, const TeskLayout& layout) {
        Serialize(config.root);
        Bytes constants = ConstantsTable(config.constants, layout.constantsCountOverride);
        std::vector<int64_t> position(m_blobs.size(), 0);
        Bytes body; // everything from offset 16 on
        int64_t constantsAt = 0;
        auto place = [&](int index) {
            position[static_cast<size_t>(index)] = 16 + static_cast<int64_t>(body.size());
            Append(body, m_blobs[static_cast<size_t>(index)].bytes);
        };
        auto placeConstants = [&]() {
            constantsAt = 16 + static_cast<int64_t>(body.size());
            Append(body, constants);
        };
        int nested = static_cast<int>(m_blobs.size()) - 1;
        bool before = layout.constantsFirst || layout.extraDistance > 0 ||
                      (layout.order == BodyOrder::kBeforeRoot && nested > 0);
        if (before) {
            body.push_back(layout.byte16);
            body.insert(body.end(), layout.extraDistance, 0);
            if (layout.constantsFirst) placeConstants();
            if (layout.order == BodyOrder::kBeforeRoot)
                for (int i = 1; i <= nested; ++i) place(i);
        }
        place(0);
        if (!before) body[0] = layout.byte16 ? layout.byte16 : body[0];
        if (layout.order == BodyOrder::kAfterRoot)
            for (int i = 1; i <= nested; ++i) place(i);
        if (layout.order == BodyOrder::kReversed)
            for (int i = nested; i >= 1; --i) place(i);
        if (!layout.constantsFirst) placeConstants();
        Append(body, layout.trailing);
        for (size_t b = 0; b < m_blobs.size(); ++b)
            for (const auto& fix : m_blobs[b].fixups)
                PatchU32(body, static_cast<size_t>(position[b] - 16) + fix.first,
                         static_cast<uint32_t>(position[static_cast<size_t>(fix.second)]));
        for (size_t b = 0; m_subtreeEnds && b < m_blobs.size(); ++b) {
            size_t last = static_cast<size_t>(m_lastInSubtree[b]);
            PatchU32(body, static_cast<size_t>(position[b] - 16) + m_blobs[b].bytes.size() - 4,
                     static_cast<uint32_t>(position[last] + static_cast<int64_t>(m_blobs[last].bytes.size())));
        }
        Bytes out;
        PutU32(out, kMagic);
        PutU32(out, layout.variantField);
        PutU32(out, static_cast<uint32_t>(position[0] - 8));
        PutU32(out, static_cast<uint32_t>(layout.constantsOffsetOverride >= 0 ? layout.constantsOffsetOverride
                                                                                : constantsAt));
        Append(out, body);
        return out;
    }

private:
    bool m_subtreeEnds;
    std::vector<Blob> m_blobs;
    std::vector<int> m_lastInSubtree; // by body: the last body of its depth-first subtree
};

// First-game layout: one forward pass; a string is written inline at its first use and by
// index afterwards.
class KyrWriter {
public:
    Bytes Write(const ConfigDescription& config, const KyrLayout& layout) {
        PutU32(m_out, kMagic);
        PutU32(m_out, layout.variantField);
        PutRef(m_out, config.rootName);
        m_out.push_back(layout.rootBaseByte);
        PutCount(m_out, config.root.entries.size(), config.root.countOverride);
        PutEntries(config.root.entries);
        if (layout.withConstants) Append(m_out, ConstantsTable(config.constants, layout.constantsCountOverride));
        Append(m_out, layout.trailing);
        return m_out;
    }

private:
    void PutRef(Bytes& out, const std::string& s) {
        auto found = m_table.find(s);
        if (found != m_table.end()) {
            Append(out, CompressedInt(found->second));
            return;
        }
        uint32_t index = static_cast<uint32_t>(m_table.size());
        m_table.emplace(s, index);
        Append(out, CompressedInt(index));
        PutString(out, s);
    }

    void PutEntries(const std::vector<Entry>& entries) {
        auto putRef = [this](Bytes& out, const std::string& s) { PutRef(out, s); };
        for (const Entry& e : entries) {
            switch (e.kind) {
            case Entry::kClass:
                m_out.push_back(0);
                PutRef(m_out, e.name);
                PutString(m_out, e.body.base);
                PutCount(m_out, e.body.entries.size(), e.body.countOverride);
                PutEntries(e.body.entries);
                break;
            case Entry::kValue:
                m_out.push_back(1);
                m_out.push_back(e.valueSubtypeOverride >= 0 ? static_cast<uint8_t>(e.valueSubtypeOverride)
                                                            : SubtypeOf(e.value));
                PutRef(m_out, e.name);
                if (e.value.kind == Element::kString) PutRef(m_out, e.value.text);
                else if (e.value.kind == Element::kFloat) PutFloat(m_out, e.value.f);
                else PutI32(m_out, e.value.i);
                break;
            case Entry::kArray:
                m_out.push_back(2);
                PutRef(m_out, e.name);
                PutCount(m_out, e.elements.size(), e.countOverride);
                PutElements(m_out, e.elements, putRef);
                break;
            case Entry::kExternal: throw std::invalid_argument("the first-game layout has no external classes");
            case Entry::kDelete: throw std::invalid_argument("the first-game layout has no delete entries");
            case Entry::kRaw: Append(m_out, e.raw); break;
            }
        }
    }

    Bytes m_out;
    std::map<std::string, uint32_t> m_table;
};

} // namespace

Bytes CompressedInt(uint32_t value) {
    if (value >= (1u << 29)) throw std::invalid_argument("compressed integers hold 29 bits");
    Bytes out;
    for (int i = 0; i < 3 && value >= 0x80; ++i) {
        out.push_back(static_cast<uint8_t>(0x80 | (value & 0x7F)));
        value >>= 7;
    }
    out.push_back(static_cast<uint8_t>(value));
    return out;
}

Bytes WriteTeskConfig(const ConfigDescription& config, const TeskLayout& layout) {
    return TeskWriter(layout.subtreeEnds).Write(config, layout);
}

Bytes WriteKyrConfig(const ConfigDescription& config, const KyrLayout& layout) {
    return KyrWriter().Write(config, layout);
}

void SaveConfig(const std::string& path, const Bytes& bytes) { WriteFileBytes(path, bytes); }

Element Str(const std::string& text) {
    Element e;
    e.kind = Element::kString;
    e.text = text;
    return e;
}

Element Flt(float value) {
    Element e;
    e.kind = Element::kFloat;
    e.f = value;
    return e;
}

Element Num(int32_t value) {
    Element e;
    e.kind = Element::kInt;
    e.i = value;
    return e;
}

Element Arr(std::vector<Element> items) {
    Element e;
    e.kind = Element::kArray;
    e.items = std::move(items);
    return e;
}

Element RawElement(Bytes raw) {
    Element e;
    e.kind = Element::kRaw;
    e.raw = std::move(raw);
    return e;
}

Entry StringValue(const std::string& name, const std::string& text) {
    Entry e;
    e.kind = Entry::kValue;
    e.name = name;
    e.value = Str(text);
    return e;
}

Entry FloatValue(const std::string& name, float value) {
    Entry e;
    e.kind = Entry::kValue;
    e.name = name;
    e.value = Flt(value);
    return e;
}

Entry IntValue(const std::string& name, int32_t value) {
    Entry e;
    e.kind = Entry::kValue;
    e.name = name;
    e.value = Num(value);
    return e;
}

Entry ArrayEntry(const std::string& name, std::vector<Element> elements) {
    Entry e;
    e.kind = Entry::kArray;
    e.name = name;
    e.elements = std::move(elements);
    return e;
}

Entry ClassEntry(const std::string& name, const std::string& base, std::vector<Entry> entries) {
    Entry e;
    e.kind = Entry::kClass;
    e.name = name;
    e.body.base = base;
    e.body.entries = std::move(entries);
    return e;
}

Entry ExternalClass(const std::string& name) {
    Entry e;
    e.kind = Entry::kExternal;
    e.name = name;
    return e;
}

Entry DeleteEntry(const std::string& name) {
    Entry e;
    e.kind = Entry::kDelete;
    e.name = name;
    return e;
}

Entry RawEntry(Bytes raw) {
    Entry e;
    e.kind = Entry::kRaw;
    e.raw = std::move(raw);
    return e;
}

} // namespace cfg
