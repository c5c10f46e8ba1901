// The host's UTF-8 text in the forms the plug-in's functions take: UTF-16 for the wide
// ones, the system's code page for the ANSI ones.
#pragma once

#include <string>
#include <vector>

#include "frame/wcx.h"

// A writable, NUL-terminated UTF-16 copy.
std::vector<WideChar> WideArg(const std::string& s);
// A writable, NUL-terminated copy in the ANSI code page; false when the text has no form there.
bool AnsiArg(const std::string& s, std::vector<char>* out);
// Hands a wide callback's text on to a UTF-8 callback. Half a surrogate pair cannot be
// shown: it becomes "?", and the count still goes on.
int ForwardWideText(tProcessDataProc to, WideChar* text, int count);
