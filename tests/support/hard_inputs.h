// Inputs built to make the entry compressor's searches expensive, and the real-file corpus
// that bench/make_corpus.py writes. Tests and benchmarks use both to hold the compressor's
// cost to the plain reference's on every kind of data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "frame/wcx.h"

namespace hard_inputs {

using Bytes = std::vector<unsigned char>;

struct Input {
    std::string name;
    Bytes bytes;
};

// Narrow alphabets, data that repeats with a short period and rare breaks, long runs
// followed by near-runs, places that share a key but not what follows it, and more runs
// than the compressor keeps records of: n bytes each (about), from a fixed seed.
std::vector<Input> Adversarial(size_t n);

// One record of `period` bytes repeated to n bytes, with one byte changed in about
// `breakPercent` of the records (the change in that record only): tables of structures,
// vertex buffers of flat geometry, rows of a height map. The record's bytes come from a
// small set, as fields of text and numbers do, so its keys come back within it.
Bytes RepeatedRecords(size_t period, unsigned breakPercent, size_t n, unsigned seed = 1);

// Runs of many bytes, one byte kept rare, ending in a run of that rare byte followed by a
// third byte: the records of the rare byte's earlier runs have been reused by the time
// the last runs are searched.
Bytes ForgottenRuns(size_t runs, unsigned seed);

// The corpus folder: $KYRZBK_CORPUS, else empty.
std::string CorpusDir();
// The kinds of the corpus, in the order the script writes them.
const std::vector<std::string>& CorpusKinds();
// The first `limit` bytes of one corpus file; empty when it is missing.
Bytes ReadCorpus(const std::string& dir, const std::string& kind, size_t limit);

// Compresses `file` behind the window prefix with the given compressor; the stream, or
// empty on failure. `seconds` receives the time the call took.
using Compressor = int (*)(unsigned char**, int32_t*, const char*, tProcessDataProc);
Bytes Compress(Compressor compress, const Bytes& file, double* seconds = nullptr);

} // namespace hard_inputs
