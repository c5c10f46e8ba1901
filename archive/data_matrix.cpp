#include "archive/data_matrix.h"

#include <cstdlib>
#include <cstring>

#include "frame/wcx.h"

namespace {

constexpr int32_t kWindow = 4095;
constexpr int kMaxLength = 18;
// Slices overlap by the window, so a longer slice re-indexes less; up to 65536 positions
// are kept as 16-bit offsets from the slice start.
constexpr int32_t kMaxSlice = 65536;
constexpr int kMaxTableBits = 14; // buckets are numbered in 16 bits
constexpr int kMinTableBits = 4;
constexpr int kSmallTableBits = 11;
// Sorting a slice by one more key costs about as much as meeting a few places per
// position in searches; when the longest key's searches meet more than this many per
// position read (and more than a minimum in all), the next longer key is indexed too.
constexpr int64_t kCrowdedPerPosition = 4;
constexpr int64_t kCrowdedMinimum = 16384;
// Groups of the 3-byte key up to this size are walked whole even when longer keys exist.
constexpr uint32_t kSmallGroup = 32;
// Keeping count of the window's keys costs every position a little and spares a literal's
// search; it pays only on small inputs, where most searches end as literals.
constexpr int32_t kPresenceInput = 2048;

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
inline int MatchLength(const unsigned char* a, const unsigned char* b, int limit, bool wide) {
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

// Hash of the KeyLength bytes at s into 2^bits buckets. `wide` says that 8 bytes may be read.
template <int KeyLength> uint32_t Bucket(const unsigned char* s, bool wide, int bits) {
    uint64_t key = 0;
    if (wide) {
        key = Load64(s);
    } else {
        std::memcpy(&key, s, KeyLength);
    }
    if (KeyLength < 8) key &= (uint64_t(1) << (8 * KeyLength)) - 1;
    return uint32_t((key * 0x9E3779B97F4A7C15ull) >> (64 - bits));
}

constexpr int KeyLengthOf(int level) { return level == 0 ? 3 : level == 1 ? 5 : 8; }

int CeilLog2(uint32_t n) {
    int bits = 0;
    while ((uint32_t(1) << bits) < n && bits < 31) ++bits;
    return bits;
}

} // namespace

MatchResult FindRunMatch(const unsigned char* data, uint32_t size, uint32_t cur) {
    MatchResult none;
    if (size - cur < 3) return none;
    if (data[cur] != data[cur - 1] && data[cur] != data[cur - 2]) return none;
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
    m_sliceLength = m_size < kMaxSlice ? m_size : kMaxSlice;
    // About four positions per bucket for long slices, whose window holds a small part of
    // them. A small input is its own window, where four to a bucket would send every
    // search through other keys' places: one bucket per position up to kSmallTableBits.
    const int positionBits = CeilLog2(uint32_t(m_sliceLength));
    m_tableBits = positionBits - 2;
    if (m_tableBits < kSmallTableBits) m_tableBits = positionBits < kSmallTableBits ? positionBits : kSmallTableBits;
    if (m_tableBits > kMaxTableBits) m_tableBits = kMaxTableBits;
    if (m_tableBits < kMinTableBits) m_tableBits = kMinTableBits;
    const size_t groupBytes = (size_t(1) << m_tableBits) * sizeof(Group);
    const size_t offsetBytes = (size_t(m_sliceLength) * sizeof(uint16_t) + 7) & ~size_t(7);
    // Twice as many buckets as the input has places (counts stay below 2^16); larger inputs
    // go without.
    m_presenceBits = m_size <= kPresenceInput ? CeilLog2(uint32_t(m_size)) + 1 : 0;
    const size_t presenceBytes = m_presenceBits ? ((size_t(1) << m_presenceBits) * sizeof(uint16_t) + 7) & ~size_t(7) : 0;
    m_memory = std::malloc(kLevels * (groupBytes + offsetBytes) + offsetBytes + presenceBytes);
    if (!m_memory) throw int(E_NO_MEMORY);
    unsigned char* block = static_cast<unsigned char*>(m_memory);
    for (Index& index : m_index) {
        index.groups = reinterpret_cast<Group*>(block);
        index.offsets = reinterpret_cast<uint16_t*>(block + groupBytes);
        block += groupBytes + offsetBytes;
    }
    m_scratch = reinterpret_cast<uint16_t*>(block);
    block += offsetBytes;
    m_presence = reinterpret_cast<uint16_t*>(block);
    if (presenceBytes) std::memset(m_presence, 0, presenceBytes);
    Build(0);
}

DataMatrix::~DataMatrix() { std::free(m_memory); }

// A counting sort of the positions by bucket, which leaves each group ascending.
template <int KeyLength> void DataMatrix::Sort(Index& index, int32_t start, int32_t end) {
    const size_t buckets = size_t(1) << m_tableBits;
    const int bits = m_tableBits;
    Group* groups = index.groups;
    uint16_t* bucketOf = m_scratch;
    std::memset(groups, 0, buckets * sizeof(Group));
    const int32_t wideEnd = end < m_size - 7 ? end : m_size - 7;
    for (int32_t p = start; p < end; ++p) {
        uint32_t h = Bucket<KeyLength>(m_data + p, p < wideEnd, bits);
        bucketOf[p - start] = uint16_t(h);
        ++groups[h].end;
    }
    uint32_t next = 0;
    for (size_t h = 0; h < buckets; ++h) {
        uint32_t count = groups[h].end;
        groups[h].cursor = groups[h].end = next;
        next += count;
    }
    // The end of each group serves as its fill mark and arrives where it belongs.
    uint16_t* offsets = index.offsets;
    for (int32_t i = 0; i < end - start; ++i) offsets[groups[bucketOf[i]].end++] = uint16_t(i);
}

void DataMatrix::BuildLevel(int level) {
    // A position is indexed only when its key bytes exist; later positions can never
    // be matched that far anyway, since every candidate lies before the read position.
    const int32_t sliceEnd = m_sliceStart + m_sliceLength;
    const int32_t keyEnd = m_size - (KeyLengthOf(level) - 1);
    const int32_t end = sliceEnd < keyEnd ? sliceEnd : keyEnd;
    const int32_t start = m_sliceStart < end ? m_sliceStart : end;
    switch (level) {
    case 0: Sort<3>(m_index[0], start, end); break;
    case 1: Sort<5>(m_index[1], start, end); break;
    default: Sort<8>(m_index[2], start, end); break;
    }
}

void DataMatrix::Build(int32_t start) {
    m_sliceStart = start;
    const int32_t end = start + m_sliceLength;
    m_sliceEnd = end < m_size - 2 ? end : m_size - 2;
    for (int level = 0; level < m_levels; ++level) BuildLevel(level);
    m_topWalked = 0;
    m_topSince = start;
}

template <int KeyLength> DataMatrix::Group& DataMatrix::GroupAt(int level, int32_t pos) {
    return m_index[level].groups[Bucket<KeyLength>(m_data + pos, int64_t(pos) + 8 <= m_size, m_tableBits)];
}

template <int KeyLength>
const uint16_t* DataMatrix::GroupInWindow(int level, int32_t pos, int32_t low, const uint16_t** end) {
    Group& group = GroupAt<KeyLength>(level, pos);
    const uint16_t* offsets = m_index[level].offsets;
    const int32_t lowOffset = low - m_sliceStart;
    uint32_t i = group.cursor;
    while (i < group.end && offsets[i] < lowOffset) ++i;
    group.cursor = i;
    // Position 0, the smallest of all, can only lead its group.
    if (i < group.end && m_skipZero && m_sliceStart + offsets[i] == 0) ++i;
    *end = offsets + group.end;
    return offsets + i;
}

int DataMatrix::Walk(const uint16_t*& c, const uint16_t* end, int32_t pos, int best, int maxLen, int upper,
                     int32_t* bestAt) const {
    const int32_t sliceStart = m_sliceStart;
    const unsigned char* base = m_data + sliceStart;
    const unsigned char* here = m_data + pos;
    const int32_t at = pos - sliceStart;
    const bool wide = int64_t(pos) + 24 <= m_size;
    // Ascending positions: the first to reach a length is the farthest back, and once the
    // distance itself is no longer than the best length, no later position can do better.
    int32_t stop = at - best;
    int32_t found = -1;
    unsigned char next = here[best];
    for (; c < end; ++c) {
        const int32_t p = *c;
        if (p >= stop) break;
        if (base[p + best] != next) continue;
        const int32_t distance = at - p;
        int n = MatchLength(base + p, here, distance < maxLen ? int(distance) : maxLen, wide);
        if (n > best) {
            best = n;
            found = p;
            if (best >= upper) break;
            stop = at - best;
            next = here[best];
        }
    }
    if (found >= 0) *bestAt = sliceStart + found;
    return best;
}

template <int KeyLength>
bool DataMatrix::Search(int level, int32_t pos, int32_t low, int floor, int maxLen, int upper, MatchResult* found) {
    const uint16_t* end = nullptr;
    const uint16_t* first = GroupInWindow<KeyLength>(level, pos, low, &end);
    const uint16_t* c = first;
    int32_t bestAt = -1;
    int best = Walk(c, end, pos, floor, maxLen, upper, &bestAt);
    if (level == m_levels - 1) m_topWalked += c - first;
    if (bestAt < 0) return false;
    *found = MatchResult{best, uint32_t(pos - bestAt)};
    return true;
}

uint32_t DataMatrix::PresenceBucket(int32_t pos) const {
    const unsigned char* s = m_data + pos;
    const uint32_t key = s[0] | uint32_t(s[1]) << 8 | uint32_t(s[2]) << 16;
    return (key * 0x9E3779B1u) >> (32 - m_presenceBits);
}

void DataMatrix::SlideWindow(int32_t low, int32_t pos) {
    // Tokens are far shorter than the window, so the two ends never cross.
    const int32_t to = pos - 2;
    for (; m_presentFrom < low; ++m_presentFrom) --m_presence[PresenceBucket(m_presentFrom)];
    for (; m_presentTo < to; ++m_presentTo) ++m_presence[PresenceBucket(m_presentTo)];
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
    if (pos - 3 >= m_sliceEnd) Build(low);
    if (m_levels < kLevels && m_topWalked > kCrowdedMinimum + kCrowdedPerPosition * (pos - m_topSince)) {
        BuildLevel(m_levels++);
        m_topWalked = 0;
        m_topSince = pos;
    }
    if (shorter < 2) shorter = 2;
    if (shorter >= maxLen) return none;
    if (m_presenceBits) {
        SlideWindow(low, pos);
        if (m_presence[PresenceBucket(pos)] == 0) return none;
    }

    // A small group of the 3-byte key is walked whole; the longer keys serve where it is
    // crowded.
    MatchResult found;
    const Group& shortGroup = GroupAt<3>(0, pos);
    if (m_levels == 1 || shortGroup.end - shortGroup.cursor <= kSmallGroup) {
        Search<3>(0, pos, low, shorter, maxLen, maxLen, &found);
        return found;
    }

    // Every place that matches a key's length or more lies in that key's group; when one
    // of them beats both `shorter` and the key length - 1, the answer is among them.
    // Otherwise no match is longer than the key length - 1 and the next shorter key serves.
    int upper = maxLen;
    if (m_levels > 2 && maxLen >= 8) {
        if (Search<8>(2, pos, low, shorter > 7 ? shorter : 7, maxLen, upper, &found)) return found;
        if (shorter >= 7) return none;
        upper = 7;
    }
    if (m_levels > 1 && maxLen >= 5) {
        if (Search<5>(1, pos, low, shorter > 4 ? shorter : 4, maxLen, upper, &found)) return found;
        if (shorter >= 4) return none;
        upper = 4;
    }
    Search<3>(0, pos, low, shorter, maxLen, upper, &found);
    return found;
}

MatchResult DataMatrix::BestMatch(uint32_t pos) {
    MatchResult run = FindRunMatch(m_data, uint32_t(m_size), pos);
    if (run.length == kMaxLength) return run;
    MatchResult found = FindMatrixMatch(pos, run.length);
    return found.length > run.length ? found : run;
}
