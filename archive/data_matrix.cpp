#include "archive/data_matrix.h"

#include <cstdlib>
#include <cstring>

#include "frame/wcx.h"

namespace {

constexpr int32_t kWindow = 4095;
constexpr int kMaxLength = 18;
constexpr int kLongKey = 8;
constexpr int32_t kNone = INT32_MAX;
// Marks a bucket that has never been used: older than any window.
constexpr int32_t kEmpty = INT32_MIN / 2;
constexpr int kMaxTableBits = 15;
constexpr int kMinTableBits = 4;
// A chain may still start up to one window before the window of its newest position,
// so the ring of links must reach two windows back.
constexpr int kMaxRingBits = 14;

uint64_t Load64(const unsigned char* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

#if defined(__GNUC__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr bool kWordCompare = true;
int FirstDifferentByte(uint64_t x) { return __builtin_ctzll(x) >> 3; }
#else
constexpr bool kWordCompare = false;
int FirstDifferentByte(uint64_t) { return 0; }
#endif

// Length of the common prefix of a and b, at most limit (<= 18). `wide` says that 24
// bytes may be read from both places.
int MatchLength(const unsigned char* a, const unsigned char* b, int limit, bool wide) {
    if (kWordCompare && wide) {
        int n;
        uint64_t x = Load64(a) ^ Load64(b);
        if (x) {
            n = FirstDifferentByte(x);
        } else if ((x = Load64(a + 8) ^ Load64(b + 8)) != 0) {
            n = 8 + FirstDifferentByte(x);
        } else {
            x = Load64(a + 16) ^ Load64(b + 16);
            n = x ? 16 + FirstDifferentByte(x) : 24;
        }
        return n < limit ? n : limit;
    }
    int n = 0;
    while (n < limit && a[n] == b[n]) ++n;
    return n;
}

int CeilLog2(uint32_t n) {
    int bits = 0;
    while ((uint32_t(1) << bits) < n && bits < 31) ++bits;
    return bits;
}

} // namespace

MatchResult FindRunMatch(const unsigned char* data, uint32_t size, uint32_t cur) {
    MatchResult none;
    if (size - cur < 3) return none;
    int cap = size - cur < uint32_t(kMaxLength) ? int(size - cur) : kMaxLength;
    bool wide = uint64_t(cur) + 24 <= size;
    int run1 = MatchLength(data + cur - 1, data + cur, cap, wide);
    if (run1 == kMaxLength) return MatchResult{run1, 1};
    int run2 = MatchLength(data + cur - 2, data + cur, cap, wide);
    if (run2 == kMaxLength) return MatchResult{run2, 2};
    if (run1 < 3 && run2 < 3) return none;
    return run1 >= run2 ? MatchResult{run1, 1} : MatchResult{run2, 2};
}

DataMatrix::DataMatrix(const unsigned char* data, uint32_t size) : m_data(data), m_size(int32_t(size)) {
    int tableBits = CeilLog2(size);
    if (tableBits > kMaxTableBits) tableBits = kMaxTableBits;
    if (tableBits < kMinTableBits) tableBits = kMinTableBits;
    m_tableShift = 32 - tableBits;
    int ringBits = CeilLog2(size);
    if (ringBits > kMaxRingBits) ringBits = kMaxRingBits;
    int32_t ring = int32_t(1) << ringBits;
    m_ringMask = ring - 1;

    size_t tableSize = size_t(1) << tableBits;
    size_t bucketBytes = tableSize * sizeof(Bucket);
    size_t ringBytes = size_t(ring) * sizeof(int32_t);
    m_memory = std::malloc(2 * bucketBytes + 2 * ringBytes);
    if (!m_memory) throw int(E_NO_MEMORY);
    unsigned char* block = static_cast<unsigned char*>(m_memory);
    m_short.buckets = reinterpret_cast<Bucket*>(block);
    m_long.buckets = reinterpret_cast<Bucket*>(block + bucketBytes);
    m_short.next = reinterpret_cast<int32_t*>(block + 2 * bucketBytes);
    m_long.next = reinterpret_cast<int32_t*>(block + 2 * bucketBytes + ringBytes);
    for (size_t i = 0; i < tableSize; ++i) {
        m_short.buckets[i].last = kEmpty;
        m_long.buckets[i].last = kEmpty;
    }
}

DataMatrix::~DataMatrix() { std::free(m_memory); }

uint32_t DataMatrix::ShortKey(int32_t p) const {
    const unsigned char* s = m_data + p;
    uint32_t v = s[0] | uint32_t(s[1]) << 8 | uint32_t(s[2]) << 16;
    return (v * 0x9E3779B1u) >> m_tableShift;
}

uint32_t DataMatrix::LongKey(int32_t p) const {
    return uint32_t((Load64(m_data + p) * 0x9E3779B97F4A7C15ull) >> (32 + m_tableShift));
}

void DataMatrix::Insert(Chain& chain, uint32_t bucket, int32_t p) {
    Bucket& b = chain.buckets[bucket];
    if (b.last < p - kWindow) {
        b.first = p;
    } else {
        chain.next[b.last & m_ringMask] = p;
        // Keeps every chained link inside the ring: nothing older than one window
        // before the newest position survives.
        while (b.first < p - kWindow) b.first = chain.next[b.first & m_ringMask];
    }
    b.last = p;
    chain.next[p & m_ringMask] = kNone;
}

void DataMatrix::IndexUpTo(int32_t end) {
    for (int32_t p = m_indexed; p < end; ++p) {
        Insert(m_short, ShortKey(p), p);
        if (p + kLongKey <= m_size) Insert(m_long, LongKey(p), p);
    }
    if (end > m_indexed) m_indexed = end;
}

int32_t DataMatrix::FirstInWindow(Chain& chain, uint32_t bucket, int32_t low) {
    Bucket& b = chain.buckets[bucket];
    if (b.last < low) return -1;
    int32_t c = b.first;
    while (c < low) c = chain.next[c & m_ringMask];
    b.first = c;
    return c;
}

int DataMatrix::Walk(const Chain& chain, int32_t c, int32_t pos, int best, int maxLen, int upper,
                     int32_t* bestAt) const {
    const unsigned char* here = m_data + pos;
    bool wide = int64_t(pos) + 24 <= m_size;
    // Ascending positions: the first to reach a length is the farthest back, and once the
    // distance itself is no longer than the best length, no later position can do better.
    for (; c <= pos - 3; c = chain.next[c & m_ringMask]) {
        int32_t distance = pos - c;
        if (distance <= best) break;
        if (c == 0 && m_skipZero) continue;
        const unsigned char* there = m_data + c;
        if (there[best] != here[best]) continue;
        int limit = distance < maxLen ? int(distance) : maxLen;
        int n = MatchLength(there, here, limit, wide);
        if (n > best) {
            best = n;
            *bestAt = c;
            if (best >= upper) break;
        }
    }
    return best;
}

MatchResult DataMatrix::FindMatrixMatch(uint32_t at, int shorter) {
    MatchResult none;
    const int32_t pos = int32_t(at);
    const int32_t remaining = m_size - pos;
    if (remaining < 3) return none;
    m_skipZero = m_zeroTaken;
    if (m_data[pos] == m_data[0] && m_data[pos + 1] == m_data[1]) m_zeroTaken = true;

    const int32_t low = pos > kWindow ? pos - kWindow : 0;
    const int maxLen = remaining < kMaxLength ? int(remaining) : kMaxLength;
    IndexUpTo(pos - 2);
    if (shorter < 2) shorter = 2;
    if (shorter >= maxLen) return none;

    int32_t bestAt = -1;
    int upper = maxLen;
    if (maxLen >= kLongKey) {
        // Every place that matches 8 bytes or more shares the long chain; when one of them
        // beats `shorter`, the answer is among them.
        int floor = shorter > kLongKey - 1 ? shorter : kLongKey - 1;
        int32_t c = FirstInWindow(m_long, LongKey(pos), low);
        if (c >= 0) {
            int best = Walk(m_long, c, pos, floor, maxLen, maxLen, &bestAt);
            if (bestAt >= 0) return MatchResult{best, uint32_t(pos - bestAt)};
        }
        if (shorter >= kLongKey - 1) return none;
        upper = kLongKey - 1;
    }
    int32_t c = FirstInWindow(m_short, ShortKey(pos), low);
    if (c < 0) return none;
    int best = Walk(m_short, c, pos, shorter, maxLen, upper, &bestAt);
    if (bestAt < 0) return none;
    return MatchResult{best, uint32_t(pos - bestAt)};
}
