#include "config/config_float_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

uint32_t Bits(float f) {
    uint32_t b;
    std::memcpy(&b, &f, sizeof b);
    return b;
}

bool Same(const char* a, const char* end, const char* word) {
    size_t n = std::strlen(word);
    return static_cast<size_t>(end - a) == n && std::memcmp(a, word, n) == 0;
}

} // namespace

int FormatConfigFloat(float value, char* out) {
    if (std::isnan(value)) {
        const char* word = std::signbit(value) ? "-nan" : "nan";
        std::strcpy(out, word);
        return static_cast<int>(std::strlen(word));
    }
    if (std::isinf(value)) {
        const char* word = value < 0 ? "-inf" : "inf";
        std::strcpy(out, word);
        return static_cast<int>(std::strlen(word));
    }
    // The widest "%.6f" of a float is 47 bytes with its terminator (39 integer digits, a
    // sign, a point and six decimals), which kConfigFloatTextSize holds. snprintf is used
    // for it because the six-decimal form was the text's form before, and users' diffs
    // should show only the floats that change.
    int n = std::snprintf(out, kConfigFloatTextSize, "%.6f", static_cast<double>(value));
    // A locale with a comma for the point would make the text unreadable; the form is
    // fixed, so the comma becomes a point again.
    for (int i = 0; i < n; ++i)
        if (out[i] == ',') out[i] = '.';
    float back = 0;
    auto parsed = std::from_chars(out, out + n, back);
    if (n > 0 && parsed.ec == std::errc() && parsed.ptr == out + n && Bits(back) == Bits(value)) return n;
    auto shortest = std::to_chars(out, out + kConfigFloatTextSize - 1, value);
    *shortest.ptr = 0;
    return static_cast<int>(shortest.ptr - out);
}

bool ParseConfigFloat(const char* begin, const char* end, float* out) {
    if (Same(begin, end, "inf")) return *out = INFINITY, true;
    if (Same(begin, end, "-inf")) return *out = -INFINITY, true;
    if (Same(begin, end, "nan")) return *out = std::nanf(""), true;
    if (Same(begin, end, "-nan")) return *out = -std::nanf(""), true;
    const char* p = begin;
    // from_chars takes no plus sign; the text never writes one, but hands may.
    if (p < end && *p == '+') ++p;
    // Digits must follow the sign: from_chars would also take words such as "infinity".
    const char* digits = p < end && *p == '-' ? p + 1 : p;
    if (digits == end || !((*digits >= '0' && *digits <= '9') || *digits == '.')) return false;
    auto parsed = std::from_chars(p, end, *out, std::chars_format::general);
    if (parsed.ptr != end) return false;
    // Out of range: from_chars leaves the value alone and reports it. A number too small for
    // the float range reads as zero or a subnormal there, and is accepted.
    return parsed.ec == std::errc();
}
