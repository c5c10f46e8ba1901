#include "config/config_text_parser.h"

#include <cstring>

#include "config/config_float_text.h"

namespace {

// Both layouts count entries and elements in compressed integers of 29 bits.
constexpr uint32_t kMaxCount = (1u << 29) - 1;
constexpr uint32_t kPoolBit = 0x80000000u;

struct Refusal {
    const char* at;
    std::string message;
};

// Bytes that make up a word (a name, a keyword or a number): everything printable but the
// punctuation of the language, and every byte of 0x80 and above, so that names in any code
// page come through.
struct WordTable {
    bool word[256];
    WordTable() {
        for (int c = 0; c < 256; ++c) word[c] = c > 0x20 && c != 0x7F && !std::strchr("{}[];:=,\"#/", c);
    }
};
const WordTable kWordTable;

bool IsWordByte(char c) { return kWordTable.word[static_cast<uint8_t>(c)]; }
bool IsBlankByte(char c) { return c != 0 && static_cast<uint8_t>(c) <= 0x20; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// One pass over the text: every byte is read once by the token it belongs to (a '#' also
// looks back over the blanks before it on its line), so the work is O(text size); recursion
// goes as deep as blocks nest, at most kMaxConfigDepth. Only a refusal walks the text once
// more, to count its line.
class Parser {
public:
    Parser(const char* text, size_t size, ConfigLayout layout, ConfigDocument* doc)
        : m_begin(text), m_p(text), m_end(text + size), m_layout(layout), m_doc(doc) {}

    void Document() {
        m_doc->source = m_begin;
        m_doc->rootCount = Entries(nullptr);
    }

private:
    [[noreturn]] void Refuse(const char* at, std::string message) { throw Refusal{at, std::move(message)}; }

    // Skips blanks, comments and preprocessor lines, which may stand between any two tokens.
    void SkipBlank() {
        for (;;) {
            while (m_p < m_end && IsBlankByte(*m_p)) ++m_p;
            if (m_p >= m_end) return;
            if (*m_p == '/' && m_p + 1 < m_end && m_p[1] == '/') {
                const char* nl = static_cast<const char*>(std::memchr(m_p, '\n', m_end - m_p));
                m_p = nl ? nl + 1 : m_end;
            } else if (*m_p == '/' && m_p + 1 < m_end && m_p[1] == '*') {
                const char* start = m_p;
                for (m_p += 2;; ++m_p) {
                    if (m_p + 1 >= m_end) Refuse(start, "unclosed comment: '/*' without '*/'");
                    if (*m_p == '*' && m_p[1] == '/') break;
                }
                m_p += 2;
            } else if (*m_p == '#') {
                Directive();
            } else {
                return;
            }
        }
    }

    bool AtLineStart(const char* at) const {
        while (at > m_begin && (at[-1] == ' ' || at[-1] == '\t')) --at;
        return at == m_begin || at[-1] == '\n';
    }

    // Only constants are understood; anything else would need a preprocessor to mean
    // what it says, and is refused rather than dropped.
    void Directive() {
        const char* hash = m_p;
        if (!AtLineStart(hash)) Refuse(hash, "'#' must begin a line (a preprocessor line)");
        ++m_p;
        SkipSpaces();
        std::string_view word = Word();
        if (word != "define") {
            Refuse(hash, "'#" + std::string(word) +
                             "' is not supported: the only preprocessor lines are '#define NAME integer'");
        }
        SkipSpaces();
        const char* nameAt = m_p;
        std::string_view name = Word();
        if (name.empty()) Refuse(nameAt, "#define needs a name");
        if (name.find('(') != std::string_view::npos)
            Refuse(nameAt, "macros are not supported: only '#define NAME integer'");
        SkipSpaces();
        const char* valueAt = m_p;
        std::string_view value = Word();
        int32_t number = 0;
        if (value.empty() || !Integer(value, &number))
            Refuse(valueAt, "#define " + std::string(name) + " needs an integer value (macros are not supported)");
        SkipSpaces();
        bool lineEnds = m_p >= m_end || *m_p == '\r' || *m_p == '\n' ||
                        (*m_p == '/' && m_p + 1 < m_end && (m_p[1] == '/' || m_p[1] == '*'));
        if (!lineEnds) Refuse(m_p, "#define " + std::string(name) + " takes one integer, nothing more");
        ConfigConstant c;
        c.name = Ref(nameAt, name.size());
        c.value = number;
        m_doc->constants.push_back(c);
    }

    void SkipSpaces() {
        while (m_p < m_end && (*m_p == ' ' || *m_p == '\t')) ++m_p;
    }

    std::string_view Word() {
        const char* start = m_p;
        while (m_p < m_end && IsWordByte(*m_p)) ++m_p;
        return std::string_view(start, static_cast<size_t>(m_p - start));
    }

    ConfigTextRef Ref(const char* at, size_t length) const {
        ConfigTextRef r;
        r.offset = static_cast<uint32_t>(at - m_begin);
        r.length = static_cast<uint32_t>(length);
        return r;
    }

    // The next token must be `c`.
    void Expect(char c, const char* what) {
        SkipBlank();
        if (m_p >= m_end || *m_p != c) Refuse(m_p, std::string("expected ") + what + Found());
        ++m_p;
    }

    std::string Found() const {
        if (m_p >= m_end) return ", found the end of the text";
        if (*m_p == 0) return ", found a zero byte";
        const char* q = m_p;
        while (q < m_end && q - m_p < 20 && IsWordByte(*q)) ++q;
        if (q == m_p) ++q;
        return ", found '" + std::string(m_p, static_cast<size_t>(q - m_p)) + "'";
    }

    bool Peek(char c) {
        SkipBlank();
        return m_p < m_end && *m_p == c;
    }

    // A name: a word that is not empty.
    ConfigTextRef Name(const char* what) {
        SkipBlank();
        const char* at = m_p;
        std::string_view w = Word();
        if (w.empty()) Refuse(at, std::string("expected ") + what + Found());
        return Ref(at, w.size());
    }

    void EnterBlock(const char* at) {
        if (m_depth >= kMaxConfigDepth)
            Refuse(at, "classes and arrays nest more than " + std::to_string(kMaxConfigDepth) + " levels deep");
        ++m_depth;
    }

    uint32_t Push(ConfigNode::Kind kind, ConfigTextRef name) {
        ConfigNode n;
        n.kind = kind;
        n.name = name;
        m_doc->nodes.push_back(n);
        return static_cast<uint32_t>(m_doc->nodes.size() - 1);
    }

    void CheckCount(uint32_t count, const char* at) {
        if (count > kMaxCount) Refuse(at, "more than 536870911 entries or elements in one block");
    }

    // Entries up to the '}' of the block opened at `open`, or to the end of the text for the
    // root (open null). Returns how many there were.
    uint32_t Entries(const char* open) {
        uint32_t count = 0;
        for (;;) {
            SkipBlank();
            if (m_p >= m_end) {
                if (open) Refuse(open, "unclosed block: this '{' has no '}'");
                return count;
            }
            if (*m_p == '}') {
                if (!open) Refuse(m_p, "'}' closes no block");
                ++m_p;
                return count;
            }
            CheckCount(++count, m_p);
            Entry();
        }
    }

    void Entry() {
        const char* at = m_p;
        std::string_view word = Word();
        if (word.empty()) Refuse(at, "expected an entry (class, delete, a value or an array)" + Found());
        ConfigTextRef name = Ref(at, word.size());
        if ((word == "class" || word == "delete") && !Peek('=') && !Peek('[')) {
            if (word == "class") Class(at);
            else Delete(at);
            return;
        }
        SkipBlank();
        if (m_p < m_end && *m_p == '[') {
            ++m_p;
            Expect(']', "']'");
            Expect('=', "'='");
            Array(name);
        } else {
            Expect('=', "'=' or '[]'");
            uint32_t index = Push(ConfigNode::kValue, name);
            Scalar(index);
            m_doc->nodes[index].end = index + 1;
        }
        Expect(';', "';'");
    }

    void Class(const char* at) {
        ConfigTextRef name = Name("a class name");
        SkipBlank();
        if (m_p < m_end && *m_p == ';') {
            ++m_p;
            if (m_layout == ConfigLayout::kKyr)
                Refuse(at, "the first-game layout has no external classes ('class " +
                               std::string(m_doc->View(name)) + ";'); give it a body: {}");
            uint32_t index = Push(ConfigNode::kExternal, name);
            m_doc->nodes[index].end = index + 1;
            return;
        }
        ConfigTextRef base;
        if (m_p < m_end && *m_p == ':') {
            ++m_p;
            base = Name("a base class name after ':'");
        }
        SkipBlank();
        const char* open = m_p;
        Expect('{', base.length ? "'{'" : "'{', ':' or ';'");
        uint32_t index = Push(ConfigNode::kClass, name);
        m_doc->nodes[index].text = base;
        EnterBlock(open);
        uint32_t count = Entries(open);
        --m_depth;
        ConfigNode& node = m_doc->nodes[index];
        node.count = count;
        node.end = static_cast<uint32_t>(m_doc->nodes.size());
        Expect(';', "';' after the class's '}'");
    }

    void Delete(const char* at) {
        ConfigTextRef name = Name("the name of the member to delete");
        if (m_layout == ConfigLayout::kKyr)
            Refuse(at, "the first-game layout has no delete entries ('delete " + std::string(m_doc->View(name)) + ";')");
        uint32_t index = Push(ConfigNode::kDelete, name);
        m_doc->nodes[index].end = index + 1;
        Expect(';', "';'");
    }

    void Array(ConfigTextRef name) {
        uint32_t index = Push(ConfigNode::kArray, name);
        Elements(index);
    }

    // The element block of the array or nested array at `index`.
    void Elements(uint32_t index) {
        SkipBlank();
        const char* open = m_p;
        Expect('{', "'{'");
        EnterBlock(open);
        uint32_t count = 0;
        if (!Peek('}')) {
            for (;;) {
                SkipBlank();
                if (m_p >= m_end) Refuse(open, "unclosed block: this '{' has no '}'");
                CheckCount(++count, m_p);
                if (*m_p == '{') {
                    Elements(Push(ConfigNode::kNestedArray, ConfigTextRef{}));
                } else {
                    uint32_t element = Push(ConfigNode::kElement, ConfigTextRef{});
                    Scalar(element);
                    m_doc->nodes[element].end = element + 1;
                }
                SkipBlank();
                if (m_p < m_end && *m_p == ',') {
                    ++m_p;
                    continue;
                }
                if (m_p < m_end && *m_p == '}') break;
                if (m_p >= m_end) Refuse(open, "unclosed block: this '{' has no '}'");
                Refuse(m_p, "expected ',' or '}'" + Found());
            }
        }
        ++m_p; // the '}'
        --m_depth;
        ConfigNode& node = m_doc->nodes[index];
        node.count = count;
        node.end = static_cast<uint32_t>(m_doc->nodes.size());
    }

    // A string, integer or float into the node at `index`.
    void Scalar(uint32_t index) {
        SkipBlank();
        const char* at = m_p;
        if (m_p < m_end && *m_p == '"') {
            ConfigTextRef text = QuotedString();
            ConfigNode& node = m_doc->nodes[index];
            node.scalar = ConfigNode::kString;
            node.text = text;
            return;
        }
        std::string_view w = Word();
        if (w.empty()) Refuse(at, "expected a value" + Found());
        ConfigNode& node = m_doc->nodes[index];
        int32_t i = 0;
        float f = 0;
        bool numeric = IsDigit(w[0]) || w[0] == '-' || w[0] == '+' || w[0] == '.';
        if (LooksInteger(w)) {
            if (!Integer(w, &i)) Refuse(at, "integer out of range (32 bits): " + std::string(w));
            node.scalar = ConfigNode::kInt;
            node.i = i;
        } else if (ParseConfigFloat(w.data(), w.data() + w.size(), &f)) {
            node.scalar = ConfigNode::kFloat;
            node.f = f;
        } else if (numeric) {
            Refuse(at, "not a number, or beyond the float range: " + std::string(w));
        } else {
            Refuse(at, "unquoted word '" + std::string(w) + "': string values are written in double quotes");
        }
    }

    // Digits only (with a sign), decimal or hexadecimal: an integer, whatever its size.
    static bool LooksInteger(std::string_view w) {
        size_t i = (w[0] == '-' || w[0] == '+') ? 1 : 0;
        if (i >= w.size()) return false;
        if (w.size() > i + 2 && w[i] == '0' && (w[i + 1] == 'x' || w[i + 1] == 'X')) {
            for (size_t k = i + 2; k < w.size(); ++k)
                if (HexDigit(w[k]) < 0) return false;
            return true;
        }
        for (size_t k = i; k < w.size(); ++k)
            if (!IsDigit(w[k])) return false;
        return true;
    }

    // Decimal in the signed 32-bit range; hexadecimal up to 0xFFFFFFFF, taken as the bit
    // pattern (0xFFFFFFFF is -1), as flags and colours are written.
    static bool Integer(std::string_view w, int32_t* out) {
        if (!LooksInteger(w)) return false;
        bool negative = w[0] == '-';
        size_t i = (w[0] == '-' || w[0] == '+') ? 1 : 0;
        bool hex = w.size() > i + 2 && w[i] == '0' && (w[i + 1] == 'x' || w[i + 1] == 'X');
        uint64_t value = 0;
        for (size_t k = hex ? i + 2 : i; k < w.size(); ++k) {
            value = hex ? value * 16 + static_cast<uint64_t>(HexDigit(w[k])) : value * 10 + static_cast<uint64_t>(w[k] - '0');
            if (value > 0xFFFFFFFFull) return false;
        }
        int64_t signedValue;
        if (hex && !negative) signedValue = static_cast<int32_t>(static_cast<uint32_t>(value));
        else signedValue = negative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value);
        if (signedValue < INT32_MIN || signedValue > INT32_MAX) return false;
        *out = static_cast<int32_t>(signedValue);
        return true;
    }

    // "..." with "" for each quote inside; line breaks and every byte but 0 are kept as
    // they stand.
    ConfigTextRef QuotedString() {
        const char* open = m_p++;
        const char* start = m_p;
        size_t poolStart = 0;
        bool pooled = false;
        for (;;) {
            const char* quote = static_cast<const char*>(std::memchr(m_p, '"', static_cast<size_t>(m_end - m_p)));
            if (!quote) Refuse(open, "unclosed string: this '\"' has no closing quote");
            if (const void* zero = std::memchr(m_p, 0, static_cast<size_t>(quote - m_p)))
                Refuse(static_cast<const char*>(zero), "a zero byte inside a string (the file ends strings with it)");
            if (quote + 1 < m_end && quote[1] == '"') {
                // The first doubled quote moves the string into the pool, as one quote.
                if (!pooled) {
                    pooled = true;
                    poolStart = m_doc->pool.size();
                    m_doc->pool.append(start, static_cast<size_t>(quote - start) + 1);
                } else {
                    m_doc->pool.append(m_p, static_cast<size_t>(quote - m_p) + 1);
                }
                m_p = quote + 2;
                continue;
            }
            ConfigTextRef r;
            if (pooled) {
                m_doc->pool.append(m_p, static_cast<size_t>(quote - m_p));
                r.offset = static_cast<uint32_t>(poolStart);
                r.length = static_cast<uint32_t>(m_doc->pool.size() - poolStart) | kPoolBit;
            } else {
                r = Ref(start, static_cast<size_t>(quote - start));
            }
            m_p = quote + 1;
            return r;
        }
    }

    const char* m_begin;
    const char* m_p;
    const char* m_end;
    ConfigLayout m_layout;
    ConfigDocument* m_doc;
    int32_t m_depth = 0;
};

void Locate(const char* begin, const char* at, ConfigTextError* error) {
    int32_t line = 1;
    const char* lineStart = begin;
    for (const char* p = begin; p < at; ++p) {
        if (*p == '\n') {
            ++line;
            lineStart = p + 1;
        }
    }
    error->line = line;
    error->column = static_cast<int32_t>(at - lineStart) + 1;
}

} // namespace

bool ParseConfigText(const char* text, size_t size, ConfigLayout layout, ConfigDocument* doc,
                     ConfigTextError* error) {
    *doc = ConfigDocument();
    // Offsets into the text are 32-bit, the pool's with its top bit taken.
    if (size >= kPoolBit) {
        error->line = 1;
        error->column = 1;
        error->message = "the text is 2 GiB or more";
        return false;
    }
    try {
        Parser(text, size, layout, doc).Document();
        return true;
    } catch (const Refusal& r) {
        Locate(text, r.at, error);
        error->message = r.message;
        *doc = ConfigDocument();
        return false;
    }
}
