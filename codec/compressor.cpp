#include "codec/compressor.h"

#include <cstdlib>
#include <cstring>
#include <optional>

#include "codec/match_search.h"

namespace {

constexpr int32_t kPrefix = 18;
constexpr int kGroupTokens = 8;
constexpr unsigned kMarker = 1u << kGroupTokens;
constexpr uint32_t kSmallInput = 1u << 16;
// A token at p depends on no byte before p - 4095 and none from p + 18 on, and on where the
// input ends only within the last 18 bytes: a chunk is compressed with kContext bytes
// before its first token (also where a match ran past the chunk before) and kLookahead
// after its end, and gives exactly the tokens of the whole input. The margins beyond the
// window and the longest match keep the searches' wide reads inside what is held.
constexpr uint64_t kContext = 8192;
constexpr uint64_t kLookahead = 256;
// Chunk positions are 32-bit.
constexpr size_t kMaxChunkBytes = size_t(1) << 30;
constexpr int32_t kReportStep = 1024;

// The host's callback takes a writable string; these are never written.
char kLoadingText[] = "Loading data matrix ...";
char kChecksumText[] = "Calculating CRC ...";

// The output buffer: all of the stream, or what one chunk adds to the group in progress.
struct Output {
    unsigned char* bytes = nullptr;
    uint32_t capacity = 0;

    ~Output() { std::free(bytes); }

    bool Grow(uint32_t newCapacity) {
        unsigned char* grown = static_cast<unsigned char*>(std::realloc(bytes, newCapacity));
        if (!grown) return false;
        bytes = grown;
        capacity = newCapacity;
        return true;
    }
    void Release() {
        std::free(bytes);
        bytes = nullptr;
    }
};

struct Progress {
    const char* name;
    tProcessDataProc callback;
    int32_t sinceReport = 0;
    uint64_t reported = 0;
};

// What goes on from one chunk to the next.
struct Carry {
    uint64_t pos = kPrefix; // the parse position in the whole input
    uint32_t flagAt = 0;    // where the flag byte of the group in progress goes in the output
    uint32_t written = 1;   // the output's bytes so far; byte 0 is the first group's flag byte
    unsigned flags = kMarker;
    int32_t zeroFloor = 0;
    MatchSearch::Habits habits;
};

// A part of the input, prefix included, seen from `base` on.
struct Chunk {
    const unsigned char* bytes = nullptr;
    uint64_t base = 0;
    int32_t size = 0;
    bool last = false; // the input ends at base + size
};

// True when a callback is set and answers the report with 0 (stop).
bool Stopped(tProcessDataProc progress, const char* text, int count) {
    return progress && progress(const_cast<char*>(text), count) == 0;
}

uint32_t ByteSum(const unsigned char* data, uint32_t begin, uint32_t end) {
    uint32_t sum = 0;
    uint32_t i = begin;
#if KYRZBK_SSE2
    // Sixteen bytes at a time into two 64-bit lanes, which no file can overflow.
    __m128i lanes = _mm_setzero_si128();
    for (; end - i >= 16; i += 16)
        lanes = _mm_add_epi64(lanes, _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i)),
                                                  _mm_setzero_si128()));
    sum += uint32_t(_mm_cvtsi128_si32(lanes)) + uint32_t(_mm_cvtsi128_si32(_mm_unpackhi_epi64(lanes, lanes)));
#endif
    // Eight bytes at a time into four 16-bit lanes, emptied before they can overflow.
    constexpr uint64_t kLanes = 0x00FF00FF00FF00FFull;
    constexpr uint32_t kWordsPerFlush = 128; // 128 * 2 * 255 < 65536
    while (end - i >= 8) {
        uint64_t lanes = 0;
        for (uint32_t w = 0; w < kWordsPerFlush && end - i >= 8; ++w, i += 8) {
            uint64_t word;
            std::memcpy(&word, data + i, sizeof word);
            lanes += (word & kLanes) + ((word >> 8) & kLanes);
        }
        lanes = (lanes & 0x0000FFFF0000FFFFull) + ((lanes >> 16) & 0x0000FFFF0000FFFFull);
        sum += uint32_t(lanes) + uint32_t(lanes >> 32);
    }
    for (; i < end; ++i) sum += data[i];
    return sum;
}

