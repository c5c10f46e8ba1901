#include "tests/support/config_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace cfg {

namespace {

class TextMaker {
public:
    TextMaker(bool tesk, bool comments) : m_tesk(tesk), m_comments(comments) {}

    std::string Document(const ConfigDescription& config) {
        if (!config.constants.empty()) {
            Comment("//constant definitions\r\n\r\n");
            for (const Constant& c : config.constants)
                if (!c.name.empty()) m_text += "#define " + c.name + "\t" + std::to_string(c.value) + "\r\n";
            m_text += "\r\n";
        }
        Comment("//implementation\r\n\r\n");
        for (const Entry& e : config.root.entries) Put(e, 0);
        return m_text;
    }

private:
    static std::string Tabs(int depth) { return std::string(static_cast<size_t>(depth), '\t'); }

    static std::string Doubled(const std::string& s) {
        std::string out;
        for (char c : s) out += c == '"' ? std::string("\"\"") : std::string(1, c);
        return out;
    }

    // Six decimals when they read back as the same float, else the shortest text that does.
    static std::string FloatText(float f) {
        if (std::isnan(f)) return std::signbit(f) ? "-nan" : "nan";
        if (std::isinf(f)) return f < 0 ? "-inf" : "inf";
        char text[64];
        std::snprintf(text, sizeof text, "%.6f", static_cast<double>(f));
        float back = std::strtof(text, nullptr);
        if (std::memcmp(&back, &f, sizeof f) == 0) return text;
        auto shortest = std::to_chars(text, text + sizeof text, f);
        return std::string(text, shortest.ptr);
    }

    // The first-game layout keeps names in its string table, which doubles their quotes.
    std::string NameOf(const std::string& name) const { return m_tesk ? name : Doubled(name); }

    void Comment(const std::string& text) {
        if (m_comments) m_text += text;
    }

    std::string Scalar(const Element& e) const {
        switch (e.kind) {
        case Element::kString: return "\"" + Doubled(e.text) + "\"";
        case Element::kFloat: return FloatText(e.f);
        case Element::kInt: return std::to_string(e.i);
        default: throw std::invalid_argument("not a scalar");
        }
    }

    void Put(const Entry& e, int depth) {
        const std::string ind = Tabs(depth), name = NameOf(e.name);
        std::string head = ind + "class " + name + (e.body.base.empty() ? "" : " : " + e.body.base);
        switch (e.kind) {
        case Entry::kValue: m_text += ind + name + " = " + Scalar(e.value) + ";\r\n"; break;
        case Entry::kExternal:
            m_text += ind + "class " + name + ";";
            Comment("//abstract class");
            m_text += "\r\n";
            break;
        case Entry::kDelete: m_text += ind + "delete " + name + ";\r\n"; break;
        case Entry::kClass:
            if (!m_tesk && e.body.entries.empty()) {
                m_text += head + "{};";
                Comment(e.body.base.empty() ? "//abstract class" : "//prototype class");
                m_text += "\r\n";
                break;
            }
            m_text += head + "\r\n" + ind + "{\r\n";
            for (const Entry& inner : e.body.entries) Put(inner, depth + 1);
            m_text += ind + "};";
            Comment("//class " + name);
            m_text += "\r\n";
            break;
        case Entry::kArray:
            m_text += ind + name + "[] = ";
            Block(e.elements, depth);
            m_text += ";";
            Comment("//array " + name + "[" + std::to_string(e.elements.size()) + "]");
            m_text += "\r\n";
            break;
        default: throw std::invalid_argument("raw entries have no text of their own");
        }
    }

    // An element block: its line break, braces and elements, up to and with its "}".
    void Block(const std::vector<Element>& items, int depth) {
        m_text += "\r\n" + Tabs(depth) + "{\r\n";
        for (size_t i = 0; i < items.size(); ++i) {
            m_text += Tabs(depth + 1);
            if (items[i].kind == Element::kArray)
                Block(items[i].items, depth + 1);
            else
                m_text += Scalar(items[i]);
            m_text += i + 1 < items.size() ? ",\r\n" : "\r\n";
        }
        m_text += Tabs(depth) + "}";
    }

    bool m_tesk;
    bool m_comments;
    std::string m_text;
};

} // namespace

std::string ConfigText(const ConfigDescription& config, bool tesk, bool comments) {
    return TextMaker(tesk, comments).Document(config);
}

Bytes WriteConfig(const ConfigDescription& config, bool tesk) {
    if (tesk) return WriteTeskConfig(config);
    KyrLayout layout;
    layout.withConstants = !config.constants.empty();
    return WriteKyrConfig(config, layout);
}

Bytes EncodedConfig(const ConfigDescription& config, bool tesk) {
    if (!tesk) return WriteConfig(config, false);
    TeskLayout layout;
    layout.subtreeEnds = true;
    return WriteTeskConfig(config, layout);
}

} // namespace cfg
