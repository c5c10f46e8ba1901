// Line-oriented reading of INI-style text files, and the blank trimming their values get.
#pragma once

#include <cstddef>
#include <cstdio>

// Returns the next line's text as a new string (freed with std::free), without its line end,
// trimmed with TrimBlanks when asked; null at the end of the file. The text ends at the first
// CR or LF; the line itself ends after the next LF or at the end of the file. When memory runs
// out the result is also null, and *outOfMemory (when given) tells the two apart.
char* ReadTextLine(FILE* file, bool trim, bool* outOfMemory = nullptr);

// Reads the next line as ReadTextLine(file, false) does, and also hands back every byte the
// line takes up in the file, as a new block in *stored (freed with std::free) of *storedSize
// bytes: the text, whatever follows a NUL or a lone CR in it, and the line end as it is, if
// any. A writer that copies lines it does not own writes these, since the text alone loses
// whatever other programs keep behind such bytes. Null at the end of the file; also null,
// with *failed set, when memory runs out or the file cannot be read, so that such a writer
// can give up instead of taking a failure for the end of the file.
char* ReadStoredLine(FILE* file, char** stored, size_t* storedSize, bool* failed);

// Removes leading and trailing spaces and tabs in place; returns its argument.
char* TrimBlanks(char* text);
// Removes every space and tab in place; returns its argument.
char* RemoveBlanks(char* text);