// The token loop over one chunk, from carry.pos up to `emitEnd` (a match may run past it)
// or, in the last chunk, to the input's end. Its state lives in registers: the write
// position, the flag byte of the current group and its token bits, which enter at bit 15
// and move down one place per token, so that the group is complete when the marker that
// starts at bit 8 reaches bit 0. Results: 0, 21 (the callback said stop) or -1 (no
// memory for a larger output).
// Kept out of line: inlined, its loop keeps fewer of its values in registers.
template <bool kReporting>
KYRZBK_NOINLINE int EncodeTokens(const Chunk& chunk, int32_t emitEnd, DataMatrix& matrix, Output& output, Carry& carry,
                                 Progress& progress) {
    const unsigned char* input = chunk.bytes;
    const int32_t end = chunk.size;
    // Within the first window of the input, position 0 is the input's first byte; later
    // chunks start far enough back that their searches never come near their position 0.
    MatchSearch search(matrix, input, uint32_t(end), chunk.base == 0 ? carry.zeroFloor : 1);
    search.Resume(carry.habits);
    unsigned char* w = output.bytes + carry.written;
    unsigned char* flagAt = output.bytes + carry.flagAt;
    unsigned flags = carry.flags;
    int32_t pos = int32_t(carry.pos - chunk.base);
    // Returns false when the callback said stop.
    auto emit = [&](MatchResult taken) KYRZBK_INLINE_LAMBDA {
        flags >>= 1;
        int32_t consumed;
        if (taken.length < 0) {
            *w++ = input[pos];
            flags |= 1u << 15;
            consumed = 1;
        } else {
            w[0] = static_cast<unsigned char>(taken.distance & 0xFF);
            w[1] = static_cast<unsigned char>(((taken.distance >> 4) & 0xF0) | unsigned(taken.length - 3));
            w += 2;
            consumed = taken.length;
        }
        pos += consumed;
        if (flags & 1) {
            *flagAt = static_cast<unsigned char>(flags >> kGroupTokens);
            flagAt = w++;
            flags = kMarker;
        }
        if (kReporting) {
            progress.sinceReport += consumed;
            if (progress.sinceReport >= kReportStep) {
                if (Stopped(progress.callback, progress.name, progress.sinceReport)) return false;
                progress.reported += uint64_t(progress.sinceReport);
                progress.sinceReport = 0;
            }
        }
        return true;
    };
    // Room for the tokens of `positions` more positions: a byte each at most, and a flag
    // byte per eight.
    auto room = [&](int32_t positions) KYRZBK_INLINE_LAMBDA {
        const size_t at = size_t(w - output.bytes), flagOffset = size_t(flagAt - output.bytes);
        const uint64_t needed = uint64_t(at) + uint64_t(positions) + uint64_t(positions) / 8 + 8;
        if (needed <= output.capacity) return true;
        uint64_t grown = uint64_t(output.capacity) * 2;
        if (grown < needed) grown = needed;
        if (grown > UINT32_MAX) grown = needed;
        if (grown > UINT32_MAX || !output.Grow(uint32_t(grown))) return false;
        w = output.bytes + at;
        flagAt = output.bytes + flagOffset;
        return true;
    };
    auto keep = [&]() {
        carry.pos = chunk.base + uint64_t(pos);
        carry.flagAt = uint32_t(flagAt - output.bytes);
        carry.written = uint32_t(w - output.bytes);
        carry.flags = flags;
        if (chunk.base == 0) carry.zeroFloor = search.ZeroFloor();
        carry.habits = search.Learnt();
    };

    // A token needs at least 3 bytes; the last two positions of the input can only be literals.
    const int32_t searchEnd = chunk.last ? end - 2 : emitEnd;
    while (pos < searchEnd) {
        int32_t stop = search.LinkNext();
        if (stop > searchEnd) stop = searchEnd;
        if (!room(stop - pos)) return -1;
        while (pos < stop)
            if (!emit(search.BestMatch(pos))) return E_EABORTED;
    }
    if (!chunk.last) {
        keep();
        return 0;
    }
    if (!room(end - pos)) return -1;
    while (pos < end)
        if (!emit(MatchResult{})) return E_EABORTED;
    // A group that has just been filled leaves a flag byte of 0 behind: the decoder reads
    // one after every eighth token.
    while (!(flags & 1)) flags >>= 1;
    *flagAt = static_cast<unsigned char>(flags >> kGroupTokens);
    keep();
    return 0;
}

// Gives the chunks: views of a caller's buffer, or a buffer of ours read from an input.
class ChunkSource {
public:
    virtual ~ChunkSource() = default;
    // The input from `from` up to `to`, or to its end if that comes first. `from` never
    // goes back, and never past the end of the chunk before.
    virtual int View(uint64_t from, uint64_t to, Chunk* chunk) = 0;
};

class BufferSource : public ChunkSource {
public:
    BufferSource(const unsigned char* data, uint32_t size) : m_data(data), m_size(size) {}
    int View(uint64_t from, uint64_t to, Chunk* chunk) override {
        chunk->last = to >= m_size;
        chunk->bytes = m_data + from;
        chunk->base = from;
        chunk->size = int32_t((chunk->last ? m_size : to) - from);
        return 0;
    }

private:
    const unsigned char* m_data;
    uint32_t m_size;
};

