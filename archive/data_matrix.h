// Match finding for the entry compressor. The stream format fixes every token, so these
// searches must give exactly the answers of the original two-byte position matrix:
// among the window positions c (at most 4095 back, c <= pos - 3) the longest match
// that does not overlap the read position, capped at 18 and at the bytes left, the
// farthest one back winning among equals. Only the way of getting there differs: the
// positions of a slice are sorted by a hash of their first 3 bytes, and where searches
// keep meeting crowds of those (narrow alphabets) also by their first 5 and 8 bytes, so
// that a long match is looked for among the few places that share many bytes. All
// tables are sized to the input.
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

    // The token the encoder takes at pos: a run of 18 as it is, otherwise the matrix
    // match when it is longer than the run. Read positions must come in ascending order.
    MatchResult BestMatch(uint32_t pos);

    // The best non-overlapping match at pos that is longer than `shorter` (a length the
    // caller already has). Every call counts as a search of pos's key even when nothing
    // can beat `shorter`: the original matrix hands out position 0 only to the first
    // search of its key while the window still starts at 0, and this keeps the same account.
    MatchResult FindMatrixMatch(uint32_t pos, int shorter);

private:
    // Positions of the slice grouped by a hash of the key bytes that start there, each
    // group ascending, so that the oldest place in the window comes first. Positions are
    // kept as offsets from the slice start.
    struct Group {
        uint32_t cursor; // first entry not yet found to lie before the window
        uint32_t end;
    };
    struct Index {
        Group* groups;
        uint16_t* offsets;
    };
    static constexpr int kLevels = 3;

    void Build(int32_t start);
    // Brings the presence counts to the window [low, pos - 3] of a search at pos.
    void SlideWindow(int32_t low, int32_t pos);
    uint32_t PresenceBucket(int32_t pos) const;
    void BuildLevel(int level);
    template <int KeyLength> void Sort(Index& index, int32_t start, int32_t end);
    template <int KeyLength> Group& GroupAt(int level, int32_t pos);
    // The group's places from the window start on (dropping those before it for good).
    template <int KeyLength> const uint16_t* GroupInWindow(int level, int32_t pos, int32_t low, const uint16_t** end);
    template <int KeyLength>
    bool Search(int level, int32_t pos, int32_t low, int floor, int maxLen, int upper, MatchResult* found);
    // Leaves c where the walk stopped.
    int Walk(const uint16_t*& c, const uint16_t* end, int32_t pos, int best, int maxLen, int upper,
             int32_t* bestAt) const;

    const unsigned char* m_data;
    int32_t m_size;
    int32_t m_sliceLength;
    int32_t m_sliceStart = 0;
    int32_t m_sliceEnd = 0;     // first position the 3-byte index does not hold
    int m_levels = 1;           // indexes built for this slice and the following ones
    int64_t m_topWalked = 0;    // places met in the longest-key index since it was built
    int32_t m_topSince = 0;     // read position when it was built
    bool m_zeroTaken = false;   // position 0 already handed out
    bool m_skipZero = false;    // ... before the search in progress
    int m_tableBits;
    Index m_index[kLevels];     // keys of 3, 5 and 8 bytes
    // How many window positions start with each hash of 3 bytes, kept for the window of
    // the latest search (small inputs only): most literals are settled by a zero here.
    uint16_t* m_presence;
    int m_presenceBits;
    int32_t m_presentFrom = 0;  // first position counted
    int32_t m_presentTo = 0;    // first position not counted
    uint16_t* m_scratch;        // each slice position's bucket, between the two sorting passes
    void* m_memory = nullptr;
};
