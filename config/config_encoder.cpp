#include "config/config_encoder.h"

#include <cstring>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace {

constexpr uint32_t kMagic = 0x50617200;
constexpr uint32_t kKyrVariant = 4;
// The second-game header ends at 16, where the root body starts: a body distance of 8.
constexpr uint32_t kTeskRootDistance = 8;
// Offsets are read as signed 32-bit numbers.
constexpr size_t kMaxFileSize = 0x7FFFFFFF;

class ByteWriter {
public:
    explicit ByteWriter(std::vector<uint8_t>* out) : m_out(*out) {}

    void Byte(uint8_t b) { m_out.push_back(b); }
    void U32(uint32_t v) {
        uint8_t b[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
                        static_cast<uint8_t>(v >> 24)};
        m_out.insert(m_out.end(), b, b + 4);
    }
    void Float(float f) {
        uint32_t v;
        std::memcpy(&v, &f, sizeof v);
        U32(v);
    }
    void PatchU32(size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) m_out[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
    }
    void String(std::string_view s) {
        m_out.insert(m_out.end(), s.begin(), s.end());
        m_out.push_back(0);
    }
    // 7 bits a byte, low group first; the fourth byte holds the top 8 bits whole.
    void Count(uint32_t v) {
        for (int i = 0; i < 3 && v >= 0x80; ++i) {
            m_out.push_back(static_cast<uint8_t>(0x80 | (v & 0x7F)));
            v >>= 7;
        }
        m_out.push_back(static_cast<uint8_t>(v));
    }
    size_t Size() const { return m_out.size(); }

private:
    std::vector<uint8_t>& m_out;
};

uint8_t ScalarType(const ConfigNode& n) {
    return n.scalar == ConfigNode::kString ? 0 : n.scalar == ConfigNode::kFloat ? 1 : 2;
}

void Constants(const ConfigDocument& doc, ByteWriter& w) {
    w.U32(static_cast<uint32_t>(doc.constants.size()));
    for (const ConfigConstant& c : doc.constants) {
        w.String(doc.View(c.name));
        w.U32(static_cast<uint32_t>(c.value));
    }
}

class TeskEncoder {
public:
    TeskEncoder(const ConfigDocument& doc, ByteWriter& w) : m_doc(doc), m_w(w) {}

    void File() {
        m_w.U32(kMagic);
        m_w.U32(0);
        m_w.U32(kTeskRootDistance);
        m_w.U32(0); // the constants offset, known at the end
        Body(std::string_view(), 0, static_cast<uint32_t>(m_doc.nodes.size()), m_doc.rootCount);
        m_w.PatchU32(12, static_cast<uint32_t>(m_w.Size()));
        Constants(m_doc, m_w);
    }

private:
    // One class body, then the bodies of its nested classes (recursion as deep as the
    // parser lets classes nest).
    void Body(std::string_view base, uint32_t first, uint32_t end, uint32_t count) {
        m_w.String(base);
        m_w.Count(count);
        size_t pendingStart = m_pending.size();
        for (uint32_t i = first; i < end;) {
            const ConfigNode& n = m_doc.nodes[i];
            switch (n.kind) {
            case ConfigNode::kClass:
                m_w.Byte(0);
                m_w.String(m_doc.View(n.name));
                m_pending.emplace_back(m_w.Size(), i);
                m_w.U32(0);
                break;
            case ConfigNode::kValue:
                m_w.Byte(1);
                m_w.Byte(ScalarType(n));
                m_w.String(m_doc.View(n.name));
                Scalar(n);
                break;
            case ConfigNode::kArray:
                m_w.Byte(2);
                m_w.String(m_doc.View(n.name));
                m_w.Count(n.count);
                Elements(i + 1, n.end);
                break;
            case ConfigNode::kExternal:
                m_w.Byte(3);
                m_w.String(m_doc.View(n.name));
                break;
            case ConfigNode::kDelete:
                m_w.Byte(4);
                m_w.String(m_doc.View(n.name));
                break;
            default: break; // elements belong to arrays, which are skipped whole
            }
            i = n.end;
        }
        size_t subtreeEnd = m_w.Size();
        m_w.U32(0);
        for (size_t k = pendingStart; k < m_pending.size(); ++k) {
            std::pair<size_t, uint32_t> p = m_pending[k];
            m_w.PatchU32(p.first, static_cast<uint32_t>(m_w.Size()));
            const ConfigNode& c = m_doc.nodes[p.second];
            Body(m_doc.View(c.text), p.second + 1, c.end, c.count);
        }
        m_pending.resize(pendingStart);
        m_w.PatchU32(subtreeEnd, static_cast<uint32_t>(m_w.Size()));
    }