class ReadSource : public ChunkSource {
public:
    explicit ReadSource(CompressorInput& input) : m_input(input) {}
    ~ReadSource() override { std::free(m_buffer); }
    bool Allocate(size_t capacity) {
        m_buffer = static_cast<unsigned char*>(std::malloc(capacity));
        return m_buffer != nullptr;
    }
    int View(uint64_t from, uint64_t to, Chunk* chunk) override {
        if (m_held == 0 && m_base == 0) {
            std::memset(m_buffer, ' ', kPrefix);
            m_held = kPrefix;
        }
        const size_t dropped = size_t(from - m_base);
        std::memmove(m_buffer, m_buffer + dropped, m_held - dropped);
        m_held -= dropped;
        m_base = from;
        while (!m_ended && m_base + m_held < to) {
            const size_t want = size_t(to - m_base - m_held);
            size_t got = 0;
            if (int r = m_input.Read(m_buffer + m_held, want, &got)) return r;
            m_held += got;
            if (got < want) m_ended = true;
        }
        chunk->bytes = m_buffer;
        chunk->base = m_base;
        chunk->size = int32_t(m_held);
        chunk->last = m_ended;
        return 0;
    }

private:
    CompressorInput& m_input;
    unsigned char* m_buffer = nullptr;
    uint64_t m_base = 0;
    size_t m_held = 0;
    bool m_ended = false;
};

// One compression, over the chunks of a source. The stream collects in `output`, and goes
// to `sink` group by group when there is one.
class Encoder {
public:
    Encoder(const char* name, tProcessDataProc progress, size_t chunkBytes)
        : m_progress{name, progress}, m_chunkBytes(chunkBytes < 1 ? 1 : chunkBytes > kMaxChunkBytes ? kMaxChunkBytes : chunkBytes) {}

    uint64_t FirstViewEnd() const { return kPrefix + m_chunkBytes + kLookahead; }
    // The most a view holds after the first.
    uint64_t MostHeld() const { return kContext + m_chunkBytes + kLookahead; }
    // The most positions one chunk gives tokens for.
    uint64_t MostPositions() const { return m_chunkBytes + kLookahead + match_detail::kMaxLength; }

    // Results as CompressStream's, and -1 when the output could not grow.
    int Run(ChunkSource& source, Chunk chunk, DataMatrix& matrix, Output& output, CompressorOutput* sink) {
        const bool reporting = m_progress.name != nullptr;
        uint64_t chunkEnd = kPrefix + m_chunkBytes;
        uint64_t summed = kPrefix;
        uint32_t sum = 0;
        for (;;) {
            const uint64_t viewEnd = chunk.base + uint64_t(chunk.size);
            if (viewEnd > summed) {
                sum += ByteSum(chunk.bytes, uint32_t(summed - chunk.base), uint32_t(viewEnd - chunk.base));
                summed = viewEnd;
            }
            // A match may have run past the end of this chunk already.
            if (chunk.last || m_carry.pos < chunkEnd) {
                matrix.Restart(chunk.bytes, uint32_t(chunk.size));
                const int32_t emitEnd = chunk.last ? chunk.size : int32_t(chunkEnd - chunk.base);
                const int encoded = reporting ? EncodeTokens<true>(chunk, emitEnd, matrix, output, m_carry, m_progress)
                                              : EncodeTokens<false>(chunk, emitEnd, matrix, output, m_carry, m_progress);
                if (encoded) return encoded;
                if (chunk.last) break;
                if (sink) {
                    if (int r = sink->Write(output.bytes, m_carry.flagAt)) return r;
                    std::memmove(output.bytes, output.bytes + m_carry.flagAt, m_carry.written - m_carry.flagAt);
                    m_carry.written -= m_carry.flagAt;
                    m_carry.flagAt = 0;
                }
            }
            chunkEnd += m_chunkBytes;
            const uint64_t from = m_carry.pos > kContext ? m_carry.pos - kContext : 0;
            if (int r = source.View(from, chunkEnd + kLookahead, &chunk)) return r;
        }
        if (reporting) {
            // The window prefix is none of the file's bytes. The rest is what the last step
            // left, less than a step and a match: it fits the host's int whatever the size.
            const uint64_t rest = summed - kPrefix - m_progress.reported;
            if (Stopped(m_progress.callback, m_progress.name, int(rest))) return E_EABORTED;
            m_progress.reported = summed - kPrefix;
            if (Stopped(m_progress.callback, kChecksumText, 0)) return E_EABORTED;
        }
        if (output.capacity < m_carry.written + 4 && !output.Grow(m_carry.written + 4)) return -1;
        for (int i = 0; i < 4; ++i) output.bytes[m_carry.written++] = static_cast<unsigned char>(sum >> (8 * i));
        if (sink) return sink->Write(output.bytes, m_carry.written);
        return 0;
    }

