#include "codec/decompressor.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

const char kVerifyingText[] = "Verifying extracted data ...";

namespace {

constexpr uint64_t kReportStep = 1024;
constexpr int32_t kMaxMatch = 18;
// A reference's 12-bit distance reaches at most this far back; the output buffer keeps
// this much behind the bytes being produced and nothing more.
constexpr size_t kWindowSize = 4096;
// Copies run in 8-byte chunks and may write up to 24 bytes for one token; a group of eight
// tokens therefore never writes more than this behind the output's end.
constexpr size_t kGroupRoom = 8 * 24;
// Bytes of the block that one whole group can consume: eight two-byte references and the
// next flag byte.
constexpr size_t kGroupInput = 8 * 2 + 1;
constexpr size_t kChecksumBytes = 4;
// Each two-byte reference yields at most 18 bytes, so no stream expands beyond this factor;
// a size hint beyond it comes from a damaged header and is not trusted.
constexpr uint64_t kMaxExpansion = kMaxMatch / 2;
// The smallest buffers that still make progress: the input holds a whole group with room
// to read more; the output keeps the window and leaves room for a group after it.
constexpr size_t kMinInput = 2 * kGroupInput;
constexpr size_t kMinOutput = kWindowSize + 2 * kGroupRoom;

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

// Memory: one input buffer and one output buffer, of the sizes asked for (but never larger
// than the block could need), whatever the block's length.
class Decoder {
public:
    Decoder(DecodeSource& source, uint64_t length, DecodeSink& sink, const char* name, tProcessDataProc progress)
        : m_source(source), m_sink(sink), m_name(name), m_progress(progress), m_tokensLeft(length - kChecksumBytes) {}
    ~Decoder() {
        std::free(m_in);
        std::free(m_out);
    }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    int Run(const DecodeBufferSizes& sizes);

private:
    enum Step { kGoOn, kDone, kFailed };

    bool Allocate(const DecodeBufferSizes& sizes);
    bool Refill();
    bool Flush();
    void Sum();
    Step SlowGroup();
    bool DecodeReference(const unsigned char*& ip, unsigned char*& op);
    bool ReportIfDue();
    bool AtStreamEnd(const unsigned char* ip) const { return ip >= m_end && m_tokensLeft == 0; }
    // Output bytes so far, prefix included.
    uint64_t Produced() const { return m_outOrigin + static_cast<uint64_t>(m_op - m_out); }
    int ReadChecksum(uint32_t* stored);

    DecodeSource& m_source;
    DecodeSink& m_sink;
    const char* m_name;
    tProcessDataProc m_progress;

    // Input: [m_ip, m_end) is buffered; m_tokensLeft token bytes are still in the source.
    unsigned char* m_in = nullptr;
    size_t m_inSize = 0;
    const unsigned char* m_ip = nullptr;
    const unsigned char* m_end = nullptr;
    uint64_t m_tokensLeft;
    unsigned m_flags = 0;

    // Output: the buffer starts with what is kept of the window; [m_flushed, m_op) is not
    // yet in the sink, [m_summed, m_op) not yet in the checksum. m_outOrigin counts the
    // bytes produced before the buffer's first one.
    unsigned char* m_out = nullptr;
    unsigned char* m_op = nullptr;
    unsigned char* m_limit = nullptr;
    unsigned char* m_flushed = nullptr;
    unsigned char* m_summed = nullptr;
    uint64_t m_outOrigin = 0;

