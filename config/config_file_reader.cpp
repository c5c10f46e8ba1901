#include "config/config_file_reader.h"

#include <cstdlib>
#include <cstring>
#include <new>

CConfigFileReader::~CConfigFileReader() { ReleasePages(); }

void CConfigFileReader::ReleasePages() {
    for (Page& page : m_pages) {
        delete[] page.data;
        page = Page();
    }
    m_current = nullptr;
}

void CConfigFileReader::Attach(FILE* file) {
    m_file = file;
    for (Page& page : m_pages) {
        page.start = -1;
        page.length = 0;
    }
    m_current = nullptr;
    m_cursor = m_limit = nullptr;
    m_position = 0;
    m_consumed = 0;
    m_outOfMemory = false;
}

void CConfigFileReader::Seek(int64_t position) {
    m_position = position;
    // Short hops within the current page cost nothing.
    if (m_current && position >= m_current->start && position < m_current->start + m_current->length) {
        m_cursor = m_current->data + (position - m_current->start);
        m_limit = m_current->data + m_current->length;
    } else {
        m_cursor = m_limit = nullptr;
    }
}

bool CConfigFileReader::Refill() {
    m_cursor = m_limit = nullptr;
    if (!m_file || m_position < 0) return false;
    int64_t start = m_position - m_position % kPageSize;
    Page* page = nullptr;
    for (Page& p : m_pages) {
        if (p.start == start) {
            page = &p;
            break;
        }
    }
    if (!page) {
        page = &m_pages[0];
        for (Page& p : m_pages)
            if (p.lastUse < page->lastUse) page = &p;
        if (!page->data) {
            page->data = new (std::nothrow) uint8_t[kPageSize];
            if (!page->data) {
                m_outOfMemory = true;
                return false;
            }
        }
        page->start = -1;
        page->length = 0;
        if (std::fseek(m_file, static_cast<long>(start), SEEK_SET) != 0) return false;
        size_t got = std::fread(page->data, 1, kPageSize, m_file);
        page->start = start;
        page->length = static_cast<int32_t>(got);
    }
    page->lastUse = ++m_useClock;
    m_current = page;
    if (m_position >= page->start + page->length) return false;
    m_cursor = page->data + (m_position - page->start);
    m_limit = page->data + page->length;
    return true;
}

bool CConfigFileReader::ReadByte(uint8_t* value) {
    if (m_cursor == m_limit && !Refill()) return false;
    *value = *m_cursor++;
    ++m_position;
    ++m_consumed;
    return true;
}

bool CConfigFileReader::ReadBytes(void* out, int32_t n) {
    uint8_t* dest = static_cast<uint8_t*>(out);
    while (n > 0) {
        if (m_cursor == m_limit && !Refill()) return false;
        int32_t chunk = static_cast<int32_t>(m_limit - m_cursor);
        if (chunk > n) chunk = n;
        std::memcpy(dest, m_cursor, static_cast<size_t>(chunk));
        m_cursor += chunk;
        m_position += chunk;
        m_consumed += chunk;
        dest += chunk;
        n -= chunk;
    }
    return true;
}

bool CConfigFileReader::ReadU32(uint32_t* value) {
    uint8_t b[4];
    if (!ReadBytes(b, 4)) return false;
    *value = static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 | static_cast<uint32_t>(b[2]) << 16 |
             static_cast<uint32_t>(b[3]) << 24;
    return true;
}

bool CConfigFileReader::ReadI32(int32_t* value) {
    uint32_t u;
    if (!ReadU32(&u)) return false;
    std::memcpy(value, &u, sizeof u);
    return true;
}

bool CConfigFileReader::ReadFloat(float* value) {
    uint32_t u;
    if (!ReadU32(&u)) return false;
    std::memcpy(value, &u, sizeof u);
    return true;
}

int32_t CConfigFileReader::ReadCompressedInt() {
    uint8_t b;
    if (!ReadByte(&b)) return -1;
    int32_t value = b & 0x7F;
    for (int shift = 7; (b & 0x80) && shift <= 21; shift += 7) {
        if (!ReadByte(&b) || b == 0) return -1;
        // The fourth byte is the last one and all its bits count.
        value |= static_cast<int32_t>(shift == 21 ? b : (b & 0x7F)) << shift;
    }
    return value;
}

char* CConfigFileReader::ReadZString(bool* terminated) {
    *terminated = false;
    if (m_cursor == m_limit && !Refill()) return nullptr;
    // Most strings end within the current page: one scan, one copy.
    const uint8_t* zero = static_cast<const uint8_t*>(std::memchr(m_cursor, 0, static_cast<size_t>(m_limit - m_cursor)));
    if (zero) {
        size_t n = static_cast<size_t>(zero - m_cursor) + 1;
        char* s = static_cast<char*>(std::malloc(n));
        if (!s) return nullptr;
        std::memcpy(s, m_cursor, n);
        m_cursor += n;
        m_position += static_cast<int64_t>(n);
        m_consumed += static_cast<int64_t>(n);
        *terminated = true;
        return s;
    }
    size_t size = 0, capacity = 64;
    char* s = static_cast<char*>(std::malloc(capacity));
    if (!s) return nullptr;
    uint8_t c;
    while (ReadByte(&c)) {
        if (size + 1 >= capacity) {
            char* grown = static_cast<char*>(std::realloc(s, capacity * 2));
            if (!grown) {
                std::free(s);
                return nullptr;
            }
            s = grown;
            capacity *= 2;
        }
        s[size++] = static_cast<char>(c);
        if (c == 0) {
            *terminated = true;
            return s;
        }
    }
    // Ended with the file: terminated here so that the caller can still free and inspect it.
    s[size] = 0;
    return s;
}
