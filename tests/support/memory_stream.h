// The streaming compressor over bytes in memory, for tests, benchmarks and fuzz targets:
// an input that can fail after a given number of bytes, and an output that keeps every
// write apart, so that a test sees what reached the archive and in which pieces.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "codec/compressor.h"

namespace memory_stream {

using Bytes = std::vector<unsigned char>;

class Input : public CompressorInput {
public:
    // `failAfter`: the bytes given before every further read fails with `failure`.
    explicit Input(const Bytes& file, size_t failAfter = SIZE_MAX, int failure = 0)
        : m_file(file), m_failAfter(failAfter), m_failure(failure) {}
    int Read(unsigned char* into, size_t want, size_t* got) override {
        if (m_at + want > m_failAfter && m_failAfter < m_file.size()) return m_failure;
        *got = std::min(want, m_file.size() - m_at);
        if (*got) std::memcpy(into, m_file.data() + m_at, *got);
        m_at += *got;
        return 0;
    }

private:
    const Bytes& m_file;
    size_t m_at = 0;
    size_t m_failAfter;
    int m_failure;
};

class Output : public CompressorOutput {
public:
    // `failAt`: the write (counted from 0) that fails with `failure`.
    explicit Output(size_t failAt = SIZE_MAX, int failure = 0) : m_failAt(failAt), m_failure(failure) {}
    int Write(const unsigned char* bytes, size_t n) override {
        if (writes.size() == m_failAt) return m_failure;
        writes.emplace_back(bytes, bytes + n);
        return 0;
    }
    Bytes Joined() const {
        Bytes all;
        for (const Bytes& w : writes) all.insert(all.end(), w.begin(), w.end());
        return all;
    }
    std::vector<Bytes> writes;

private:
    size_t m_failAt;
    int m_failure;
};

// The stream of `file` (no prefix: the compressor adds it), or empty unless *result is 0.
inline Bytes Compress(const Bytes& file, size_t chunkBytes, int* result, const char* name = nullptr,
                      tProcessDataProc progress = nullptr) {
    Input input(file);
    Output output;
    *result = CompressStream(input, output, name, progress, chunkBytes);
    return *result == 0 ? output.Joined() : Bytes();
}

} // namespace memory_stream
