// The entry compressor written out step by step, with the two-byte position matrix and
// its slice rebuilds, kept deliberately plain. Tests and benchmarks measure the fast
// compressor against it: every stream must be identical, byte for byte.
#pragma once

#include <cstdint>
#include <vector>

#include "frame/wcx.h"

namespace reference {

// Same contract as the plug-in's CompressBuffer (buffer ownership, results, progress calls).
int CompressBuffer(unsigned char** data, int32_t* size, const char* progressName, tProcessDataProc progress);

} // namespace reference
