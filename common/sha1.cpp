#include "common/sha1.h"

#include <atomic>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define KYRZBK_SHA_INSTRUCTIONS 1
#endif

namespace {

uint32_t Rotl(uint32_t v, int n) { return (v << n) | (v >> (32 - n)); }

uint32_t LoadBE32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
           static_cast<uint32_t>(p[3]);
}

// One round: the schedule is kept in a ring of 16 words, each extended as it is needed.
template <int Round>
inline void PortableRound(uint32_t (&w)[16], uint32_t& a, uint32_t& b, uint32_t& c, uint32_t& d, uint32_t& e) {
    uint32_t word;
    if (Round < 16) {
        word = w[Round];
    } else {
        word = Rotl(w[(Round + 13) & 15] ^ w[(Round + 8) & 15] ^ w[(Round + 2) & 15] ^ w[Round & 15], 1);
        w[Round & 15] = word;
    }
    uint32_t f, k;
    if (Round < 20) {
        f = d ^ (b & (c ^ d));
        k = 0x5A827999;
    } else if (Round < 40) {
        f = b ^ c ^ d;
        k = 0x6ED9EBA1;
    } else if (Round < 60) {
        f = (b & c) | (d & (b | c));
        k = 0x8F1BBCDC;
    } else {
        f = b ^ c ^ d;
        k = 0xCA62C1D6;
    }
    e += Rotl(a, 5) + f + k + word;
    b = Rotl(b, 30);
}

// Five rounds with the variables renamed instead of moved.
template <int Round>
inline void PortableFive(uint32_t (&w)[16], uint32_t& a, uint32_t& b, uint32_t& c, uint32_t& d, uint32_t& e) {
    PortableRound<Round>(w, a, b, c, d, e);
    PortableRound<Round + 1>(w, e, a, b, c, d);
    PortableRound<Round + 2>(w, d, e, a, b, c);
    PortableRound<Round + 3>(w, c, d, e, a, b);
    PortableRound<Round + 4>(w, b, c, d, e, a);
}

template <int... Five>
inline void PortableRounds(uint32_t (&w)[16], uint32_t& a, uint32_t& b, uint32_t& c, uint32_t& d, uint32_t& e) {
    (PortableFive<Five * 5>(w, a, b, c, d, e), ...);
}

void PortableBlocks(uint32_t state[5], const unsigned char* data, size_t blocks) {
    for (; blocks > 0; --blocks, data += 64) {
        uint32_t w[16];
        for (int i = 0; i < 16; ++i) w[i] = LoadBE32(data + 4 * i);
        uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
        PortableRounds<0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15>(w, a, b, c, d, e);
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
    }
}

#ifdef KYRZBK_SHA_INSTRUCTIONS
#define KYRZBK_SHA_TARGET __attribute__((target("sha,sse4.1,ssse3")))

bool ProcessorHasSha() {
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
    bool ssse3 = c & (1u << 9), sse41 = c & (1u << 19);
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
    return ssse3 && sse41 && (b & (1u << 29));
}

// Four rounds of group G (0 to 19). msg holds the schedule's last four groups, msg[G % 4]
// the oldest; e[G % 2] carries the E value into these rounds, e[(G + 1) % 2] takes ABCD for
// the next group.
template <int G>
KYRZBK_SHA_TARGET inline __attribute__((always_inline)) void ShaGroup(__m128i (&msg)[4], __m128i& abcd,
                                                                      __m128i (&e)[2]) {
    if (G >= 4)
        msg[G % 4] = _mm_sha1msg2_epu32(
            _mm_xor_si128(_mm_sha1msg1_epu32(msg[G % 4], msg[(G + 1) % 4]), msg[(G + 2) % 4]), msg[(G + 3) % 4]);
    if (G == 0)
        e[0] = _mm_add_epi32(e[0], msg[0]);
    else
        e[G % 2] = _mm_sha1nexte_epu32(e[G % 2], msg[G % 4]);
    e[(G + 1) % 2] = abcd;
    abcd = _mm_sha1rnds4_epu32(abcd, e[G % 2], G / 5);
}

template <int... G>
KYRZBK_SHA_TARGET inline __attribute__((always_inline)) void ShaGroups(__m128i (&msg)[4], __m128i& abcd,
                                                                       __m128i (&e)[2]) {
    (ShaGroup<G>(msg, abcd, e), ...);
}

KYRZBK_SHA_TARGET void InstructionBlocks(uint32_t state[5], const unsigned char* data, size_t blocks) {
    const __m128i byteOrder = _mm_set_epi64x(0x0001020304050607ll, 0x08090a0b0c0d0e0fll);
    __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1B);
    __m128i e0 = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);
    for (; blocks > 0; --blocks, data += 64) {
        __m128i msg[4];
        for (int i = 0; i < 4; ++i)
            msg[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i)), byteOrder);
        __m128i savedAbcd = abcd;
        __m128i e[2] = {e0, _mm_setzero_si128()};
        ShaGroups<0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19>(msg, abcd, e);
        // The rounds of group 19 left the ABCD they started from in e[0]; its rotated A is
        // the E that the block adds to the state.
        e0 = _mm_sha1nexte_epu32(e[0], e0);
        abcd = _mm_add_epi32(abcd, savedAbcd);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1B));
    state[4] = static_cast<uint32_t>(_mm_extract_epi32(e0, 3));
}
#endif

std::atomic<bool> g_portableOnly{false};

bool UseInstructions() {
#ifdef KYRZBK_SHA_INSTRUCTIONS
    static const bool present = ProcessorHasSha();
    return present && !g_portableOnly.load(std::memory_order_relaxed);
#else
    return false;
#endif
}

} // namespace

Sha1::Sha1() : m_state{0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0} {}

bool Sha1::Accelerated() { return UseInstructions(); }

void Sha1::UsePortableOnly(bool portable) { g_portableOnly = portable; }

void Sha1::Blocks(const unsigned char* data, size_t blocks) {
#ifdef KYRZBK_SHA_INSTRUCTIONS
    if (UseInstructions()) return InstructionBlocks(m_state, data, blocks);
#endif
    PortableBlocks(m_state, data, blocks);
}

void Sha1::Update(const void* bytes, size_t n) {
    auto p = static_cast<const unsigned char*>(bytes);
    m_length += n;
    if (m_pendingLength > 0) {
        size_t take = n < 64 - m_pendingLength ? n : 64 - m_pendingLength;
        std::memcpy(m_pending + m_pendingLength, p, take);
        m_pendingLength += take;
        p += take;
        n -= take;
        if (m_pendingLength < 64) return;
        Blocks(m_pending, 1);
        m_pendingLength = 0;
    }
    if (n >= 64) {
        Blocks(p, n / 64);
        p += n / 64 * 64;
        n %= 64;
    }
    std::memcpy(m_pending, p, n);
    m_pendingLength = n;
}

Sha1Digest Sha1::Final() {
    uint64_t bits = m_length * 8;
    unsigned char tail[72] = {0x80};
    size_t padding = (m_pendingLength < 56 ? 56 : 120) - m_pendingLength;
    for (int i = 0; i < 8; ++i) tail[padding + i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
    Update(tail, padding + 8);
    Sha1Digest digest;
    for (int i = 0; i < 20; ++i) digest[i] = static_cast<unsigned char>(m_state[i / 4] >> (24 - 8 * (i % 4)));
    return digest;
}
