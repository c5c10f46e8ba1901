#include "codec/decompressor.h"

#include <cstring>

const char kVerifyingText[] = "Verifying extracted data ...";

namespace {

constexpr int32_t kReportStep = 1024;
constexpr int32_t kMaxMatch = 18;
// Copies run in 8-byte chunks and may write up to 24 bytes for one token; a group of eight
// tokens therefore never writes more than this behind the output's end.
constexpr int32_t kGroupRoom = 8 * 24;
// Bytes of the block that one whole group can consume: eight two-byte references and the
// next flag byte.
constexpr int32_t kGroupInput = 8 * 2 + 1;
// Each two-byte reference yields at most 18 bytes, so no stream expands beyond this factor;
// a size hint beyond it comes from a damaged header and is not trusted.
constexpr int64_t kMaxExpansion = kMaxMatch / 2;

uint32_t ReadLE32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

uint32_t SumBytes(const unsigned char* p, size_t n) {
    uint32_t sum = 0;
    for (size_t i = 0; i < n; ++i) sum += p[i];
    return sum;
}

// Copies one back-reference; the source may overlap the bytes being produced, in which case
// the result repeats them as a byte-by-byte forward copy would. May write past op + length.
inline void CopyMatch(unsigned char* op, const unsigned char* src, size_t distance, size_t length) {
    if (distance >= 16) {
        std::memcpy(op, src, 16);
        std::memcpy(op + 16, src + 16, 8);
    } else if (distance >= 8) {
        // Each chunk reads only bytes that the previous chunks have already written.
        std::memcpy(op, src, 8);
        std::memcpy(op + 8, src + 8, 8);
        std::memcpy(op + 16, src + 16, 8);
    } else if (distance == 1) {
        std::memset(op, *src, kMaxMatch);
    } else {
        for (size_t k = 0; k < length; ++k) op[k] = src[k];
    }
}

class Decoder {
public:
    Decoder(const unsigned char* block, int32_t length, const char* name, CTextBuffer* out, tProcessDataProc progress)
        : m_block(block), m_length(length), m_end(length >= 4 ? block + length - 4 : block), m_name(name), m_out(out),
          m_progress(progress) {}

    int Run(uint32_t expectedSize);

private:
    enum Step { kGoOn, kDone, kFailed };

    bool Start(uint32_t expectedSize);
    bool EnsureRoom();
    void Commit();
    Step SlowGroup();
    bool DecodeReference(const unsigned char*& ip, unsigned char*& op);
    bool ReportIfDue();
    int Finish(int result) {
        Commit();
        return result;
    }

    const unsigned char* m_block;
    int32_t m_length;
    const unsigned char* m_end; // first checksum byte
    const char* m_name;
    CTextBuffer* m_out;
    tProcessDataProc m_progress;

