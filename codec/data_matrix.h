// The index behind the entry compressor's searches. Each position is linked to the
// previous one whose first three bytes hash alike, newest first, so that a search walks
// back from the read position over the places that can match at all; stretches of one
// repeated byte are kept as runs instead. Positions are linked a slice ahead of the
// searches and kept in rings that hold the slice and the window behind it, so the memory
// is sized to the input up to a bound, and nothing is built or cleared per call beyond
// what the input needs.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__GNUC__)
#define KYRZBK_INLINE inline __attribute__((always_inline))
#define KYRZBK_INLINE_LAMBDA __attribute__((always_inline))
#define KYRZBK_NOINLINE __attribute__((noinline))
#else
#define KYRZBK_INLINE inline
#define KYRZBK_INLINE_LAMBDA
#define KYRZBK_NOINLINE
#endif

// Places that share 6 bytes, for inputs where the places sharing 3 are crowded.
constexpr int kLongKey = 6;

// The index of one compression call; MatchSearch runs the searches over it.
class DataMatrix {
public:
    // Throws the int 11 when memory runs out. The index of a small input fits in `scratch`
    // (the caller's, which outlives it): a call then asks the heap for nothing, where an
    // allocation that meets pages the heap gave back costs a small file a fifth of its time.
    DataMatrix(const unsigned char* data, uint32_t size, void* scratch = nullptr, size_t scratchBytes = 0);
    ~DataMatrix();
    DataMatrix(const DataMatrix&) = delete;
    // Starts over on other data, of at most the size the index was made for: the memory is
    // kept, and nothing of the data before is linked.
    void Restart(const unsigned char* data, uint32_t size);
    DataMatrix& operator=(const DataMatrix&) = delete;

    // Links the next slice of positions to their predecessors; returns the first position
    // still unlinked.
    int32_t LinkNext();
    const int32_t* Links() const { return m_short.previous; }
    // Positions before this one are linked, unless one byte repeats over their key.
    int32_t LinkedEnd() const { return m_linkedEnd; }
    int32_t Mask() const { return m_mask; }

    // Starts the chains of places sharing kLongKey bytes, from `from` on; they are kept a
    // slice ahead from then on. Null when there is no memory for them (the searches
    // then go on without).
    const int32_t* LinkLongKeys(int32_t from);

    // A stretch of one repeated byte, at least 3 long. Its places whose first three bytes
    // are that byte are on no chain: they would crowd it (zeros in binaries, indentation
    // in sources), and where a search meets a run only a few of its places can win.
    struct Run {
        int32_t start;
        int32_t end;      // first position after the run
        int32_t previous; // number of the previous run of the same byte, or -1
        int32_t after;    // the byte at end, or -1 at the end of the input
        int32_t previousAlike; // ... of the same byte and followed by the same byte
    };
    // Runs are numbered in the order of their starts and kept modulo RunMask() + 1.
    Run* Runs() const { return m_runs; }
    int32_t RunMask() const { return m_runMask; }
    int32_t RunCount() const { return m_runCount; }

private:
    struct Chains {
        int32_t* heads = nullptr;    // newest linked position per hash, -1 for none
        int32_t* previous = nullptr; // per position, the previous one with the same hash, or -1
    };
    // Lays out chains of the index's size in `memory`, heads empty, with `extra` bytes
    // behind the links; the bytes that takes.
    size_t ChainBytes(size_t extra) const;
    void PlaceChains(Chains* chains, void* memory) const;
    // The same in memory of its own; null when there is none.
    void* AllocateChains(Chains* chains, size_t extra) const;
    template <int KeyLength> void Link(const Chains& chains, int32_t start, int32_t end);
    // Records the run that starts at p, unless p lies in the last one recorded.
    void NoteRun(int32_t p);

    const unsigned char* m_data;
    int32_t m_size;
    int32_t m_linkedEnd = 0;
    int m_hashBits;
    int32_t m_mask;            // positions are kept modulo m_mask + 1
    Chains m_short;            // keys of 3 bytes
    Chains m_long;             // keys of kLongKey bytes, once started
    Run* m_runs;
    int32_t m_runMask;
    int32_t m_runCount = 0;    // runs found so far (a slice ahead of the searches)
    int32_t m_runPlacesEnd = 0; // first position after the places of the last run found
    void* m_memory = nullptr; // the heap's, or null for the caller's scratch
    void* m_longMemory = nullptr;
};

