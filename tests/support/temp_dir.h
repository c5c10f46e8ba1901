// A scratch folder per test, removed afterwards, and small file helpers.
#pragma once

#include <string>
#include <vector>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    // path() joined with a relative name, with '/' as the separator.
    std::string File(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

std::vector<unsigned char> ReadFileBytes(const std::string& path);
std::string ReadFileText(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<unsigned char>& bytes);
void WriteFileText(const std::string& path, const std::string& text);
bool FileExists(const std::string& path);
// Bytes from a hex string such as "07 41 42"; blanks are ignored.
std::vector<unsigned char> Hex(const std::string& hex);
std::string ToHex(const std::vector<unsigned char>& bytes);