    // Elements and nested arrays lie in the order they are written.
    void Elements(uint32_t first, uint32_t end) {
        for (uint32_t i = first; i < end; ++i) {
            const ConfigNode& n = m_doc.nodes[i];
            if (n.kind == ConfigNode::kNestedArray) {
                m_w.Byte(3);
                m_w.Count(n.count);
            } else {
                m_w.Byte(ScalarType(n));
                Scalar(n);
            }
        }
    }

    void Scalar(const ConfigNode& n) {
        if (n.scalar == ConfigNode::kString) m_w.String(m_doc.View(n.text));
        else if (n.scalar == ConfigNode::kFloat) m_w.Float(n.f);
        else m_w.U32(static_cast<uint32_t>(n.i));
    }

    const ConfigDocument& m_doc;
    ByteWriter& m_w;
    std::vector<std::pair<size_t, uint32_t>> m_pending; // class offset fields to fill, by node
};

class KyrEncoder {
public:
    KyrEncoder(const ConfigDocument& doc, ByteWriter& w) : m_doc(doc), m_w(w) {}

    void File(std::string_view rootName) {
        m_w.U32(kMagic);
        m_w.U32(kKyrVariant);
        Ref(rootName);
        m_w.Byte(0); // the root's empty base name
        m_w.Count(m_doc.rootCount);
        // Every body lies inline, so the whole tree is written in its own order.
        for (const ConfigNode& n : m_doc.nodes) {
            switch (n.kind) {
            case ConfigNode::kClass:
                m_w.Byte(0);
                Ref(m_doc.View(n.name));
                m_w.String(m_doc.View(n.text));
                m_w.Count(n.count);
                break;
            case ConfigNode::kValue:
                m_w.Byte(1);
                m_w.Byte(ScalarType(n));
                Ref(m_doc.View(n.name));
                Scalar(n);
                break;
            case ConfigNode::kArray:
                m_w.Byte(2);
                Ref(m_doc.View(n.name));
                m_w.Count(n.count);
                break;
            case ConfigNode::kElement:
                m_w.Byte(ScalarType(n));
                Scalar(n);
                break;
            case ConfigNode::kNestedArray:
                m_w.Byte(3);
                m_w.Count(n.count);
                break;
            default: break; // the parser refuses the rest for this layout
            }
        }
        if (!m_doc.constants.empty()) Constants(m_doc, m_w);
    }

private:
    // A string's first use stores it under the next index; later ones name that index.
    void Ref(std::string_view s) {
        auto [it, added] = m_table.emplace(s, static_cast<uint32_t>(m_table.size()));
        m_w.Count(it->second);
        if (added) m_w.String(s);
    }

    void Scalar(const ConfigNode& n) {
        if (n.scalar == ConfigNode::kString) Ref(m_doc.View(n.text));
        else if (n.scalar == ConfigNode::kFloat) m_w.Float(n.f);
        else m_w.U32(static_cast<uint32_t>(n.i));
    }

    const ConfigDocument& m_doc;
    ByteWriter& m_w;
    std::unordered_map<std::string_view, uint32_t> m_table;
};

} // namespace

bool EncodeConfig(const ConfigDocument& doc, ConfigLayout layout, std::vector<uint8_t>* out,
                  const std::string& kyrRootName) {
    out->clear();
    ByteWriter w(out);
    if (layout == ConfigLayout::kTesk) TeskEncoder(doc, w).File();
    else KyrEncoder(doc, w).File(kyrRootName);
    if (out->size() > kMaxFileSize) {
        out->clear();
        return false;
    }
    return true;
}

bool EncodeConfigText(const char* text, size_t size, ConfigLayout layout, std::vector<uint8_t>* out,
                      ConfigTextError* error, const std::string& kyrRootName) {
    ConfigDocument doc;
    if (!ParseConfigText(text, size, layout, &doc, error)) return false;
    if (EncodeConfig(doc, layout, out, kyrRootName)) return true;
    int32_t line = 1;
    const char* lineStart = text;
    for (size_t i = 0; i < size; ++i)
        if (text[i] == '\n') ++line, lineStart = text + i + 1;
    error->line = line;
    error->column = static_cast<int32_t>(text + size - lineStart) + 1;
    error->message = "the file would reach 2 GiB, beyond what the layout can address";
    return false;
}
