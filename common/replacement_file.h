// A new version of a file, written beside it and put in its place in one step, so that
// readers see either the old file or the complete new one, never a partial write.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

class ReplacementFile {
public:
    explicit ReplacementFile(const std::string& targetPath);
    ~ReplacementFile(); // an uncommitted temporary file is closed and deleted
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    // Creates the temporary file in the target's folder; false when it cannot be made.
    bool Create();
    FILE* File() const { return m_file; }
    const std::string& TemporaryPath() const { return m_tempPath; }
    // Closes the temporary file and moves it over the target. False when either step
    // fails; the temporary file is then gone and the target untouched.
    bool Commit();
    // Closes and deletes the temporary file now.
    void Discard();

private:
    std::string m_target;
    std::string m_tempPath;
    std::unique_ptr<char[]> m_buffer; // outlives m_file: every path closes the file first
    FILE* m_file = nullptr;
};

// Everything up to and including the last separator of a path ("" when there is none).
std::string FolderOf(const std::string& path);
