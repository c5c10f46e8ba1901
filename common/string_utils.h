// String, file-name, open-file and time-stamp helpers shared by the subsystems.
// Functions returning a new string hand ownership to the caller, who frees it with std::free.
#pragma once

#include <cstdint>
#include <cstdio>

// Reads a zero-terminated string from the file's position. Null when the first byte cannot
// be read or memory runs out. *terminated (when given) tells whether a 0 byte was found
// before the end of the file; without one the string holds the bytes read.
char* ReadZString(FILE* file, bool* terminated = nullptr);
char* ConcatStrings(const char* a, const char* b);
char* ReplaceAll(char* source, const char* find, const char* replacement, bool consume);
int CompareBytes(const void* a, const void* b, int n);
const char* FindFileName(const char* path);
const char* FindExtension(const char* name);
int32_t GetOpenFileSize(FILE* file);
uint32_t MakeDosDateTime(int64_t time);
// The header's FileTime for a time stamp, in the form the host reads (Unix seconds, or the
// MS-DOS packed local date and time).
int32_t MakeHostFileTime(int64_t time);
char* DuplicateString(const char* s);
