#include "common/unicode_text.h"

namespace {

bool IsHighSurrogate(char32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }
constexpr char32_t kEscapedByte = 0xDC00;
bool IsEscapedByte(char32_t u) { return u >= kEscapedByte + 0x80 && u <= kEscapedByte + 0xFF; }

void AppendUtf8(char32_t c, std::string* out) {
    if (c < 0x80) {
        *out += static_cast<char>(c);
    } else if (c < 0x800) {
        *out += static_cast<char>(0xC0 | (c >> 6));
        *out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        *out += static_cast<char>(0xE0 | (c >> 12));
        *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        *out += static_cast<char>(0xF0 | (c >> 18));
        *out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Decodes one well-formed UTF-8 sequence at s (shortest form, no surrogates, at most
// U+10FFFF); returns its length, or 0 when the bytes there are not one.
size_t DecodeUtf8(const unsigned char* s, char32_t* c) {
    unsigned char b = s[0];
    size_t len;
    char32_t min;
    if (b < 0x80) {
        *c = b;
        return 1;
    } else if (b >= 0xC2 && b <= 0xDF) {
        len = 2, *c = b & 0x1F, min = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
        len = 3, *c = b & 0x0F, min = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
        len = 4, *c = b & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    for (size_t i = 1; i < len; ++i) {
        if ((s[i] & 0xC0) != 0x80) return 0; // also stops at the NUL
        *c = (*c << 6) | (s[i] & 0x3F);
    }
    if (*c < min || *c > 0x10FFFF || (*c >= 0xD800 && *c <= 0xDFFF)) return 0;
    return len;
}

} // namespace

bool Utf16ToUtf8(const char16_t* text, std::string* out, size_t n) {
    out->clear();
    if (!text) return true;
    for (size_t i = 0; n == std::string::npos ? text[i] != 0 : i < n; ++i) {
        char32_t u = text[i];
        if (IsHighSurrogate(u)) {
            bool paired = (n == std::string::npos || i + 1 < n) && IsLowSurrogate(text[i + 1]);
            if (!paired) return false;
            u = 0x10000 + ((u - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (IsEscapedByte(u)) {
            *out += static_cast<char>(u - kEscapedByte);
            continue;
        } else if (IsLowSurrogate(u)) {
            return false;
        }
        AppendUtf8(u, out);
    }
    return true;
}

bool Utf16ListToUtf8(const char16_t* list, std::string* out) {
    out->clear();
    if (!list) return true;
    std::string name;
    while (*list) {
        size_t n = 0;
        while (list[n]) ++n;
        if (!Utf16ToUtf8(list, &name, n)) return false;
        *out += name;
        *out += '\0';
        list += n + 1;
    }
    *out += '\0';
    return true;
}

std::u16string Utf8ToUtf16(const char* text) {
    std::u16string out;
    if (!text) return out;
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    while (*s) {
        char32_t c;
        size_t len = DecodeUtf8(s, &c);
        if (len == 0) {
            c = kEscapedByte + *s;
            len = 1;
        }
        s += len;
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

void CopyToField(char16_t* field, size_t capacity, const std::u16string& text) {
    if (!field || capacity == 0) return;
    size_t n = text.size() < capacity - 1 ? text.size() : capacity - 1;
    // Never leave the first half of a surrogate pair at the cut.
    if (n > 0 && n < text.size() && IsHighSurrogate(text[n - 1])) --n;
    text.copy(field, n);
    field[n] = 0;
}
