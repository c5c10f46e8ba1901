#include "tests/support/change_pairs.h"

#include <thread>

#include "tests/support/temp_dir.h"

const std::vector<ChangePair>& ChangePairs() {
    static const std::vector<ChangePair> pairs = {
        {"AddAndAdd", {"keep.txt", "old.txt"}, {true, {"first.txt"}}, {true, {"second.txt"}},
         {"first.txt", "keep.txt", "old.txt"}, {"first.txt", "keep.txt", "old.txt", "second.txt"}},
        {"AddAndDelete", {"keep.txt", "old.txt"}, {true, {"first.txt"}}, {false, {"old.txt"}},
         {"first.txt", "keep.txt", "old.txt"}, {"first.txt", "keep.txt"}},
        {"DeleteAndDelete", {"keep.txt", "old.txt", "other.txt"}, {false, {"old.txt"}}, {false, {"other.txt"}},
         {"keep.txt", "other.txt"}, {"keep.txt"}},
        {"CreateAndCreate", {}, {true, {"first.txt"}}, {true, {"second.txt"}}, {"first.txt"},
         {"first.txt", "second.txt"}},
    };
    return pairs;
}

std::vector<unsigned char> ChangeSourceBytes(const std::string& name) {
    // Compressible text of a few pages, different for every file.
    std::string text;
    for (int line = 0; text.size() < 6000; ++line) text += name + " line " + std::to_string(line) + "\n";
    return std::vector<unsigned char>(text.begin(), text.end());
}

void WriteChangeSources(const std::string& dir) {
    for (const char* name : {"first.txt", "second.txt", "keep.txt", "old.txt", "other.txt"})
        WriteFileBytes(dir + "/" + name, ChangeSourceBytes(name));
}

bool MentionsAny(const std::string& text, const std::vector<std::string>& names) {
    for (const std::string& n : names)
        if (text.find(n) != std::string::npos) return true;
    return false;
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::seconds limit) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}
