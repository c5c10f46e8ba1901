// The trailing integrity block that archives of the second game end with: exactly 21
// bytes after the last entry's data, a 0 byte and the SHA-1 digest of every byte of the
// file before the block. The games check it; a rewrite must keep it true.
#pragma once

#include <cstdint>
#include <cstdio>

constexpr uint64_t kIntegrityBlockSize = 21;

enum class IntegrityState { None, Valid, Mismatch };

// The state of the block of an archive whose entry data end at dataEnd. A block present is
// checked against the whole file before it. 0, or 18 when the file cannot be read.
int ReadIntegrityState(FILE* archive, uint64_t dataEnd, IntegrityState* state);

// Appends a fresh block to a file open for reading and writing, over every byte it holds.
// 0, or 18 (read) or 19 (write).
int AppendIntegrityBlock(FILE* file);
