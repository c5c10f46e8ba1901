// Expands the compressed form of an entry: flag bytes announcing eight literals or
// back-references each, behind a window that starts as 18 spaces, then a 32-bit byte sum.
#pragma once

#include <cstdint>

#include "common/text_buffer.h"
#include "frame/wcx.h"

// The window starts as this many spaces; they precede the entry's data in the output.
constexpr int32_t kWindowPrefixLength = 18;
// Status text of the last progress report, announcing the checksum comparison.
extern const char kVerifyingText[];

// Appends the prefix and the expanded data of `block` (length bytes, checksum included) to
// `out`, which should be empty. Progress goes to `progress` (may be null) with `entryName`.
// `expectedSize` (the header's uncompressedSize, or 0) only pre-sizes the output.
// Returns 0, 12 for a damaged stream, 13 for a wrong checksum, 19 when the output cannot
// grow, 21 when the callback asks to stop.
int DecompressEntry(const unsigned char* block, int32_t length, const char* entryName, CTextBuffer* out,
                    tProcessDataProc progress, uint32_t expectedSize = 0);
