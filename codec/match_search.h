// Match finding for the entry compressor. The stream format fixes every token, so these
// searches must give exactly the answers of the original two-byte position matrix:
// among the window positions c (at most 4095 back, c <= pos - 3) the longest match
// that does not overlap the read position, capped at 18 and at the bytes left, the
// farthest one back winning among equals. Only the way of getting there differs (see
// DataMatrix). Everything here is inline: it runs once per token, in the encoder's loop.
//
// The work of one search is bounded whatever the input: at most kWalkSteps + kFullSteps
// places of a chain and kTailSteps of a second one, or kRunSteps run records, then at
// most one scan of the window (4096 places, a test of three bytes each) or, without
// vectors, one pass over the places of a chain in the window (at most 4096, a comparison
// each); a period, once shown, is checked over at most 32 places and the bytes it has not
// checked before; a record's period is tried at kRecordTries places, and kRecordSteps
// places of at most two chains, before the window scan (or pass) up to where they
// stopped, or the usual search; a remembered answer costs one comparison of 18 bytes. The
// plain matrix search also weighs up to the whole window per token, so no input costs
// more than a small constant times it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "codec/data_matrix.h"

// KYRZBK_NO_VECTORS builds the bytewise paths of processors without SSE2 (the 32-bit
// plug-in) on any machine, so that the sanitizers and the fuzzers run them too.
#if defined(__SSE2__) && !defined(KYRZBK_NO_VECTORS)
#define KYRZBK_SSE2 1
#include <emmintrin.h>
#else
#define KYRZBK_SSE2 0
#endif

struct MatchResult {
    int length = -1; // -1: no match of at least 3 bytes
    uint32_t distance = 0;
};

namespace match_detail {

constexpr int32_t kWindow = 4095;
constexpr int kMaxLength = 18;

inline uint64_t Load64(const unsigned char* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

#if defined(__GNUC__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr bool kWordCompare = true;
inline int FirstDifferentByte(uint64_t x) {
    // Without 64-bit registers a count of 64 bits is a library call.
    if (sizeof(size_t) < 8) {
        const uint32_t low = uint32_t(x);
        return low ? __builtin_ctz(low) >> 3 : 4 + (__builtin_ctz(uint32_t(x >> 32)) >> 3);
    }
    return __builtin_ctzll(x) >> 3;
}
#else
constexpr bool kWordCompare = false;
inline int FirstDifferentByte(uint64_t) { return 0; }
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

// The first 16 bytes of a place, compared all at once where the processor can: whether
// a place matches 8 bytes or more is as hard to predict as whether it matches at all.
#if KYRZBK_SSE2
constexpr bool kVectorCompare = true;
using Bytes16 = __m128i;
inline Bytes16 LoadBytes16(const unsigned char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline int CommonPrefix16(const unsigned char* a, Bytes16 b) {
    const unsigned equal = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(LoadBytes16(a), b)));
    return __builtin_ctz(~equal); // bit 16 is always clear
}
#else
constexpr bool kVectorCompare = false;
struct Bytes16 {
    const unsigned char* p;
};
inline Bytes16 LoadBytes16(const unsigned char* p) { return Bytes16{p}; }
// Both places have 24 bytes to read, as for MatchLength's `wide`.
inline int CommonPrefix16(const unsigned char* a, Bytes16 b) { return MatchLength(a, b.p, 16, true); }
#endif

} // namespace match_detail

