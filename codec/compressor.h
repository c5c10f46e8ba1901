// The entry compressor: a buffer holding the 18-space window prefix and a file's bytes
// becomes the flag-byte / literal / back-reference stream with its additive checksum.
#pragma once

#include <cstdint>

#include "frame/wcx.h"

// *data: a std::malloc'ed buffer of *size bytes, prefix included. On 0 it has been freed and
// *data / *size describe the stream (std::malloc'ed, the caller frees it). On any other
// result both are untouched: 24 for a null buffer or fewer than 3 file bytes, 21 when the
// callback asks to stop, 11 when memory runs out. With a null progressName the callback
// hears only of a failed output reallocation.
int CompressBuffer(unsigned char** data, int32_t* size, const char* progressName, tProcessDataProc progress);