    uint32_t Written() const { return m_carry.written; }

private:
    Progress m_progress;
    const size_t m_chunkBytes;
    Carry m_carry;
};

// Builds the index for views of up to `capacity` bytes, the first of which is `first`.
int MakeMatrix(std::optional<DataMatrix>* matrix, const Chunk& first, uint64_t capacity, void* scratch,
               size_t scratchBytes) {
    try {
        matrix->emplace(first.bytes, uint32_t(capacity), scratch, scratchBytes);
    } catch (int code) {
        return code;
    } catch (...) {
        return E_NO_MEMORY;
    }
    return 0;
}

int CompressInMemory(unsigned char** data, int32_t* size, const char* progressName, tProcessDataProc progress,
                     size_t chunkBytes) {
    if (!data || !*data || !size || *size < kPrefix + 3) return E_NOT_SUPPORTED;
    const unsigned char* input = *data;
    const uint32_t end = uint32_t(*size);
    Encoder encoder(progressName, progress, chunkBytes);
    BufferSource source(input, end);
    Chunk first;
    source.View(0, encoder.FirstViewEnd(), &first);

    if (progressName && Stopped(progress, kLoadingText, 0)) return E_EABORTED;

    // Enough for the index of inputs up to 746 bytes.
    alignas(16) unsigned char scratch[16384];
    std::optional<DataMatrix> matrix;
    const uint64_t capacity = first.last ? end : encoder.MostHeld() < end ? encoder.MostHeld() : end;
    if (int r = MakeMatrix(&matrix, first, capacity, scratch, sizeof scratch)) return r;

    // Small inputs get the bound of their tokens at once: growing it would cost them a
    // copy. Large ones start at half, which most files end below.
    Output output;
    const uint32_t bound = end + end / 8 + 8;
    if (!output.Grow(end < kSmallInput ? bound : end / 2)) return E_NO_MEMORY;

    const int encoded = encoder.Run(source, first, *matrix, output, nullptr);
    if (encoded < 0) {
        // Only a failed reallocation of the output tells the callback, name or no name, and
        // only once the memory held so far has been given back. Hosts read a negative count
        // as a percentage, so the bytes already reported cannot be taken back: the call
        // reports none.
        output.Release();
        matrix.reset();
        return Stopped(progress, progressName, 0) ? E_EABORTED : E_NO_MEMORY;
    }
    if (encoded > 0) return encoded;

    matrix.reset();
    std::free(*data);
    *data = output.bytes;
    *size = int32_t(encoder.Written());
    output.bytes = nullptr;
    return 0;
}

} // namespace

int CompressBuffer(unsigned char** data, int32_t* size, const char* progressName, tProcessDataProc progress) {
    return CompressInMemory(data, size, progressName, progress, kCompressChunkBytes);
}

int CompressBufferInChunks(unsigned char** data, int32_t* size, const char* progressName, tProcessDataProc progress,
                           size_t chunkBytes) {
    return CompressInMemory(data, size, progressName, progress, chunkBytes);
}

int CompressStream(CompressorInput& input, CompressorOutput& output, const char* progressName,
                   tProcessDataProc progress, size_t chunkBytes) {
    Encoder encoder(progressName, progress, chunkBytes);
    // Everything is asked for here, before a byte is written: a pack then stores the file
    // instead, and no compression fails half-way for want of memory.
    ReadSource source(input);
    if (!source.Allocate(size_t(encoder.MostHeld()))) return E_NO_MEMORY;
    Chunk first;
    if (int r = source.View(0, encoder.FirstViewEnd(), &first)) return r;
    if (first.last && first.size < kPrefix + 3) return E_NOT_SUPPORTED;

    if (progressName && Stopped(progress, kLoadingText, 0)) return E_EABORTED;

    alignas(16) unsigned char scratch[16384];
    std::optional<DataMatrix> matrix;
    const uint64_t capacity = first.last ? uint64_t(first.size) : encoder.MostHeld();
    if (int r = MakeMatrix(&matrix, first, capacity, scratch, sizeof scratch)) return r;
    Output stream;
    const uint64_t positions = first.last ? uint64_t(first.size) : encoder.MostPositions();
    if (!stream.Grow(uint32_t(positions + positions / 8 + 64))) return E_NO_MEMORY;

    const int encoded = encoder.Run(source, first, *matrix, stream, &output);
    return encoded < 0 ? E_NO_MEMORY : encoded;
}