    const unsigned char* m_ip = nullptr;
    unsigned m_flags = 0;
    // Output pointers; they move when the buffer grows, so offsets from m_base are kept too.
    unsigned char* m_base = nullptr; // first prefix byte
    unsigned char* m_op = nullptr;
    unsigned char* m_limit = nullptr;
    size_t m_baseOffset = 0;
    size_t m_reportMark = 0; // offsets from m_base
    size_t m_sumMark = kWindowPrefixLength;
    int64_t m_reported = 0;
    uint32_t m_sum = 0;
    int m_failure = 0;
};

bool Decoder::Start(uint32_t expectedSize) {
    m_baseOffset = static_cast<size_t>(m_out->Length());
    int64_t hint = expectedSize;
    if (hint > kMaxExpansion * m_length) hint = kMaxExpansion * m_length;
    int64_t wanted = kWindowPrefixLength + hint + kGroupRoom;
    unsigned char* room = nullptr;
    if (wanted < INT32_MAX - m_out->Length())
        room = reinterpret_cast<unsigned char*>(m_out->AppendRoom(static_cast<int32_t>(wanted)));
    if (!room) room = reinterpret_cast<unsigned char*>(m_out->AppendRoom(kWindowPrefixLength + kGroupRoom));
    if (!room) return false;
    std::memset(room, ' ', kWindowPrefixLength);
    m_base = room;
    m_op = room + kWindowPrefixLength;
    m_limit = reinterpret_cast<unsigned char*>(m_out->Data()) + m_out->Capacity();
    m_reportMark = kWindowPrefixLength;
    return true;
}

void Decoder::Commit() {
    if (!m_base) return;
    unsigned char* data = reinterpret_cast<unsigned char*>(m_out->Data());
    m_out->CommitAppend(static_cast<int32_t>(m_op - (data + m_out->Length())));
}

bool Decoder::EnsureRoom() {
    if (m_limit - m_op >= kGroupRoom) return true;
    size_t produced = static_cast<size_t>(m_op - m_base);
    // Growing zeroes the room behind the content, so what was written goes into the content first.
    Commit();
    unsigned char* room = reinterpret_cast<unsigned char*>(m_out->AppendRoom(kGroupRoom));
    if (!room) return false;
    unsigned char* data = reinterpret_cast<unsigned char*>(m_out->Data());
    m_base = data + m_baseOffset;
    m_op = m_base + produced;
    m_limit = data + m_out->Capacity();
    return true;
}

inline bool Decoder::DecodeReference(const unsigned char*& ip, unsigned char*& op) {
    unsigned b0 = ip[0], b1 = ip[1];
    ip += 2;
    size_t distance = b0 | ((b1 & 0xF0u) << 4);
    size_t length = (b1 & 0x0Fu) + 3;
    // A distance of 0, or one reaching before the prefix, only occurs in damaged data.
    if (distance - 1 >= static_cast<size_t>(op - m_base)) return false;
    CopyMatch(op, op - distance, distance, length);
    op += length;
    return true;
}

bool Decoder::ReportIfDue() {
    size_t produced = static_cast<size_t>(m_op - m_base);
    size_t since = produced - m_reportMark;
    if (since < static_cast<size_t>(kReportStep)) return true;
    m_sum += SumBytes(m_base + m_sumMark, produced - m_sumMark);
    m_sumMark = produced;
    if (m_progress && !m_progress(const_cast<char*>(m_name), static_cast<int>(since))) return false;
    m_reported += static_cast<int64_t>(since);
    m_reportMark = produced;
    return true;
}

// One group token by token, with every bound and the progress step checked after each token.
Decoder::Step Decoder::SlowGroup() {
    const unsigned char* ip = m_ip;
    for (int bit = 0; bit < 8; ++bit) {
        bool literal = (m_flags >> bit) & 1;
        if (m_end - ip < (literal ? 1 : 2)) {
            m_failure = E_BAD_DATA;
            return kFailed;
        }
        if (literal) {
            *m_op++ = *ip++;
        } else if (!DecodeReference(ip, m_op)) {
            m_failure = E_BAD_DATA;
            return kFailed;
        }
        if (bit == 7) {
            // A full group is always followed by a flag byte, even when no token follows it.
            if (ip >= m_end) {
                m_failure = E_BAD_DATA;
                return kFailed;
            }
            m_flags = *ip++;
        }
        if (!ReportIfDue()) {
            m_failure = E_EABORTED;
            return kFailed;
        }
        if (ip >= m_end) {
            m_ip = ip;
            return kDone;
        }
    }
    m_ip = ip;
    return kGoOn;
}

int Decoder::Run(uint32_t expectedSize) {
    if (!Start(expectedSize)) return E_EWRITE;
    // Not even one token fits before the checksum.
    if (m_length < 6) return Finish(E_BAD_DATA);
    m_ip = m_block + 1;
    m_flags = m_block[0];
    for (;;) {
        if (!EnsureRoom()) return Finish(E_EWRITE);
        size_t since = static_cast<size_t>(m_op - m_base) - m_reportMark;
        if (m_end - m_ip >= kGroupInput && since + 8 * kMaxMatch < static_cast<size_t>(kReportStep)) {
            // The whole group lies before the checksum and cannot reach a progress step:
            // no bound or report check is needed between its tokens.
            const unsigned char* ip = m_ip;
            unsigned char* op = m_op;
            unsigned flags = m_flags;
            for (int bit = 0; bit < 8; ++bit, flags >>= 1) {
                if (flags & 1) {
                    *op++ = *ip++;
                } else if (!DecodeReference(ip, op)) {
                    m_op = op;
                    return Finish(E_BAD_DATA);
                }
            }
            m_flags = *ip++;
            m_ip = ip;
            m_op = op;
            if (ip >= m_end) break;
            continue;
        }
        Step step = SlowGroup();
        if (step == kFailed) return Finish(m_failure);
        if (step == kDone) break;
    }
    Commit();
    size_t produced = static_cast<size_t>(m_op - m_base);
    m_sum += SumBytes(m_base + m_sumMark, produced - m_sumMark);
    if (m_progress) {
        // Hosts add positive counts up as bytes towards the entry's unpacked size, and read
        // negative ones as percentages: the last report is the output not yet reported, and
        // the status text adds nothing.
        int rest = static_cast<int>(static_cast<int64_t>(produced - kWindowPrefixLength) - m_reported);
        if (!m_progress(const_cast<char*>(m_name), rest)) return E_EABORTED;
        if (!m_progress(const_cast<char*>(kVerifyingText), 0)) return E_EABORTED;
    }
    return ReadLE32(m_end) == m_sum ? E_SUCCESS : E_BAD_ARCHIVE;
}

} // namespace

int DecompressEntry(const unsigned char* block, int32_t length, const char* entryName, CTextBuffer* out,
                    tProcessDataProc progress, uint32_t expectedSize) {
    if (!block || length < 1) return E_SUCCESS;
    if (!out) return E_EWRITE;
    Decoder decoder(block, length, entryName, out, progress);
    return decoder.Run(expectedSize);
}
