#include "codec/data_matrix.h"

#include <cstdlib>
#include <cstring>

#include "frame/wcx.h"

namespace {

// Positions are linked a slice ahead of the read position; the ring of links keeps the
// slice and the window behind it.
constexpr int32_t kSlice = 65536;
constexpr int32_t kRing = 2 * kSlice;
constexpr int kMinHashBits = 8;
constexpr int kMaxHashBits = 16;
// Runs from the window start to a slice ahead: each takes at least 3 bytes.
constexpr int32_t kRunRing = 32768;

int CeilLog2(uint32_t n) {
    int bits = 0;
    while ((uint32_t(1) << bits) < n && bits < 31) ++bits;
    return bits;
}

// Whether any of eight positions starts three equal bytes, given the words at the
// first of them and at the two after it: a byte of x is zero exactly there.
inline bool HoldsRun(uint64_t at0, uint64_t at1, uint64_t at2) {
    constexpr uint64_t kOnes = 0x0101010101010101ull, kHigh = 0x8080808080808080ull;
    const uint64_t x = (at0 ^ at1) | (at1 ^ at2);
    return ((x - kOnes) & ~x & kHigh) != 0;
}

} // namespace

DataMatrix::DataMatrix(const unsigned char* data, uint32_t size, void* scratch, size_t scratchBytes)
    : m_data(data), m_size(int32_t(size)) {
    // About one bucket per position for small inputs, which are their own window.
    m_hashBits = CeilLog2(size);
    if (m_hashBits < kMinHashBits) m_hashBits = kMinHashBits;
    if (m_hashBits > kMaxHashBits) m_hashBits = kMaxHashBits;
    const int32_t ring = m_size <= kRing ? int32_t(1) << CeilLog2(size) : kRing;
    m_mask = ring - 1;
    const int32_t runs = m_size / 3 + 2 < kRunRing ? int32_t(1) << CeilLog2(uint32_t(m_size / 3 + 2)) : kRunRing;
    m_runMask = runs - 1;
    const size_t runBytes = size_t(runs) * sizeof(Run);
    if (scratch && ChainBytes(runBytes) <= scratchBytes) {
        PlaceChains(&m_short, scratch);
    } else {
        m_memory = AllocateChains(&m_short, runBytes);
        if (!m_memory) throw int(E_NO_MEMORY);
    }
    m_runs = reinterpret_cast<Run*>(m_short.previous + ring);
}

void DataMatrix::Restart(const unsigned char* data, uint32_t size) {
    m_data = data;
    m_size = int32_t(size);
    m_linkedEnd = 0;
    m_runCount = 0;
    m_runPlacesEnd = 0;
    std::memset(m_short.heads, 0xFF, (size_t(1) << m_hashBits) * sizeof(int32_t));
    // The long chains start again only when the searches ask for them.
    m_long = Chains{};
}

size_t DataMatrix::ChainBytes(size_t extra) const {
    return ((size_t(1) << m_hashBits) + size_t(m_mask) + 1) * sizeof(int32_t) + extra;
}

void DataMatrix::PlaceChains(Chains* chains, void* memory) const {
    const size_t heads = size_t(1) << m_hashBits;
    chains->heads = static_cast<int32_t*>(memory);
    chains->previous = chains->heads + heads;
    std::memset(chains->heads, 0xFF, heads * sizeof(int32_t));
}

void* DataMatrix::AllocateChains(Chains* chains, size_t extra) const {
    void* memory = std::malloc(ChainBytes(extra));
    if (memory) PlaceChains(chains, memory);
    return memory;
}

DataMatrix::~DataMatrix() {
    std::free(m_memory);
    std::free(m_longMemory);
}

