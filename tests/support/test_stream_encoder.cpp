#include "tests/support/test_stream_encoder.h"

#include <cstddef>
#include <cstdint>

namespace {

constexpr int kPrefix = 18;
constexpr int kMinMatch = 3;
constexpr int kMaxMatch = 18;
constexpr int kMaxDistance = 4095;
constexpr int kHashBits = 15;
constexpr int kChainLimit = 64;

class StreamWriter {
public:
    void Literal(unsigned char c) {
        Token(true);
        m_out.push_back(c);
        EndToken();
    }
    void Reference(int distance, int length) {
        Token(false);
        m_out.push_back(static_cast<unsigned char>(distance & 0xFF));
        m_out.push_back(static_cast<unsigned char>(((distance >> 4) & 0xF0) | (length - kMinMatch)));
        EndToken();
    }
    std::vector<unsigned char> Finish(unsigned sum) {
        if (m_out.empty()) m_out.push_back(0);
        for (int i = 0; i < 4; ++i) m_out.push_back(static_cast<unsigned char>(sum >> (8 * i)));
        return std::move(m_out);
    }

private:
    void Token(bool literal) {
        if (m_out.empty()) m_out.push_back(0);
        if (literal) m_out[m_flagAt] = static_cast<unsigned char>(m_out[m_flagAt] | (1u << m_bit));
    }
    // A full group is always followed by a new flag byte, even at the end of the stream.
    void EndToken() {
        if (++m_bit == 8) {
            m_flagAt = m_out.size();
            m_out.push_back(0);
            m_bit = 0;
        }
    }

    std::vector<unsigned char> m_out;
    size_t m_flagAt = 0;
    int m_bit = 0;
};

uint32_t Hash3(const unsigned char* p) {
    uint32_t v = static_cast<uint32_t>(p[0]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[2];
    return (v * 2654435761u) >> (32 - kHashBits);
}

} // namespace

unsigned ByteSum(const std::vector<unsigned char>& bytes) {
    unsigned sum = 0;
    for (unsigned char c : bytes) sum += c;
    return sum;
}

std::vector<unsigned char> LiteralTestStream(const std::vector<unsigned char>& plain) {
    StreamWriter writer;
    for (unsigned char c : plain) writer.Literal(c);
    return writer.Finish(ByteSum(plain));
}

std::vector<unsigned char> EncodeTestStream(const std::vector<unsigned char>& plain) {
    std::vector<unsigned char> window(kPrefix, ' ');
    window.insert(window.end(), plain.begin(), plain.end());
    const int size = static_cast<int>(window.size());
    std::vector<int> head(1u << kHashBits, -1);
    std::vector<int> previous(window.size(), -1);
    auto insert = [&](int p) {
        if (p + kMinMatch > size) return;
        uint32_t h = Hash3(&window[p]);
        previous[p] = head[h];
        head[h] = p;
    };
    for (int p = 0; p < kPrefix; ++p) insert(p);

    StreamWriter writer;
    int pos = kPrefix;
    while (pos < size) {
        int bestLength = 0, bestDistance = 0;
        int limit = size - pos < kMaxMatch ? size - pos : kMaxMatch;
        if (limit >= kMinMatch) {
            int chain = 0;
            for (int c = head[Hash3(&window[pos])]; c >= 0 && pos - c <= kMaxDistance && chain < kChainLimit;
                 c = previous[c], ++chain) {
                int n = 0;
                while (n < limit && window[c + n] == window[pos + n]) ++n;
                if (n > bestLength) {
                    bestLength = n;
                    bestDistance = pos - c;
                    if (n == limit) break;
                }
            }
        }
        if (bestLength >= kMinMatch) {
            writer.Reference(bestDistance, bestLength);
            for (int k = 0; k < bestLength; ++k) insert(pos + k);
            pos += bestLength;
        } else {
            writer.Literal(window[pos]);
            insert(pos);
            ++pos;
        }
    }
    return writer.Finish(ByteSum(plain));
}
