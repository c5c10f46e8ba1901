// The list of extensions to compress, as the settings file and the options dialog spell it:
// items separated by "," (";" is accepted too).
#pragma once

#include "common/string_list.h"

// A new list (released with delete) of the non-empty items of text, in order, duplicates kept;
// items are not trimmed. Null for a null text or when memory runs out.
StringList* ParseFormatList(const char* text);
// The items joined by single commas, as a new string (freed with std::free); null when memory
// runs out.
char* JoinFormatList(const StringList& list);