// Places whose key bytes are all one byte go on no chain; the pass over the short keys
// records the runs they lie in.
template <int KeyLength> void DataMatrix::Link(const Chains& chains, int32_t start, int32_t end) {
    // A position starts a key only when its bytes exist.
    if (end > m_size - (KeyLength - 1)) end = m_size - (KeyLength - 1);
    const unsigned char* data = m_data;
    const int shift = 64 - m_hashBits;
    int32_t* heads = chains.heads;
    int32_t* previous = chains.previous;
    const uint64_t mask = uint64_t(m_mask);
    constexpr int kDropped = 64 - 8 * KeyLength; // bytes read beyond the key
    constexpr uint64_t kUniformMask = (uint64_t(1) << (8 * (KeyLength - 1))) - 1;
    // `link` is where p keeps the position's link.
    auto chainAt = [&](int32_t* link, uint64_t p, uint64_t key) KYRZBK_INLINE_LAMBDA {
        const uint64_t h = ((key << kDropped) * 0x9E3779B97F4A7C15ull) >> shift;
        *link = heads[h];
        heads[h] = int32_t(p);
    };
    auto chain = [&](uint64_t p, uint64_t key) KYRZBK_INLINE_LAMBDA { chainAt(previous + (p & mask), p, key); };
    auto link = [&](uint64_t p, uint64_t key) KYRZBK_INLINE_LAMBDA {
        if (((key ^ (key >> 8)) & kUniformMask) == 0) {
            if (KeyLength == 3) NoteRun(int32_t(p));
            return;
        }
        chain(p, key);
    };
    auto key = [&](uint64_t at) KYRZBK_INLINE_LAMBDA {
        uint64_t k;
        std::memcpy(&k, data + at, sizeof k);
        return k;
    };
    // Eight bytes are read for the key while they exist.
    const int32_t wideEnd = end < m_size - 7 ? end : m_size - 7;
    uint64_t p = uint64_t(start);
    for (; (p & 7) != 0 && int64_t(p) < wideEnd; ++p) link(p, key(p));
    // Most stretches of eight positions hold no key of one repeated byte: shown for all
    // eight at once, their links skip the test.
    for (; int64_t(p) + 16 <= wideEnd; p += 8) {
        if (HoldsRun(key(p), key(p + 1), key(p + 2))) {
            for (int k = 0; k < 8; ++k) link(p + k, key(p + k));
        } else {
            // The ring's size and p are multiples of 8: the eight links are side by side.
            int32_t* links = previous + (p & mask);
#if defined(__GNUC__)
#pragma GCC unroll 8
#endif
            for (int k = 0; k < 8; ++k) chainAt(links + k, p + k, key(p + k));
        }
    }
    for (; int64_t(p) < wideEnd; ++p) link(p, key(p));
    for (; int64_t(p) < end; ++p) {
        uint64_t last = 0;
        std::memcpy(&last, data + p, KeyLength);
        link(p, last);
    }
}

void DataMatrix::NoteRun(int32_t p) {
    if (p < m_runPlacesEnd) return;
    const unsigned char b = m_data[p];
    int32_t e = p + 3;
    while (e < m_size && m_data[e] == b) ++e;
    m_runs[m_runCount & m_runMask] = Run{p, e, -1, e < m_size ? int32_t(m_data[e]) : -1, -1};
    ++m_runCount;
    m_runPlacesEnd = e - 2;
}

int32_t DataMatrix::LinkNext() {
    const int32_t start = m_linkedEnd;
    const int32_t end = start + kSlice < m_size ? start + kSlice : m_size;
    Link<3>(m_short, start, end);
    if (m_long.heads) Link<kLongKey>(m_long, start, end);
    m_linkedEnd = end;
    // Positions without three bytes of their own start no match.
    return end < m_size - 2 ? end : m_size - 2;
}

const int32_t* DataMatrix::LinkLongKeys(int32_t from) {
    if (m_longMemory) {
        PlaceChains(&m_long, m_longMemory);
    } else {
        m_longMemory = AllocateChains(&m_long, 0);
        if (!m_longMemory) return nullptr;
    }
    Link<kLongKey>(m_long, from, m_linkedEnd);
    return m_long.previous;
}
