// Conversions between the host's wide text (UTF-16) and the UTF-8 text that the plug-in
// works with during a wide call. Pure functions, no system calls.
#pragma once

#include <cstddef>
#include <string>

// Names on POSIX are bytes that need not be UTF-8. Such a byte travels through UTF-16 as
// the lone surrogate U+DC80 to U+DCFF and comes back as the same byte, so that a name listed
// through the wide functions names the same entry or file when the host hands it back.
//
// Converts n code units (or up to the NUL when n is npos). False, with *out unspecified,
// when the text holds any other lone surrogate: such a name has no form to open or store.
bool Utf16ToUtf8(const char16_t* text, std::string* out, size_t n = std::string::npos);
// A host list: NUL-terminated names closed by an extra NUL, converted name by name; the
// result has the same shape. False on a lone surrogate in any name.
bool Utf16ListToUtf8(const char16_t* list, std::string* out);
// Each byte of malformed UTF-8 (a name in another code page) becomes its lone surrogate.
std::u16string Utf8ToUtf16(const char* text);
// Fills a host field of `capacity` units, NUL-terminated; a longer text is cut before a
// character that no longer fits whole.
void CopyToField(char16_t* field, size_t capacity, const std::u16string& text);
