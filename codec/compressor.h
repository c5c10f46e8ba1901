// The entry compressor: a file's bytes behind the 18-space window prefix become the
// flag-byte / literal / back-reference stream with its additive checksum. The input is
// taken in chunks, each with the window before it and the longest match after it, so
// what the compressor holds is bounded by the chunk size, whatever the file's size.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame/wcx.h"

// The chunk size of every call that names none: the compressor then holds about two
// chunks (input and stream) and its index of about 2 MiB.
constexpr size_t kCompressChunkBytes = size_t(8) << 20;

// Where the file's bytes come from.
class CompressorInput {
public:
    virtual ~CompressorInput() = default;
    // Up to `want` more bytes into `into`; *got < want only at the end of the input.
    // 0, or the result to give up with (the compressor returns it as it is).
    virtual int Read(unsigned char* into, size_t want, size_t* got) = 0;
};

// Where the stream goes, in whole flag groups as they are made; the checksum comes last.
class CompressorOutput {
public:
    virtual ~CompressorOutput() = default;
    // 0, or the result to give up with (the compressor returns it as it is).
    virtual int Write(const unsigned char* bytes, size_t n) = 0;
};

// Compresses everything `input` gives into `output`, reporting as CompressBuffer does.
// Results: 0; 24 for fewer than 3 file bytes and 11 when memory runs out, both before
// anything is written or reported beyond "Loading data matrix ..." (memory is only asked
// for at the start); 21 when the callback asks to stop; or what input or output gave.
// `chunkBytes` (at least 1) only changes what is held, never the stream.
int CompressStream(CompressorInput& input, CompressorOutput& output, const char* progressName,
                   tProcessDataProc progress, size_t chunkBytes = kCompressChunkBytes);

// *data: a std::malloc'ed buffer of *size bytes, prefix included. On 0 it has been freed and
// *data / *size describe the stream (std::malloc'ed, the caller frees it). On any other
// result both are untouched: 24 for a null buffer or fewer than 3 file bytes, 21 when the
// callback asks to stop, 11 when memory runs out. With a null progressName the callback
// hears only of a failed output reallocation. The buffer is read in place, chunk by chunk,
// as CompressStream reads its input.
int CompressBuffer(unsigned char** data, int32_t* size, const char* progressName, tProcessDataProc progress);
// The same in chunks of `chunkBytes` (at least 1).
int CompressBufferInChunks(unsigned char** data, int32_t* size, const char* progressName, tProcessDataProc progress,
                           size_t chunkBytes);
