// Match finding for the entry compressor. The stream format fixes every token, so these
// searches must give exactly the answers of the original two-byte position matrix:
// among the window positions c (at most 4095 back, c <= pos - 3) the longest match
// that does not overlap the read position, capped at 18 and at the bytes left, the
// farthest one back winning among equals. Only the way of getting there differs: the
// positions are chained by their first 3 bytes and by their first 8 bytes, so that long
// matches are found among the few places that share 8 bytes instead of among every
// place that shares 2, and the tables are sized to the input.
#pragma once

#include <cstddef>
#include <cstdint>

struct MatchResult {
    int length = -1; // -1: no match of at least 3 bytes
    uint32_t distance = 0;
};

// Bytes that repeat at distance 1 or 2 from cur, the repetition included (overlapping
// references). 18 at distance 1 is preferred, then 18 at distance 2, then the longer run,
// distance 1 on equal lengths.
MatchResult FindRunMatch(const unsigned char* data, uint32_t size, uint32_t cur);

class DataMatrix {
public:
    // Throws the int 11 when memory runs out.
    DataMatrix(const unsigned char* data, uint32_t size);
    ~DataMatrix();
    DataMatrix(const DataMatrix&) = delete;
    DataMatrix& operator=(const DataMatrix&) = delete;

    // The best non-overlapping match at pos that is longer than `shorter` (a length the
    // caller already has). Read positions must come in ascending order, and every call
    // counts as a search of pos's key even when nothing can beat `shorter`: the original
    // matrix hands out position 0 only to the first search of its key while the window
    // still starts at 0, and this keeps the same account.
    MatchResult FindMatrixMatch(uint32_t pos, int shorter);

private:
    struct Bucket {
        int32_t first; // oldest chained position; may lie before the window until searched
        int32_t last;  // newest chained position
    };
    struct Chain {
        Bucket* buckets;
        int32_t* next; // following position of the same bucket, by position modulo the ring
    };

    void IndexUpTo(int32_t end);
    void Insert(Chain& chain, uint32_t bucket, int32_t p);
    int32_t FirstInWindow(Chain& chain, uint32_t bucket, int32_t low);
    int Walk(const Chain& chain, int32_t c, int32_t pos, int best, int maxLen, int upper, int32_t* bestAt) const;
    uint32_t ShortKey(int32_t p) const;
    uint32_t LongKey(int32_t p) const;

    const unsigned char* m_data;
    int32_t m_size;
    int32_t m_indexed = 0; // first position not yet chained
    bool m_zeroTaken = false; // position 0 already handed out
    bool m_skipZero = false;  // ... before the search in progress
    int m_tableShift;
    int32_t m_ringMask;
    Chain m_short;
    Chain m_long;
    void* m_memory = nullptr;
};