    uint64_t m_reportMark = kWindowPrefixLength;
    uint64_t m_reported = 0;
    uint32_t m_sum = 0;
    int m_failure = 0;
};

bool Decoder::Allocate(const DecodeBufferSizes& sizes) {
    uint64_t tokens = m_tokensLeft;
    m_inSize = static_cast<size_t>(std::min<uint64_t>(std::max(sizes.input, kMinInput), tokens));
    m_inSize = std::max(m_inSize, kMinInput);
    uint64_t mostOutput = kWindowPrefixLength + kMaxExpansion * tokens + 2 * kGroupRoom;
    size_t outSize = static_cast<size_t>(std::min<uint64_t>(std::max(sizes.output, kMinOutput), mostOutput));
    outSize = std::max(outSize, kMinOutput);
    m_in = static_cast<unsigned char*>(std::malloc(m_inSize));
    m_out = static_cast<unsigned char*>(std::malloc(outSize));
    if (!m_in || !m_out) return false;
    m_ip = m_end = m_in;
    std::memset(m_out, ' ', kWindowPrefixLength);
    m_op = m_flushed = m_summed = m_out + kWindowPrefixLength;
    m_limit = m_out + outSize;
    return true;
}

// Moves the unread rest to the front and reads until a whole group is at hand or the
// tokens end; every source call asks for all the room there is.
bool Decoder::Refill() {
    size_t rest = static_cast<size_t>(m_end - m_ip);
    std::memmove(m_in, m_ip, rest);
    m_ip = m_in;
    m_end = m_in + rest;
    while (static_cast<size_t>(m_end - m_ip) < kGroupInput && m_tokensLeft > 0) {
        size_t want = static_cast<size_t>(std::min<uint64_t>(m_inSize - rest, m_tokensLeft));
        size_t n = m_source.Read(m_in + rest, want);
        if (n == 0 || n > want) return false;
        rest += n;
        m_end += n;
        m_tokensLeft -= n;
    }
    return true;
}

void Decoder::Sum() {
    m_sum += SumBytes(m_summed, static_cast<size_t>(m_op - m_summed));
    m_summed = m_op;
}

// Hands the new output to the sink and keeps only the window.
bool Decoder::Flush() {
    Sum();
    size_t fresh = static_cast<size_t>(m_op - m_flushed);
    if (fresh > 0 && !m_sink.Write(m_flushed, fresh)) return false;
    size_t held = static_cast<size_t>(m_op - m_out);
    size_t keep = std::min(held, kWindowSize);
    std::memmove(m_out, m_op - keep, keep);
    m_outOrigin += held - keep;
    m_op = m_flushed = m_summed = m_out + keep;
    return true;
}

inline bool Decoder::DecodeReference(const unsigned char*& ip, unsigned char*& op) {
    unsigned b0 = ip[0], b1 = ip[1];
    ip += 2;
    size_t distance = b0 | ((b1 & 0xF0u) << 4);
    size_t length = (b1 & 0x0Fu) + 3;
    // A distance of 0, or one reaching before the prefix, only occurs in damaged data. The
    // buffer holds the whole output until it passes the window, and the window after that.
    if (distance - 1 >= static_cast<size_t>(op - m_out)) return false;
    CopyMatch(op, op - distance, distance, length);
    op += length;
    return true;
}

bool Decoder::ReportIfDue() {
    uint64_t produced = Produced();
    uint64_t since = produced - m_reportMark;
    if (since < kReportStep) return true;
    // Summed at each step, while the bytes are still in the nearest cache.
    Sum();
    // Steps are a few tokens' worth above 1024, far inside the count's range.
    if (m_progress && !m_progress(const_cast<char*>(m_name), static_cast<int>(since))) return false;
    m_reported += since;
    m_reportMark = produced;
    return true;
}

// One group token by token, with every bound and the progress step checked after each token.
// At its start a whole group is buffered, unless the buffer holds the last tokens.
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
        if (AtStreamEnd(ip)) {
            m_ip = ip;
            return kDone;
        }
    }
    m_ip = ip;
    return kGoOn;
}

int Decoder::ReadChecksum(uint32_t* stored) {
    unsigned char bytes[kChecksumBytes];
    size_t got = 0;
    while (got < kChecksumBytes) {
        size_t n = m_source.Read(bytes + got, kChecksumBytes - got);
        if (n == 0 || n > kChecksumBytes - got) return E_EREAD;
        got += n;
    }
    *stored = ReadLE32(bytes);
    return E_SUCCESS;
}

