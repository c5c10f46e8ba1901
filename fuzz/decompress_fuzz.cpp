// Bytes as a compressed entry block, expanded twice by the streaming decoder: once from
// memory in one piece with roomy buffers, once in small pieces of varied sizes through the
// smallest buffers, so that refills and window moves fall everywhere. Verdict, output and
// progress must not depend on the pieces.
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "codec/decompressor.h"

namespace {

std::vector<std::pair<bool, int>>* g_calls = nullptr;

int KYR_CALL Progress(char* text, int count) {
    g_calls->emplace_back(text == kVerifyingText, count);
    return 1;
}

// Piece sizes of 1 to 23 bytes, drawn from the block itself.
class PieceSource : public DecodeSource {
public:
    PieceSource(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    size_t Read(unsigned char* into, size_t n) override {
        size_t piece = 1 + m_data[m_calls++ % m_size] % 23;
        if (piece > n) piece = n;
        if (piece > m_size - m_next) piece = m_size - m_next;
        std::memcpy(into, m_data + m_next, piece);
        m_next += piece;
        return piece;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_next = 0;
    size_t m_calls = 0;
};

class VectorSink : public DecodeSink {
public:
    bool Write(const unsigned char* bytes, size_t n) override {
        out.insert(out.end(), bytes, bytes + n);
        return true;
    }
    std::vector<unsigned char> out;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20) || size == 0) return 0;
    std::vector<std::pair<bool, int>> wholeCalls, pieceCalls;

    g_calls = &wholeCalls;
    uint32_t hint = 0;
    if (size >= 4) std::memcpy(&hint, data, 4);
    CTextBuffer whole;
    int wholeResult = DecompressEntry(data, static_cast<int32_t>(size), "fuzz", &whole, Progress, hint);

    g_calls = &pieceCalls;
    PieceSource source(data, size);
    VectorSink sink;
    DecodeBufferSizes smallest;
    smallest.input = data[0] % 64;
    smallest.output = size > 1 ? data[1] * 64u : 0;
    int pieceResult = DecompressStream(source, size, sink, "fuzz", Progress, smallest);
    g_calls = nullptr;

    if (wholeResult != pieceResult || wholeCalls != pieceCalls) __builtin_trap();
    // Both saw the whole output when the checksum was compared; the one-piece run keeps it
    // behind its window prefix.
    if (wholeResult == 0 || wholeResult == E_BAD_ARCHIVE) {
        const size_t prefix = kWindowPrefixLength;
        if (static_cast<size_t>(whole.Length()) != prefix + sink.out.size() ||
            (!sink.out.empty() && std::memcmp(whole.Data() + prefix, sink.out.data(), sink.out.size()) != 0))
            __builtin_trap();
    }
    return 0;
}
