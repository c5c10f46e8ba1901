// Line-oriented reading of INI-style text files, and the blank trimming their values get.
#pragma once

#include <cstdio>

// Returns the next line's text as a new string (freed with std::free), without its line end,
// trimmed with TrimBlanks when asked; null at the end of the file. The text ends at the first
// CR or LF; the line itself ends after the next LF or at the end of the file. When memory runs
// out the result is also null, and *outOfMemory (when given) tells the two apart.
char* ReadTextLine(FILE* file, bool trim, bool* outOfMemory = nullptr);

// Removes leading and trailing spaces and tabs in place; returns its argument.
char* TrimBlanks(char* text);
// Removes every space and tab in place; returns its argument.
char* RemoveBlanks(char* text);
