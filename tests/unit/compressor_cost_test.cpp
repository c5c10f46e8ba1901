// What the compressor costs next to the plain reference, on inputs built to make its
// searches expensive and on the real-file corpus (bench/make_corpus.py; the test command
// builds it and names it in KYRZBK_CORPUS). Each stream must equal the reference's, and
// no input may take much longer than the reference takes on it (real files: no longer at
// all). The test command gives each test a time limit, so a compressor that hangs fails.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "codec/compressor.h"
#include "tests/support/hard_inputs.h"
#include "tests/support/reference_compressor.h"

namespace {

using hard_inputs::Bytes;

// Timings mean nothing in instrumented builds; the streams are still compared there.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kTimed = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kTimed = false;
#else
constexpr bool kTimed = true;
#endif
#else
constexpr bool kTimed = true;
#endif

// How much longer than the reference an input may take. On data that repeats with breaks
// the reference is at its best, and the compressor runs at 1.05 to 1.5 times its speed
// (the least without vector compares, in the 32-bit builds), so a strict comparison would
// fail now and then on a busy machine. What this limit catches is a search that costs a
// multiple of the reference's: a loop that goes round, a walk across the whole window.
constexpr double kAllowance = 1.5;

// Both compressors in turn, the best of five rounds each, so that a busy machine slows
// both alike.
void ExpectNoSlowerThanReference(const std::string& name, const Bytes& file, double allowance = kAllowance) {
    SCOPED_TRACE(name + ", " + std::to_string(file.size()) + " bytes");
    // A compressor that hangs is stopped by the test's time limit; this names the input.
    std::printf("compressing %s\n", name.c_str());
    std::fflush(stdout);
    double fastest = 1e9, plainest = 1e9;
    Bytes fast, plain;
    for (int round = 0; round < (kTimed ? 5 : 1); ++round) {
        double seconds = 0;
        fast = hard_inputs::Compress(CompressBuffer, file, &seconds);
        fastest = std::min(fastest, seconds);
        plain = hard_inputs::Compress(reference::CompressBuffer, file, &seconds);
        plainest = std::min(plainest, seconds);
        ASSERT_FALSE(fast.empty());
        ASSERT_TRUE(fast == plain) << "the streams differ from byte "
                                   << std::mismatch(fast.begin(), fast.end(), plain.begin(), plain.end()).first -
                                          fast.begin();
    }
    if (kTimed) {
        EXPECT_LE(fastest, plainest * allowance) << "reference " << plainest << " s, compressor " << fastest << " s";
    }
}

// Runs of many bytes with one byte kept rare: by the last runs, the records of the rare
// byte's runs have been reused, and following them used to go round for ever.
TEST(CompressorCost, RunsWhoseRecordsWereReusedEndTheSearch) {
    for (unsigned seed : {1u, 2u, 4u}) {
        // A search that goes round never ends, and the test's time limit stops it; these
        // inputs take milliseconds, too short for a close comparison on a busy machine.
        ExpectNoSlowerThanReference("forgotten runs, seed " + std::to_string(seed),
                                    hard_inputs::ForgottenRuns(40000, seed), 4.0);
        if (HasFatalFailure()) return;
    }
}

TEST(CompressorCost, HardInputsCostAtMostALittleMoreThanTheReference) {
    for (const hard_inputs::Input& input : hard_inputs::Adversarial(384 * 1024)) {
        ExpectNoSlowerThanReference(input.name, input.bytes);
        if (HasFatalFailure()) return;
    }
}

TEST(CompressorCost, RealFilesAreNoSlowerThanTheReference) {
    const std::string dir = hard_inputs::CorpusDir();
    if (dir.empty()) GTEST_SKIP() << "KYRZBK_CORPUS names no corpus";
    for (const std::string& kind : hard_inputs::CorpusKinds()) {
        Bytes file = hard_inputs::ReadCorpus(dir, kind, 2 << 20);
        ASSERT_EQ(file.size(), size_t(2) << 20) << dir << "/" << kind << ".dat is missing or short";
        ExpectNoSlowerThanReference(kind, file, 1.0);
        if (HasFatalFailure()) return;
    }
}

} // namespace
