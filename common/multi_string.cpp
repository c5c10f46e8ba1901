#include "common/multi_string.h"

std::vector<char> MultiString(const std::vector<std::string>& names) {
    std::vector<char> block;
    for (const std::string& n : names) {
        block.insert(block.end(), n.begin(), n.end());
        block.push_back(0);
    }
    block.push_back(0);
    return block;
}
