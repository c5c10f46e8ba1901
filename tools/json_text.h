// Text for the host's JSON output.
#pragma once

#include <string>

// A JSON string of bytes as the archive holds them: only what JSON forbids is escaped.
std::string JsonString(const char* s);
