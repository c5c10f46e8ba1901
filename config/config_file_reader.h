// Buffered reading of an open configuration file. The second-game layout jumps to each nested
// class body and back, so a few recently used pages are kept: stdio would refill its buffer on
// every such jump, and on every string, which is read twice.
#pragma once

#include <cstdint>
#include <cstdio>

class CConfigFileReader {
public:
    CConfigFileReader() = default;
    ~CConfigFileReader();
    CConfigFileReader(const CConfigFileReader&) = delete;
    CConfigFileReader& operator=(const CConfigFileReader&) = delete;

    // Reads from file (not owned) from now on; forgets what was cached of any earlier file.
    void Attach(FILE* file);
    void Detach() { Attach(nullptr); }

    void Seek(int64_t position);
    int64_t Tell() const { return m_position; }
    // Bytes handed out by the reads since Attach; seeks do not count.
    int64_t Consumed() const { return m_consumed; }
    // A page could not be allocated: read failures since then may be memory, not data.
    bool OutOfMemory() const { return m_outOfMemory; }

    // Each is false on a short read; the position has then moved by what could be read.
    bool ReadByte(uint8_t* value);
    bool ReadBytes(void* out, int32_t n);
    bool ReadU32(uint32_t* value);
    bool ReadI32(int32_t* value);
    bool ReadFloat(float* value);

    // 7 bits per byte, low group first; a top bit in the first three bytes means another byte
    // follows, and the fourth byte counts whole. -1 on a short read or a continuation byte of 0,
    // which keeps every value to its one shortest encoding.
    int32_t ReadCompressedInt();

    // A zero-terminated string as a new block (freed with std::free), terminator included.
    // Null when not even the first byte can be read or memory runs out. *terminated tells
    // whether the 0 byte came before the end of the file.
    char* ReadZString(bool* terminated);

private:
    struct Page {
        int64_t start = -1;
        int32_t length = 0;
        uint64_t lastUse = 0;
        uint8_t* data = nullptr;
    };
    static constexpr int kPageCount = 8;
    static constexpr int32_t kPageSize = 32 * 1024;

    // Makes the page holding the position current; false at the end of the file or on failure.
    bool Refill();
    void ReleasePages();

    FILE* m_file = nullptr;
    Page m_pages[kPageCount];
    Page* m_current = nullptr;
    uint64_t m_useClock = 0;
    const uint8_t* m_cursor = nullptr; // inside the current page, at m_position
    const uint8_t* m_limit = nullptr;
    int64_t m_position = 0;
    int64_t m_consumed = 0;
    bool m_outOfMemory = false;
};
