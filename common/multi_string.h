// The host's name lists: each name NUL-terminated, the list closed by an extra NUL.
#pragma once

#include <string>
#include <vector>

std::vector<char> MultiString(const std::vector<std::string>& names);
