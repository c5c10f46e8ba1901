// Floats in configuration text, written so that reading the text gives back the very float
// the file holds, and read back without regard to the process's locale (the file manager
// may have set one whose decimal separator is a comma).
#pragma once

#include <cstdint>

// Room that FormatConfigFloat needs, terminator included.
constexpr int kConfigFloatTextSize = 48;

// The float as text: the six-decimal form when it reads back as the same float, otherwise
// the shortest form that does ("-0.00143862", "1e-45"). Infinities are "inf" and "-inf",
// NaN is "nan" or "-nan" by its sign. Writes a terminated string; returns its length.
int FormatConfigFloat(float value, char* out);

// Reads [begin, end) whole as a float: decimal digits with an optional sign, point and
// exponent, or one of the words FormatConfigFloat writes for non-finite values. False when
// the text is anything else or its magnitude lies beyond the float range (it would read
// as an infinity that was never written).
bool ParseConfigFloat(const char* begin, const char* end, float* out);
