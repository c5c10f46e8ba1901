// Two changes of one archive that meet, for the tests that run them from two threads and
// from two processes: what the archive holds before (nothing: it does not exist yet), the
// change that starts first and is held inside its progress callback, the change that starts
// while it is held, and what the archive must hold once both have finished.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

struct ArchiveChange {
    bool add;                       // pack the files named, else delete the entries named
    std::vector<std::string> names; // source files (add) or entries (delete), all in the root
};

struct ChangePair {
    const char* name;
    std::vector<std::string> before;
    ArchiveChange first;
    ArchiveChange second;
    std::vector<std::string> afterFirst; // the first change alone, in the archive's name order
    std::vector<std::string> after;      // both changes
};

const std::vector<ChangePair>& ChangePairs();
// Writes every file the pairs pack into a folder; each file's bytes name it.
void WriteChangeSources(const std::string& dir);
std::vector<unsigned char> ChangeSourceBytes(const std::string& name);
// Whether any name of the list occurs in text.
bool MentionsAny(const std::string& text, const std::vector<std::string>& names);
// Polls until the condition holds; false when it still does not after the time given.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::seconds limit = std::chrono::seconds(60));