int Decoder::Run(const DecodeBufferSizes& sizes) {
    if (!Allocate(sizes)) return E_NO_MEMORY;
    if (!Refill()) return E_EREAD;
    m_flags = *m_ip++;
    for (;;) {
        if (static_cast<size_t>(m_end - m_ip) < kGroupInput && m_tokensLeft > 0 && !Refill()) return E_EREAD;
        if (static_cast<size_t>(m_limit - m_op) < kGroupRoom && !Flush()) return E_EWRITE;
        uint64_t since = Produced() - m_reportMark;
        if (static_cast<size_t>(m_end - m_ip) >= kGroupInput && since + 8 * kMaxMatch < kReportStep) {
            // The whole group is buffered and cannot reach a progress step: no bound or
            // report check is needed between its tokens.
            const unsigned char* ip = m_ip;
            unsigned char* op = m_op;
            unsigned flags = m_flags;
            for (int bit = 0; bit < 8; ++bit, flags >>= 1) {
                if (flags & 1) {
                    *op++ = *ip++;
                } else if (!DecodeReference(ip, op)) {
                    return E_BAD_DATA;
                }
            }
            m_flags = *ip++;
            m_ip = ip;
            m_op = op;
            if (AtStreamEnd(ip)) break;
            continue;
        }
        Step step = SlowGroup();
        if (step == kFailed) return m_failure;
        if (step == kDone) break;
    }
    if (!Flush()) return E_EWRITE;
    uint32_t stored;
    if (int r = ReadChecksum(&stored)) return r;
    if (m_progress) {
        // Hosts add positive counts up as bytes towards the entry's unpacked size, and read
        // negative ones as percentages: the last report is the output not yet reported, and
        // the status text adds nothing.
        int rest = static_cast<int>(Produced() - kWindowPrefixLength - m_reported);
        if (!m_progress(const_cast<char*>(m_name), rest)) return E_EABORTED;
        if (!m_progress(const_cast<char*>(kVerifyingText), 0)) return E_EABORTED;
    }
    return stored == m_sum ? E_SUCCESS : E_BAD_ARCHIVE;
}

class MemorySource : public DecodeSource {
public:
    MemorySource(const unsigned char* bytes, size_t length) : m_next(bytes), m_left(length) {}
    size_t Read(unsigned char* into, size_t n) override {
        n = std::min(n, m_left);
        std::memcpy(into, m_next, n);
        m_next += n;
        m_left -= n;
        return n;
    }

private:
    const unsigned char* m_next;
    size_t m_left;
};

class TextBufferSink : public DecodeSink {
public:
    explicit TextBufferSink(CTextBuffer* out) : m_out(out) {}
    bool Write(const unsigned char* bytes, size_t n) override {
        return n <= INT32_MAX && m_out->AppendBytes(bytes, static_cast<int32_t>(n)) == static_cast<int32_t>(n);
    }

private:
    CTextBuffer* m_out;
};

} // namespace

int DecompressStream(DecodeSource& source, uint64_t length, DecodeSink& sink, const char* entryName,
                     tProcessDataProc progress, const DecodeBufferSizes& sizes) {
    // Not even one token fits before the checksum.
    if (length < 6) return E_BAD_DATA;
    Decoder decoder(source, length, sink, entryName, progress);
    return decoder.Run(sizes);
}

int DecompressEntry(const unsigned char* block, int32_t length, const char* entryName, CTextBuffer* out,
                    tProcessDataProc progress, uint32_t expectedSize) {
    if (!block || length < 1) return E_SUCCESS;
    if (!out) return E_EWRITE;
    if (out->AppendSpaces(kWindowPrefixLength) != kWindowPrefixLength) return E_EWRITE;
    uint64_t hint = std::min<uint64_t>(expectedSize, kMaxExpansion * static_cast<uint64_t>(length));
    if (hint < static_cast<uint64_t>(INT32_MAX - out->Length())) out->Reserve(static_cast<int32_t>(hint));
    MemorySource source(block, static_cast<size_t>(length));
    TextBufferSink sink(out);
    return DecompressStream(source, static_cast<uint64_t>(length), sink, entryName, progress);
}
