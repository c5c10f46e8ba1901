#include "tests/support/temp_dir.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

TempDir::TempDir() {
    static std::atomic<unsigned> serial{0};
    fs::path base = fs::temp_directory_path();
    for (;;) {
        fs::path p = base / ("kyrzbk-test-" + std::to_string(std::rand()) + "-" + std::to_string(serial++));
        std::error_code ec;
        if (fs::create_directory(p, ec)) {
            m_path = p.generic_string();
            return;
        }
    }
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(m_path, ec);
}

std::vector<unsigned char> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string ReadFileText(const std::string& path) {
    std::vector<unsigned char> b = ReadFileBytes(path);
    return std::string(b.begin(), b.end());
}

void WriteFileBytes(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

void WriteFileText(const std::string& path, const std::string& text) {
    WriteFileBytes(path, std::vector<unsigned char>(text.begin(), text.end()));
}

bool FileExists(const std::string& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

std::vector<unsigned char> Hex(const std::string& hex) {
    std::vector<unsigned char> out;
    int pending = -1;
    for (char c : hex) {
        int v;
        if (c >= '0' && c <= '9') v = c - '0';
        else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
        else continue;
        if (pending < 0) {
            pending = v;
        } else {
            out.push_back(static_cast<unsigned char>(pending * 16 + v));
            pending = -1;
        }
    }
    if (pending >= 0) throw std::invalid_argument("odd number of hex digits");
    return out;
}

std::string ToHex(const std::vector<unsigned char>& bytes) {
    std::string out;
    char buf[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", bytes[i]);
        out += buf;
    }
    return out;
}