// Bytes that repeat at distance 1 or 2 from cur, the repetition included (overlapping
// references). 18 at distance 1 is preferred, then 18 at distance 2, then the longer run,
// distance 1 on equal lengths.
inline MatchResult FindRunMatch(const unsigned char* data, uint32_t size, uint32_t cur) {
    using namespace match_detail;
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

// The searches of one compression call, in read order.
class MatchSearch {
public:
    // `zeroFloor`: ZeroFloor() of the search over the chunk before, when data starts at the
    // input's start too; 0 for a fresh input.
    explicit MatchSearch(DataMatrix& matrix, const unsigned char* data, uint32_t size, int32_t zeroFloor = 0)
        : m_matrix(matrix), m_data(data), m_size(int32_t(size)), m_links(matrix.Links()), m_mask(matrix.Mask()),
          m_key0(data[0] | data[1] << 8), m_zeroFloor(zeroFloor), m_runs(matrix.Runs()), m_runMask(matrix.RunMask()),
          m_alikeBits(AlikeBits(matrix.RunMask())) {
        m_knownBits = 1;
        while (m_knownBits < kKnownBits && (uint32_t(64) << m_knownBits) < size) ++m_knownBits;
        for (int k = 0; k < 1 << m_knownBits; ++k) m_knownFull[k] = KnownFull{-1, 0, 0, -1};
    }

    // Whether position 0 has been handed out, for the search over the next chunk.
    int32_t ZeroFloor() const { return m_zeroFloor; }

    // What the searches over one chunk of an input learnt of its cost, so that those over
    // the next chunk need not learn it again; it changes no answer, only their speed.
    struct Habits {
        bool known = false;
        bool longKeys = false;
        int64_t walkedOverBudget = 0;
    };
    Habits Learnt() const { return Habits{true, m_longLinks != nullptr, m_walkedOverBudget}; }
    // Before the first search, with nothing linked yet: the long chains then grow with the
    // short ones from the start.
    void Resume(const Habits& habits) {
        if (!habits.known) return;
        m_walkedOverBudget = habits.walkedOverBudget;
        if (habits.longKeys) StartLongKeys(0);
    }

    // Links the positions of the next slice; returns the first position still unlinked.
    int32_t LinkNext() { return m_matrix.LinkNext(); }

    // The token the encoder takes at pos, a linked position with at least 3 bytes left: a
    // run of 18 as it is, otherwise the matrix match when it is longer than the run.
    // Most positions of most files are literals, so their path is kept short: one link
    // usually shows that no place can match.
    KYRZBK_INLINE MatchResult BestMatch(int32_t pos) {
        using namespace match_detail;
        MatchResult run;
        const unsigned char first = m_data[pos];
        if (first == m_data[pos - 1] || first == m_data[pos - 2]) {
            run = FindRunMatch(m_data, uint32_t(m_size), uint32_t(pos));
            if (run.length == kMaxLength) return run;
        }
        // From here on this is the matrix search.
        const int32_t low = pos > kWindow ? pos - kWindow : LowNearStart(pos);
        const bool inRun = first == m_data[pos + 1] && first == m_data[pos + 2];
        int32_t c = 0;
        if (!inRun) {
            c = Before(m_links, pos, pos - 2);
            if (c < low) return run;
        }
        const int32_t remaining = m_size - pos;
        const int maxLen = remaining < kMaxLength ? int(remaining) : kMaxLength;
        const int shorter = run.length < 2 ? 2 : run.length;
        if (shorter >= maxLen) return run;
        if (m_period) {
            MatchResult periodic;
            if (low >= m_recordAfter && RecordMatch(pos, low, maxLen, inRun, &periodic))
                return periodic.length > run.length ? periodic : run;
            if (m_period && m_period <= kMaxPeriod && PeriodicMatch(pos, low, maxLen, inRun, &periodic))
                return periodic;
        }
        // Every place that gives kLongKey bytes or more is on the long chain, unless those
        // bytes are all one; when none does, the answer is shorter and the short chain or
        // the runs hold it.
        if (m_longLinks && maxLen >= kLongKey && !(inRun && UniformFrom(pos))) {
            MatchResult found;
            if (SearchLongChain(pos, low, shorter, &found, maxLen)) return found;
            if (shorter >= kLongKey - 1) return run;
        }
        if (inRun) {
            MatchResult found = SearchRuns(pos, low, shorter + 1, maxLen);
            return found.length > run.length ? found : run;
        }
        MatchResult found = Walk(m_links, c, pos, low, shorter + 1, maxLen);
        if (m_walkedOverBudget > 0 && !m_longLinks) StartLongKeys(pos);
        return found.length > run.length ? found : run;
    }

private:
    // A farthest place of all 18 bytes found so far, by the bytes sought: from `low` up to
    // `to` none matches before `found` (-1: none at all). `sample` is a place where the bytes
    // stand, -1 for none.
    struct KnownFull {
        int32_t sample;
        int32_t low;
        int32_t to;
        int32_t found;
    };

    // The window start of a matrix search within the first window. Position 0 is the
    // oldest of all, and the original matrix hands it out once only, to the first search
    // of its two-byte key: leaving it out then raises the window start.
    int32_t LowNearStart(int32_t pos) {
        const int32_t low = m_zeroFloor;
        if (!m_zeroFloor && (m_data[pos] | m_data[pos + 1] << 8) == m_key0) m_zeroFloor = 1;
        return low;
    }

    // The newest place before `bound` on the chain through `at` (at itself not counted),
    // or one out of every window.
    KYRZBK_INLINE int32_t Before(const int32_t* links, int32_t at, int32_t bound) const {
        int32_t c = links[at & m_mask];
        while (c >= bound) c = links[c & m_mask];
        return c;
    }

    // Newest first: a place replaces the best so far when it is at least as long, so the
    // farthest of the longest wins. Until one is found it must reach `need`. A chain with
    // more places in the window than the walk may weigh is left there, and the window from
    // its start up to the place reached is scanned instead, farthest first.
    // Bound per search: at most kWalkSteps + kFullSteps places through the index (and
    // kTailSteps through the tail's chain), then the window scan: O(4096) byte tests.
    KYRZBK_INLINE MatchResult Walk(const int32_t* links, int32_t c, int32_t pos, int32_t low, int need,
                                   int maxLen) {
        using namespace match_detail;
        const unsigned char* here = m_data + pos;
        int32_t bestAt = -1;
        int32_t walked = 0;
        // Sixteen bytes of a place at once (bytewise where the processor has no vectors),
        // while 24 are left.
        if (int64_t(pos) + 24 <= m_size) {
            const Bytes16 here16 = LoadBytes16(here);
            // With 24 bytes left, maxLen is 18, and no place gives more than 18 bytes.
            auto length = [&](int32_t place) KYRZBK_INLINE_LAMBDA {
                int n = CommonPrefix16(m_data + place, here16);
                if (n == 16) n += MatchLength(m_data + place + 16, here + 16, 2, false);
                return n;
            };
            // Whether a place wins is what no branch predictor can guess.
            auto take = [&](int32_t place, int n) KYRZBK_INLINE_LAMBDA {
                const bool better = n >= need;
                bestAt = better ? place : bestAt;
                need = better ? n : need;
            };
            auto weigh = [&](int32_t place) KYRZBK_INLINE_LAMBDA {
                const int n = length(place);
                take(place, n < pos - place ? n : int(pos - place));
            };
            int32_t steps = kWalkSteps;
            // Places nearer than 18 bytes overlap the read position, which ends their match.
            if (c > pos - kMaxLength) {
                for (; c > pos - kMaxLength && c >= low && steps > 0 && need < kMaxLength - 1; c = links[c & m_mask]) {
                    --steps;
                    weigh(c);
                }
            }
            // The loop that most searches spend their time in: a place of 17 bytes or more is
            // rare outside repeating data, so it leaves the loop instead of being tested for
            // at every step.
            // Places here are at or after low: their offsets index as unsigned numbers, which
            // costs the processor no widening.
            if (c >= low && steps > 0 && need < kMaxLength - 1) {
                const uint32_t mask = uint32_t(m_mask);
                for (;;) {
                    int n = CommonPrefix16(m_data + uint32_t(c), here16);
                    if (n == 16) {
                        n += MatchLength(m_data + uint32_t(c) + 16, here + 16, 2, false);
                        if (n >= kMaxLength - 1) {
                            take(c, n);
                            --steps;
                            c = links[uint32_t(c) & mask];
                            break;
                        }
                    }
                    take(c, n);
                    c = links[uint32_t(c) & mask];
                    if (--steps == 0 || c < low) break;
                }
            }
            walked = kWalkSteps - steps;
            // Most chains end before this; what follows is for long ones.
            if (c >= low) return FinishWalk(links, c, pos, low, need, maxLen, bestAt, walked);
        } else {
            for (; c >= low && walked < kWalkSteps; c = links[c & m_mask]) {
                ++walked;
                const int32_t distance = pos - c;
                const int cap = distance < maxLen ? int(distance) : maxLen;
                const int n = MatchLength(m_data + c, here, cap, false);
                if (n >= need) {
                    bestAt = c;
                    need = n;
                }
            }
            if (c >= low) return FinishWalk(links, c, pos, low, need, maxLen, bestAt, walked);
        }
        m_walkedOverBudget += (need < kMaxLength - 1 ? walked : 0) - kWalkedPerSearch;
        return Found(bestAt, need, pos);
    }

    // The rest of a walk whose chain goes on into the window past the places it weighed,
    // from c on. Kept out of line: most walks end before.
    KYRZBK_NOINLINE MatchResult FinishWalk(const int32_t* links, int32_t c, int32_t pos, int32_t low, int need,
                                           int maxLen, int32_t bestAt, int32_t walked) {
        using namespace match_detail;
        const unsigned char* here = m_data + pos;
        bool remember = false; // the farthest place of all 18 bytes, for RecallFull
        if (int64_t(pos) + 24 <= m_size) {
            const Bytes16 here16 = LoadBytes16(here);
            // One byte short of 18 leaves little to win on a long chain: after kFullSteps
            // places the scan meets the rest faster than the links do.
            for (; c >= low && walked < kFullSteps && need == kMaxLength - 1; c = links[c & m_mask]) {
                ++walked;
                int n = CommonPrefix16(m_data + c, here16);
                if (n == 16) n += MatchLength(m_data + c + 16, here + 16, 2, false);
                if (n > pos - c) n = int(pos - c);
                if (n >= need) {
                    bestAt = c;
                    need = n;
                }
            }
            // Only places of all 18 bytes (24 are left) can win now. Boilerplate seeks the
            // same 18 bytes again and again, and the farthest place found last time still
            // is one while it is in the window.
            if (need == maxLen) {
                // The walk met the nearest place of all 18 bytes first: when the bytes come
                // back at twice its distance too, that distance is worth trying as a period.
                if (!m_period && pos - bestAt > kMaxPeriod && RepeatsTwice(pos, low, maxLen, pos - bestAt))
                    FindPeriod(pos, maxLen, pos - bestAt);
                const int32_t known = RecallFull(pos, low);
                if (known >= 0) {
                    m_walkedOverBudget -= kWalkedPerSearch;
                    return Found(known, need, pos);
                }
                remember = true;
            }
            // Repeating data has them all through the window, and the scan from its start
            // meets the farthest first.
            const int32_t fullSteps = need == maxLen ? kFullSteps : 0;
            for (int32_t k = 0; c >= low && k < fullSteps; ++k, c = links[c & m_mask]) {
                ++walked;
                // Boilerplate repeats often enough that which places are full is no pattern.
                const bool full = (pos - c >= kMaxLength) & (CommonPrefix16(m_data + c, here16) == 16) &
                                  (m_data[c + 16] == here[16]) & (m_data[c + 17] == here[17]);
                bestAt ^= (bestAt ^ c) & -int32_t(full);
            }
            if (c >= low && need == maxLen) FindPeriod(pos, maxLen, 0);
        }
        // Long walks pay for the long chains only where they end short of all 18 bytes:
        // repeating data ends them at 18, and its periods serve it better.
        m_walkedOverBudget += (need < kMaxLength - 1 ? walked : 0) - kWalkedPerSearch;
        // Every place from the window start to c is farther than those weighed: one of
        // them wins at `need` bytes already.
        if (c >= low && !FinishNearlyFull(pos, low, c, &bestAt, &need)) {
            if (need == maxLen) {
                const int32_t farthest = FarthestFull(links, pos, low, c, maxLen);
                if (farthest >= 0) bestAt = farthest;
            } else {
                ScanWindow(pos, low, c, maxLen, need, &bestAt, &need);
            }
        }
        if (remember && bestAt >= 0) m_knownFull[KnownBucket(here)] = KnownFull{pos, low, pos - maxLen, bestAt};
        return Found(bestAt, need, pos);
    }

    // The farthest place of the window at or after low that matches all 18 bytes at pos,
    // when an earlier search for the same bytes found it; -1 when none did.
    int32_t RecallFull(int32_t pos, int32_t low) const {
        const unsigned char* here = m_data + pos;
        const KnownFull& known = m_knownFull[KnownBucket(here)];
        // Nothing from known.low up to known.to matches before known.found.
        return known.found >= low && Holds(known, here, low) ? known.found : -1;
    }

    // Whether `known` answers for the 18 bytes at `here` (24 to read) with a window start
    // at or before low.
    bool Holds(const KnownFull& known, const unsigned char* here, int32_t low) const {
        using namespace match_detail;
        return known.sample >= 0 && known.low <= low &&
               MatchLength(m_data + known.sample, here, kMaxLength, true) == kMaxLength;
    }

    // The farthest place from low up to `to` that matches all maxLen bytes at pos, or -1;
    // `to` is a place on the chain of `links` that holds every such place. With vectors
    // that is a scan. Without, the answer is remembered for the bytes sought: repeating
    // data with breaks seeks the same bytes again after each break, and the input never
    // changes, so an answer holds until its place leaves the window, and a later search
    // only weighs the places that are new to it.
    int32_t FarthestFull(const int32_t* links, int32_t pos, int32_t low, int32_t to, int maxLen) {
        using namespace match_detail;
        if (kVectorCompare || maxLen != kMaxLength || int64_t(pos) + 24 > m_size)
            return FarthestFullIn(links, pos, low, to, maxLen);
        const unsigned char* here = m_data + pos;
        if (to > pos - maxLen) to = pos - maxLen;
        KnownFull& known = m_knownFull[KnownBucket(here)];
        int32_t from = low; // places before `from` are known to match less
        if (Holds(known, here, low)) {
            // Nothing from known.low up to known.to matches before known.found.
            if (known.found >= low) return known.found <= to ? known.found : -1;
            if (known.found < 0) {
                if (to <= known.to) return -1;
                if (known.to >= low) from = known.to + 1;
            }
        }
        const int32_t found = FarthestFullIn(links, pos, from, to, maxLen);
        known = KnownFull{pos, low, to, found};
        return found;
    }

    uint32_t KnownBucket(const unsigned char* here) const {
        const uint64_t head = match_detail::Load64(here), middle = match_detail::Load64(here + 8);
        const uint32_t h = uint32_t(head) * 0x9E3779B1u ^ uint32_t(head >> 32) * 0x85EBCA77u ^
                           uint32_t(middle) * 0xC2B2AE3Du ^ uint32_t(middle >> 32);
        return h >> (32 - m_knownBits);
    }

    // FarthestFull without remembering. Without vectors a scan costs more per place than
    // a link costs per place on the chain, where data that repeats puts one place per
    // period: the window start is probed, where the farthest place lies when one
    // repetition fills the window, and then the chain's places are weighed, oldest first.
    // Cost: a scan of kProbe places, at most 4096 links, a comparison per place kept.
    int32_t FarthestFullIn(const int32_t* links, int32_t pos, int32_t low, int32_t to, int maxLen) {
        using namespace match_detail;
        int32_t found = -1;
        int length = maxLen;
        const int32_t probeTo = kVectorCompare || to - low < kProbe ? to : low + kProbe - 1;
        ScanWindow(pos, low, probeTo, maxLen, maxLen, &found, &length);
        if (found >= 0 || probeTo >= to) return found;
        // Places on a chain only go back, and all are in the window: at most 4096. The
        // bound is kept here as well, since the ring's links before the window lead anywhere.
        int32_t count = 0;
        for (int32_t c = to; c > probeTo && count <= kWindow; c = links[c & m_mask]) m_chainPlaces[count++] = c;
        const bool wide = int64_t(pos) + 24 <= m_size;
        while (count > 0) {
            const int32_t c = m_chainPlaces[--count];
            if (pos - c >= maxLen && MatchLength(m_data + c, m_data + pos, maxLen, wide) == maxLen) return c;
        }
        return -1;
    }

    // After a walk that found 17 or 18 bytes, the places from low up to `to` can win only
    // with 17 or 18 bytes. A place of 18 shares the last three of them with pos, so the
    // chain of the key at pos + 15 holds every such place, and in records that share most
    // of their bytes it is much shorter than the chain at pos. When it holds none, the
    // farthest place of 17 bytes is the first one from the window start. False when that
    // chain is longer than kTailSteps places in the window, or cannot be used.
    bool FinishNearlyFull(int32_t pos, int32_t low, int32_t to, int32_t* bestAt, int* need) {
        using namespace match_detail;
        constexpr int32_t kTail = kMaxLength - 3;
        const int32_t tail = pos + kTail;
        if (*need < kMaxLength - 1 || int64_t(pos) + 24 > m_size || tail >= m_matrix.LinkedEnd()) return false;
        const unsigned char* here = m_data + pos;
        if (here[kTail] == here[kTail + 1] && here[kTail] == here[kTail + 2]) return false; // runs are on no chain
        const int32_t fullTo = to < pos - kMaxLength ? to : pos - kMaxLength;
        int32_t farthest = -1;
        int32_t steps = 0;
        for (int32_t m = m_links[tail & m_mask]; m - kTail >= low; m = m_links[m & m_mask]) {
            if (++steps > kTailSteps) return false;
            const int32_t c = m - kTail;
            if (c <= fullTo && MatchLength(m_data + c, here, kMaxLength, true) == kMaxLength) farthest = c;
        }
        if (farthest >= 0) {
            *bestAt = farthest;
            *need = kMaxLength;
        } else if (*need == kMaxLength - 1) {
            // No place of 18 bytes anywhere before: 17 is the longest, and the first is the farthest.
            ScanWindow(pos, low, to, kMaxLength - 1, kMaxLength - 1, bestAt, need);
        }
        return true;
    }

    // Every place from low up to `to`, farthest first: the first place of `want` bytes or
    // more wins, and after it only longer ones; a place of maxLen bytes ends the scan.
    // Cost: a test of three bytes per place (its first two and the last one it needs), at
    // most 4096 places, and a comparison of at most 18 bytes per place that passes it.
    void ScanWindow(int32_t pos, int32_t low, int32_t to, int maxLen, int want, int32_t* bestAt, int* need) const {
        using namespace match_detail;
        const unsigned char* here = m_data + pos;
        if (to > pos - want) to = pos - want;
        const unsigned char b0 = here[0], b1 = here[1];
        const bool wide = int64_t(pos) + 24 <= m_size;
        // True when the scan is over.
        auto weigh = [&](int32_t c) KYRZBK_INLINE_LAMBDA {
            const int cap = pos - c < maxLen ? int(pos - c) : maxLen;
            const int n = MatchLength(m_data + c, here, cap, wide);
            if (n < want) return false;
            *bestAt = c;
            *need = n;
            want = n + 1;
            if (to > pos - want) to = pos - want;
            return n == maxLen;
        };
        int32_t c = low;
#if KYRZBK_SSE2
        // Sixteen places at a time, by their first two bytes and the last one they need
        // (all before pos while the places are at most to).
        const __m128i first = _mm_set1_epi8(char(b0)), second = _mm_set1_epi8(char(b1));
        // The last byte needed moves only when a place wins. The places of a block that
        // passed the test for the old one include all that can pass it for the new.
        __m128i last = _mm_set1_epi8(char(here[want - 1]));
        for (; c + 15 <= to; c += 16) {
            unsigned hits = unsigned(_mm_movemask_epi8(_mm_and_si128(
                _mm_and_si128(_mm_cmpeq_epi8(LoadBytes16(m_data + c), first),
                              _mm_cmpeq_epi8(LoadBytes16(m_data + c + 1), second)),
                _mm_cmpeq_epi8(LoadBytes16(m_data + c + want - 1), last))));
            if (!hits) continue;
            for (; hits; hits &= hits - 1) {
                const int32_t at = c + __builtin_ctz(hits);
                if (at > to || weigh(at)) return;
            }
            last = _mm_set1_epi8(char(here[want - 1]));
        }
#else
        // Eight places at a time: a byte of x is zero where all three bytes agree.
        if (kWordCompare) {
            using Word = uint64_t;
            constexpr int kBytes = int(sizeof(Word));
            constexpr Word kOnes = Word(0x0101010101010101ull), kLow7 = Word(0x7F7F7F7F7F7F7F7Full);
            auto load = [](const unsigned char* p) {
                Word v;
                std::memcpy(&v, p, sizeof v);
                return v;
            };
            constexpr Word kHigh = Word(0x8080808080808080ull);
            const Word first = kOnes * b0, second = kOnes * b1;
            Word last = kOnes * here[want - 1]; // moves only when a place wins, as above
            for (; c + kBytes - 1 <= to; c += kBytes) {
                const Word x = (load(m_data + c) ^ first) | (load(m_data + c + 1) ^ second) |
                               (load(m_data + c + want - 1) ^ last);
                // Whether x has a zero byte at all, the cheap way; it is exact about that.
                if (((x - kOnes) & ~x & kHigh) == 0) continue;
                // The top bit of each zero byte of x, and no other bit.
                for (Word hits = ~(((x & kLow7) + kLow7) | x | kLow7); hits; hits &= hits - 1) {
                    const int32_t at = c + FirstDifferentByte(uint64_t(hits));
                    if (at > to || weigh(at)) return;
                }
                last = kOnes * here[want - 1];
            }
        }
#endif
        for (; c <= to; ++c)
            if (m_data[c] == b0 && m_data[c + 1] == b1 && m_data[c + want - 1] == here[want - 1] && weigh(c)) return;
    }

    // A search whose first three bytes are one repeated byte b meets only places in runs of
    // b. With r the length of b from pos, a place c of a run [s, e) matches e - c bytes when
    // that is less than r, r bytes when more, and r plus whatever follows both runs when
    // equal; so in each run the farthest place of each of the three kinds is all that
    // counts. They are taken nearest first, as the chains are.
    MatchResult SearchRuns(int32_t pos, int32_t low, int need, int maxLen) {
        using namespace match_detail;
        const unsigned char b = m_data[pos];
        RegisterRuns(pos);
        int r = 3;
        while (r < maxLen && m_data[pos + r] == b) ++r;
        const int32_t last = pos - 3; // the nearest place a search may take
        const int32_t oldest = m_matrix.RunCount() - m_runMask - 1;
        int32_t bestAt = -1;
        // More than kRunSteps runs to weigh: the window is scanned instead (see Walk).
        const int needed = need;
        int32_t steps = kRunSteps;
        auto scan = [&]() {
            bestAt = -1;
            need = needed;
            ScanWindow(pos, low, last, maxLen, needed, &bestAt, &need);
            return Found(bestAt, need, pos);
        };
        int32_t n = m_runHeads[b];
        for (; n >= 0 && n >= oldest && need <= r;) {
            if (--steps < 0) return scan();
            const DataMatrix::Run& run = m_runs[n & m_runMask];
            n = run.previous;
            const int32_t s = run.start, e = run.end;
            if (e - 3 < low) return Found(bestAt, need, pos);
            const int32_t from = s > low ? s : low;
            const int32_t to = e - 3 < last ? e - 3 : last;
            const int32_t exact = e - r; // the place with exactly r bytes of b left
            // Fewer than r bytes of b left: the farthest such place is the longest.
            const int32_t c = exact + 1 > from ? exact + 1 : from;
            if (c <= to && int(e - c) >= need) {
                bestAt = c;
                need = int(e - c);
            }
            if (exact >= from && exact <= to) TakeExact(exact, e, pos, r, maxLen, &bestAt, &need);
            if (need <= r && from < exact && from <= to) {
                const int v = pos - from < r ? int(pos - from) : r;
                if (v >= need) {
                    bestAt = from;
                    need = v;
                }
            }
        }
        // Longer than r: only a place with exactly r bytes of b left can match, in a run
        // followed by the byte that follows pos's.
        if (r < maxLen) {
            const int32_t want = m_data[pos + r];
            // The runs so followed, from the first one not yet weighed on.
            int32_t m = m_alikeHeads[AlikeBucket(b, want)];
            // Runs numbered before the ring's oldest have had their records reused since:
            // their links lead anywhere.
            while (m > n && m >= oldest) {
                if (--steps < 0) return scan();
                m = m_runs[m & m_runMask].previousAlike;
            }
            int32_t visited = 0;
            for (; m >= 0 && m >= oldest;) {
                if (--steps < 0) return scan();
                const DataMatrix::Run& run = m_runs[m & m_runMask];
                m = run.previousAlike;
                if (run.end - 3 < low) break;
                ++visited;
                if (run.after != want || m_data[run.start] != b || run.end - run.start < r) continue;
                const int32_t exact = run.end - r;
                if (exact >= low && exact <= last) TakeExact(exact, run.end, pos, r, maxLen, &bestAt, &need);
            }
            if (need == maxLen && visited > kPeriodicWalk) FindPeriod(pos, maxLen, 0);
        }
        return Found(bestAt, need, pos);
    }

    static MatchResult Found(int32_t bestAt, int need, int32_t pos) {
        if (bestAt < 0) return MatchResult{};
        return MatchResult{need, uint32_t(pos - bestAt)};
    }

    // The place of a run [.., e) with exactly r bytes of b left matches them and whatever
    // follows both runs.
    void TakeExact(int32_t exact, int32_t e, int32_t pos, int r, int maxLen, int32_t* bestAt, int* need) const {
        if (pos - exact < *need) return;
        int v = r;
        if (r < maxLen)
            v += match_detail::MatchLength(m_data + e, m_data + pos + r, maxLen - r, int64_t(pos) + r + 24 <= m_size);
        if (v > pos - exact) v = int(pos - exact);
        if (v >= *need) {
            *bestAt = exact;
            *need = v;
        }
    }

    // Puts the runs that have a place a search at pos may take on their byte's list.
    // Runs no search has asked for since their records were reused lie far before the
    // window (a ring of runs spans more than a slice and a window): they are passed over.
    void RegisterRuns(int32_t pos) {
        // Most small files never search a run: their lists start empty only when needed.
        if (!m_listsReady) {
            std::memset(m_runHeads, 0xFF, sizeof m_runHeads);
            std::memset(m_alikeHeads, 0xFF, sizeof(int32_t) << m_alikeBits);
            m_listsReady = true;
        }
        const int32_t count = m_matrix.RunCount();
        const int32_t oldest = count - m_runMask - 1;
        if (m_registered < oldest) m_registered = oldest;
        while (m_registered < count) {
            DataMatrix::Run& run = m_runs[m_registered & m_runMask];
            if (run.start > pos - 3) break;
            const unsigned char b = m_data[run.start];
            run.previous = m_runHeads[b];
            m_runHeads[b] = m_registered;
            int32_t& alike = m_alikeHeads[AlikeBucket(b, run.after)];
            run.previousAlike = alike;
            alike = m_registered++;
        }
    }

    // One list per run the ring holds, up to 2^kAlikeBits.
    static int AlikeBits(int32_t runMask) {
        int bits = 1;
        while (bits < kAlikeBits && (int32_t(1) << bits) <= runMask) ++bits;
        return bits;
    }

    uint32_t AlikeBucket(unsigned char b, int32_t after) const {
        return (uint32_t(b) * 0x9E3779B1u + uint32_t(after + 1) * 0x85EBCA77u) >> (32 - m_alikeBits);
    }

    // Data that repeats with a short period (a texture of one colour, a table of equal
    // records) puts a place that matches all maxLen bytes every period back through the
    // window, and a walk from the newest would meet each of them to find the farthest.
    // The farthest is by definition the first place from the window start that matches
    // all maxLen bytes. Once a walk has shown a period, the stretch that repeats it is
    // followed: its first full match lies within one period of its start, so only those
    // few places are tried. When the stretch starts inside the window, the places before
    // it are walked as usual (a search starting in a run then takes the usual way).
    bool PeriodicMatch(int32_t pos, int32_t low, int maxLen, bool inRun, MatchResult* found) {
        const int32_t q = m_period;
        const int32_t top = pos + maxLen - q; // every byte up to pos + maxLen repeats q back
        // Where the data stops repeating the period is forgotten, until a walk shows one again.
        for (; m_periodTo < top; ++m_periodTo) {
            if (m_data[m_periodTo] != m_data[m_periodTo + q]) {
                m_period = 0;
                return false;
            }
        }
        while (m_periodFrom > low && m_data[m_periodFrom - 1] == m_data[m_periodFrom - 1 + q]) --m_periodFrom;
        const int32_t from = m_periodFrom > low ? m_periodFrom : low;
        if (from > low && inRun) return false;
        const int32_t farthest = from + (pos - from) % q;
        if (farthest > pos - maxLen) return false;
        int32_t first = -1;
        const bool wide = int64_t(pos) + 24 <= m_size;
        for (int32_t c = from; c <= farthest && first < 0; ++c)
            if (match_detail::MatchLength(m_data + c, m_data + pos, maxLen, wide) == maxLen) first = c;
        if (first < 0) return false; // the stretch did not repeat after all: search as usual
        *found = MatchResult{maxLen, uint32_t(pos - first)};
        if (from == low) return true;
        // The short chain from that place on shows whether any place before the stretch
        // can match; the first of them that matches all maxLen bytes is the farthest. A
        // break in repeating data leaves it at the window start.
        const int32_t c = Before(m_links, first, from);
        if (c >= low) {
            const int32_t older = FarthestBeforeStretch(pos, low, c, maxLen, from, q);
            if (older >= 0) *found = MatchResult{maxLen, uint32_t(pos - older)};
        }
        return true;
    }

    // The farthest place from low up to c (before the stretch) that matches all maxLen
    // bytes at pos, or -1. Searches at the same phase of one stretch look for the same bytes
    // up to the same c, while low only rises: what one scan showed holds for the next until
    // the place it found leaves the window. Breaks in repeating data leave a stretch with
    // every search scanning the window up to it, which this keeps to one scan per phase.
    int32_t FarthestBeforeStretch(int32_t pos, int32_t low, int32_t c, int maxLen, int32_t from, int32_t q) {
        PeriodScan* memo = nullptr;
        if (maxLen == match_detail::kMaxLength) {
            if (m_scansFrom != from || m_scansPeriod != q) {
                for (PeriodScan& scan : m_scans) scan = PeriodScan{};
                m_scansFrom = from;
                m_scansPeriod = q;
            }
            memo = &m_scans[(pos - from) % q];
            if (memo->low <= low && (memo->found < 0 || memo->found >= low)) return memo->found;
        }
        const int32_t older = FarthestFull(m_links, pos, low, c, maxLen);
        if (memo) *memo = PeriodScan{low, older};
        return older;
    }

    // Records repeated with breaks (tables, vertex buffers, rows of a height map): the
    // farthest place of all maxLen bytes is usually the first one from the window start
    // at the same phase of the record, and one chain from there back to the window start
    // holds every place before it that could match: the chain of pos's key, or where pos
    // starts a run of r bytes, of the key that ends it (two of the byte and the one
    // after), since places inside runs are on no chain. Neither needs the records between
    // to be whole, so a break costs only the searches whose bytes it lies in. False when
    // the record does not show at kRecordTries places of that phase (the period is given
    // up after kRecordMisses such searches in a row, unless a byte changed), or when the
    // run from pos is longer than the match.
    // Bound: kRecordTries comparisons, kRecordSteps places of the chain, then FarthestFull
    // or the window scan from the window start up to the place reached: O(4096).
    bool RecordMatch(int32_t pos, int32_t low, int maxLen, bool inRun, MatchResult* found) {
        using namespace match_detail;
        int32_t lead = 0; // from a place to the key whose chain holds it
        if (inRun) {
            int r = 3;
            while (r < maxLen && m_data[pos + r] == m_data[pos]) ++r;
            if (r == maxLen) return false;
            lead = r - 2;
        }
        const int32_t q = m_period;
        const bool wide = int64_t(pos) + 24 <= m_size;
        int32_t c = pos - (pos - low) / q * q;
        int32_t first = -1;
        int32_t longest = -1; // the first place tried of the most bytes, short of maxLen
        int most = 0;
        for (int k = 0; k < kRecordTries && c <= pos - maxLen; ++k, c += q) {
            const int n = MatchLength(m_data + c, m_data + pos, maxLen, wide);
            if (n == maxLen) {
                first = c;
                break;
            }
            if (n > most) {
                most = n;
                longest = c;
            }
        }
        if (first < 0) {
            // A byte changed in the bytes sought, or in the record before, is a break.
            const int n = MatchLength(m_data + pos - q, m_data + pos, maxLen, wide);
            const bool broken = n < maxLen && MatchLength(m_data + pos - q + n + 1, m_data + pos + n + 1,
                                                          maxLen - n - 1, false) == maxLen - n - 1;
            if (!broken) {
                if (q > kMaxPeriod) {
                    if (++m_recordMisses >= kRecordMisses) m_period = 0;
                } else {
                    // The window starts before the stretch of a short period: until it
                    // starts within, the stretch is followed from its own start instead.
                    m_recordAfter = c;
                }
            }
            return most >= 3 + lead && BrokenRecordMatch(pos, low, maxLen, lead, longest, most, found);
        }
        m_recordMisses = 0;
        int32_t steps = 0;
        for (int32_t m = m_links[(first + lead) & m_mask]; m - lead >= low; m = m_links[m & m_mask]) {
            if (++steps > kRecordSteps) {
                if (lead == 0) {
                    const int32_t farthest = FarthestFull(m_links, pos, low, m, maxLen);
                    if (farthest >= 0) first = farthest;
                } else {
                    int length = maxLen;
                    ScanWindow(pos, low, m - lead, maxLen, maxLen, &first, &length);
                }
                break;
            }
            if (MatchLength(m_data + m - lead, m_data + pos, maxLen, wide) == maxLen) first = m - lead;
        }
        *found = MatchResult{maxLen, uint32_t(pos - first)};
        return true;
    }

    bool RepeatsTwice(int32_t pos, int32_t low, int maxLen, int32_t distance) const {
        return pos - 2 * distance >= low &&
               match_detail::MatchLength(m_data + pos - 2 * distance, m_data + pos, maxLen, int64_t(pos) + 24 <= m_size) ==
                   maxLen;
    }

    // A record's place `longest` matches `most` bytes at pos (3 + lead <= most < maxLen),
    // as every whole record does where a byte changed in the bytes sought. A place of more
    // bytes shares the three that end at pos + most, and so the chain of that key, which
    // the changed byte keeps short; when it holds none, the farthest place of `most` bytes
    // is on the chain through `longest` + lead, as in RecordMatch.
    // Bound: kRecordSteps places of each chain (false when the first is longer), then
    // ScanWindow from the window start up to the place reached: O(4096).
    bool BrokenRecordMatch(int32_t pos, int32_t low, int maxLen, int32_t lead, int32_t longest, int most,
                           MatchResult* found) {
        using namespace match_detail;
        const int32_t tail = pos + most - 2;
        if (tail >= m_matrix.LinkedEnd()) return false;
        const unsigned char* here = m_data + pos;
        if (here[most - 2] == here[most - 1] && here[most - 2] == here[most]) return false; // runs are on no chain
        const bool wide = int64_t(pos) + 24 <= m_size;
        int32_t bestAt = -1;
        int need = most + 1;
        int32_t steps = 0;
        for (int32_t m = m_links[tail & m_mask]; m - (most - 2) >= low; m = m_links[m & m_mask]) {
            if (++steps > kRecordSteps) return false;
            const int32_t c = m - (most - 2);
            if (c > pos - need) continue;
            const int cap = pos - c < maxLen ? int(pos - c) : maxLen;
            const int n = MatchLength(m_data + c, here, cap, wide);
            if (n >= need) {
                bestAt = c;
                need = n;
            }
        }
        if (bestAt >= 0) {
            *found = MatchResult{need, uint32_t(pos - bestAt)};
            return true;
        }
        bestAt = longest;
        need = most;
        steps = 0;
        for (int32_t m = m_links[(longest + lead) & m_mask]; m - lead >= low; m = m_links[m & m_mask]) {
            if (++steps > kRecordSteps) {
                ScanWindow(pos, low, m - lead, maxLen, most, &bestAt, &need);
                break;
            }
            if (MatchLength(m_data + m - lead, here, most, wide) == most) bestAt = m - lead;
        }
        *found = MatchResult{most, uint32_t(pos - bestAt)};
        return true;
    }

    // After a long walk to a match of maxLen bytes: the shortest distance at which those
    // bytes repeat, if it is short, is worth trying as the period; else `nearest`, the
    // distance of the nearest place of all maxLen bytes (0: not known), as a record's.
    void FindPeriod(int32_t pos, int maxLen, int32_t nearest) {
        if (maxLen < 8) return;
        const uint64_t head = match_detail::Load64(m_data + pos);
        for (int32_t q = 3; q <= kMaxPeriod && q <= pos; ++q) {
            if (match_detail::Load64(m_data + pos - q) != head) continue;
            if (std::memcmp(m_data + pos - q, m_data + pos, size_t(maxLen)) != 0) continue;
            if (q != m_period) {
                // Known so far: nothing; the stretch is grown from the end of the bytes at
                // pos that must repeat, so that no byte past them is read.
                m_period = q;
                m_periodFrom = m_periodTo = pos + maxLen - q > 0 ? pos + maxLen - q : 0;
            }
            return;
        }
        if (nearest > kMaxPeriod) {
            m_period = nearest;
            m_recordMisses = 0;
        }
    }

    // The kLongKey bytes at pos, whose first three are one byte, are all that byte.
    bool UniformFrom(int32_t pos) const {
        const unsigned char b = m_data[pos];
        for (int k = 3; k < kLongKey; ++k)
            if (m_data[pos + k] != b) return false;
        return true;
    }

    KYRZBK_NOINLINE bool SearchLongChain(int32_t pos, int32_t low, int shorter, MatchResult* found, int maxLen) {
        const int32_t longer = Before(m_longLinks, pos, pos - kLongKey + 1);
        if (longer < low) return false;
        const int need = shorter + 1 > kLongKey ? shorter + 1 : kLongKey;
        *found = Walk(m_longLinks, longer, pos, low, need, maxLen);
        return found->length >= 0;
    }

    void StartLongKeys(int32_t pos) {
        const int32_t low = pos > match_detail::kWindow ? pos - match_detail::kWindow : 0;
        m_longLinks = m_matrix.LinkLongKeys(low);
        if (!m_longLinks) m_walkedOverBudget = INT64_MIN / 2; // no memory: carry on with short keys
    }

    // Following the long chains too costs about as much as a few short-chain places per
    // search; they pay where searches keep meeting more than this many.
    static constexpr int64_t kWalkedPerSearch = 12;
    // Places a search weighs on a chain, and runs, before it scans the window instead.
    static constexpr int32_t kWalkSteps = 128;
    static constexpr int32_t kRunSteps = 256;
    // After a place of maxLen bytes, or of one byte less, this many more newest first.
    static constexpr int32_t kFullSteps = 32;
    static constexpr int32_t kTailSteps = 32;
    // Places from the window start that FarthestFull scans before it takes the chain.
    static constexpr int32_t kProbe = 64;
    // Periods up to this length are worth computing (longer ones leave few places per
    // window), and only after a walk that met more places than this.
    static constexpr int32_t kMaxPeriod = 32;
    static constexpr int64_t kPeriodicWalk = 32;
    // A record's phase is tried at this many places, and the chain before the first that
    // matches followed for this many, by RecordMatch.
    static constexpr int kRecordTries = 4;
    static constexpr int32_t kRecordSteps = 32;
    static constexpr int kRecordMisses = 2;
    static constexpr int64_t kWalkedAtStart = 50000;

    DataMatrix& m_matrix;
    const unsigned char* const m_data;
    const int32_t m_size;
    const int32_t* const m_links;
    const int32_t m_mask;
    const int m_key0;
    int32_t m_zeroFloor; // 1 once position 0 has been handed out
    const int32_t* m_longLinks = nullptr;
    // Places walked (by walks that end short of 17 bytes) less kWalkedPerSearch a search
    // and kWalkedAtStart: the long chains start when it passes 0.
    int64_t m_walkedOverBudget = -kWalkedAtStart;
    DataMatrix::Run* const m_runs;
    const int32_t m_runMask;
    int32_t m_registered = 0;  // runs on their byte's list
    bool m_listsReady = false;
    int32_t m_period = 0;     // the period last shown by a walk, 0 for none
    int32_t m_periodFrom = 0; // every byte at y in [from, to) equals the byte at y + m_period
    int32_t m_periodTo = 0;
    int m_recordMisses = 0; // searches in a row whose record did not show
    int32_t m_recordAfter = 0; // the window start from which a short period's record is tried again
    // Per phase of the stretch from m_scansFrom with period m_scansPeriod: the window
    // start of its last scan before the stretch, and the place found (-1 for none).
    struct PeriodScan {
        int32_t low = INT32_MAX;
        int32_t found = -1;
    };
    PeriodScan m_scans[kMaxPeriod];
    int32_t m_scansFrom = -1;
    int32_t m_scansPeriod = 0;
    int32_t m_runHeads[256];   // per byte, the number of its newest listed run, or -1
    // Without vectors: FarthestFullIn's places of a chain in the window.
    int32_t m_chainPlaces[match_detail::kVectorCompare ? 1 : match_detail::kWindow + 1];
    // The farthest places of all 18 bytes found so far, by the bytes sought.
    static constexpr int kKnownBits = 6;
    // Fewer for small inputs, which would spend more on clearing them than they save.
    int m_knownBits;
    KnownFull m_knownFull[1 << kKnownBits]; // the first 2^m_knownBits are in use
    static constexpr int kAlikeBits = 10;
    // No more lists than the ring holds runs: a small input then touches no more memory
    // than it needs.
    const int m_alikeBits;
    // per hash of a run's byte and the byte after it, the number of the newest such run
    int32_t m_alikeHeads[1 << kAlikeBits];
};
