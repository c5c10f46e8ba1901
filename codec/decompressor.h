// Expands the compressed form of an entry: flag bytes announcing eight literals or
// back-references each, behind a window that starts as 18 spaces, then a 32-bit byte sum.
// The block is pulled in pieces and the output pushed in pieces: whatever the entry's
// size, the decoder holds one input buffer and one output buffer that keeps the window.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/text_buffer.h"
#include "frame/wcx.h"

// The window starts as this many spaces; they precede the entry's data in the output.
constexpr int32_t kWindowPrefixLength = 18;
// Status text of the last progress report, announcing the checksum comparison.
extern const char kVerifyingText[];

// Where the compressed block comes from.
class DecodeSource {
public:
    virtual ~DecodeSource() = default;
    // Up to n (> 0) bytes into `into`: fewer when fewer are at hand at once, 0 when nothing
    // more can be read.
    virtual size_t Read(unsigned char* into, size_t n) = 0;
};

// Where the expanded data go, in order, without the window prefix.
class DecodeSink {
public:
    virtual ~DecodeSink() = default;
    // False when the bytes cannot be taken.
    virtual bool Write(const unsigned char* bytes, size_t n) = 0;
};

// What the decoder holds. Both are raised to their minimum (the input to one group of
// tokens, the output to the window and one group); tests shrink them to force refills.
struct DecodeBufferSizes {
    size_t input = 64 * 1024;
    size_t output = 64 * 1024;
};

// Expands a block of `length` bytes (the tokens, then the 4-byte checksum) pulled from
// `source` into `sink`; progress goes to `progress` (may be null) with `entryName`: the
// output in steps of at least 1024 bytes, the rest, then kVerifyingText. The sink has seen
// every byte before the checksum is compared. Returns 0, 11 when the buffers cannot be
// had, 12 for a damaged stream, 13 for a wrong checksum, 18 when the source ends early,
// 19 when the sink refuses bytes, 21 when the callback asks to stop.
int DecompressStream(DecodeSource& source, uint64_t length, DecodeSink& sink, const char* entryName,
                     tProcessDataProc progress, const DecodeBufferSizes& sizes = DecodeBufferSizes());

// The whole block in memory, expanded into `out` (which should be empty) behind the
// window prefix, through the streaming decoder. `expectedSize` (the header's
// uncompressedSize, or 0) only pre-sizes the output. 19 when the output cannot grow.
int DecompressEntry(const unsigned char* block, int32_t length, const char* entryName, CTextBuffer* out,
                    tProcessDataProc progress, uint32_t expectedSize = 0);
