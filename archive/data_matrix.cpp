#include "archive/data_matrix.h"

#include <cstdlib>

#include "frame/wcx.h"

using namespace match_detail;

namespace {

// Positions are linked a slice ahead of the read position; the ring of links keeps the
// slice and the window behind it.
constexpr int32_t kSlice = 65536;
constexpr int32_t kRing = 2 * kSlice;
constexpr int kMinHashBits = 8;
constexpr int kMaxHashBits = 16;

int CeilLog2(uint32_t n) {
    int bits = 0;
    while ((uint32_t(1) << bits) < n && bits < 31) ++bits;
    return bits;
}

} // namespace

DataMatrix::DataMatrix(const unsigned char* data, uint32_t size) : m_data(data), m_size(int32_t(size)) {
    // About one bucket per position for small inputs, which are their own window.
    m_hashBits = CeilLog2(size);
    if (m_hashBits < kMinHashBits) m_hashBits = kMinHashBits;
    if (m_hashBits > kMaxHashBits) m_hashBits = kMaxHashBits;
    const size_t heads = size_t(1) << m_hashBits;
    const int32_t ring = m_size <= kRing ? int32_t(1) << CeilLog2(size) : kRing;
    m_mask = ring - 1;
    m_memory = std::malloc((heads + size_t(ring)) * sizeof(int32_t));
    if (!m_memory) throw int(E_NO_MEMORY);
    m_heads = static_cast<int32_t*>(m_memory);
    m_previous = m_heads + heads;
    std::memset(m_heads, 0xFF, heads * sizeof(int32_t));
}

DataMatrix::~DataMatrix() { std::free(m_memory); }

int32_t DataMatrix::LinkNext() {
    // Positions without three bytes of their own start no match.
    const int32_t keyEnd = m_size - 2;
    const int32_t start = m_linkedEnd;
    const int32_t end = start + kSlice < keyEnd ? start + kSlice : keyEnd;
    const unsigned char* data = m_data;
    const int shift = 32 - m_hashBits;
    int32_t* heads = m_heads;
    int32_t* previous = m_previous;
    const int32_t mask = m_mask;
    // Four bytes are read for three while one more byte follows.
    const int32_t wideEnd = end < m_size - 3 ? end : m_size - 3;
    int32_t p = start;
    for (; p < wideEnd; ++p) {
        uint32_t key;
        std::memcpy(&key, data + p, sizeof key);
        const uint32_t h = ((key & 0xFFFFFF) * 0x9E3779B1u) >> shift;
        previous[p & mask] = heads[h];
        heads[h] = p;
    }
    for (; p < end; ++p) {
        const uint32_t key = data[p] | uint32_t(data[p + 1]) << 8 | uint32_t(data[p + 2]) << 16;
        const uint32_t h = (key * 0x9E3779B1u) >> shift;
        previous[p & mask] = heads[h];
        heads[h] = p;
    }
    m_linkedEnd = end;
    return end;
}
