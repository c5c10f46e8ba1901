// CompressBuffer against the plain reference of the same stream and against zlib's deflate
// at level 6, on the same data in the same run. Throughput counts input bytes.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "codec/compressor.h"
#include "tests/support/hard_inputs.h"
#include "tests/support/reference_compressor.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

constexpr size_t kPrefix = 18;
constexpr size_t kLarge = 1 << 20;

Bytes ReadFile(const fs::path& path, size_t limit) {
    std::ifstream in(path, std::ios::binary);
    Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() > limit) bytes.resize(limit);
    return bytes;
}

Bytes ConcatenateFiles(const fs::path& dir, bool recursive, const std::vector<std::string>& extensions) {
    std::vector<fs::path> files;
    std::error_code ec;
    auto take = [&](const fs::directory_entry& e) {
        if (!e.is_regular_file()) return;
        std::string ext = e.path().extension().string();
        if (extensions.empty() || std::find(extensions.begin(), extensions.end(), ext) != extensions.end())
            files.push_back(e.path());
    };
    if (recursive) {
        for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
            if (it->path().filename() == "build" || it->path().filename() == ".git") {
                it.disable_recursion_pending();
                continue;
            }
            take(*it);
        }
    } else {
        for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) take(*it);
    }
    std::sort(files.begin(), files.end());
    Bytes all;
    for (const fs::path& f : files) {
        Bytes b = ReadFile(f, kLarge);
        all.insert(all.end(), b.begin(), b.end());
        if (all.size() >= kLarge) break;
    }
    if (all.size() > kLarge) all.resize(kLarge);
    return all;
}

Bytes Letters(unsigned count, size_t n) {
    std::mt19937 rng(count);
    Bytes out(n);
    for (auto& b : out) b = static_cast<unsigned char>('a' + rng() % count);
    return out;
}

// Words drawn with a skewed frequency, for machines without the license texts.
Bytes GeneratedText(size_t n) {
    static const char* const words[] = {"the", "of", "and", "to", "a", "in", "that", "is", "for", "it", "as",
                                        "with", "be", "on", "not", "this", "by", "are", "or", "from",
                                        "license", "software", "program", "copy", "work", "terms"};
    std::mt19937 rng(3);
    std::string text;
    while (text.size() < n) {
        unsigned r = rng() % 1000;
        text += words[(r * r / 1000) * 26 / 1000];
        text += rng() % 11 == 0 ? ".\r\n" : " ";
    }
    return Bytes(text.begin(), text.begin() + n);
}

// Flat areas of one colour, four bytes a pixel, as in the textures games ship: data that
// repeats with a short period.
Bytes Pixels(size_t n) {
    std::mt19937 rng(4);
    Bytes out;
    while (out.size() < n) {
        const uint32_t colour = rng();
        const size_t pixels = 1024 + rng() % 16384;
        for (size_t k = 0; k < pixels; ++k)
            for (int b = 0; b < 4; ++b) out.push_back(static_cast<unsigned char>(colour >> (8 * b)));
    }
    out.resize(n);
    return out;
}

struct DataSets {
    Bytes text, source, binary, twoLetters, fourLetters, pixels;
};

const DataSets& Data() {
    static DataSets sets = [] {
        DataSets d;
        d.text = ConcatenateFiles("/usr/share/common-licenses", false, {});
        if (d.text.size() < 64 * 1024) d.text = GeneratedText(256 * 1024);
        fs::path root = fs::path(__FILE__).parent_path().parent_path();
        d.source = ConcatenateFiles(root, true, {".cpp", ".h"});
        d.binary = ReadFile("/proc/self/exe", kLarge);
        d.twoLetters = Letters(2, kLarge);
        d.fourLetters = Letters(4, kLarge);
        d.pixels = Pixels(kLarge);
        return d;
    }();
    return sets;
}

using Compressor = int (*)(unsigned char**, int32_t*, const char*, tProcessDataProc);

// Compresses the file behind the space prefix, as the archive writer hands it over: the
// stream's length (0 on failure), and the stream itself when `stream` is given.
size_t CompressOnce(Compressor compress, const Bytes& file, Bytes* stream = nullptr) {
    size_t n = kPrefix + file.size();
    auto* data = static_cast<unsigned char*>(std::malloc(n));
    std::memset(data, 0x20, kPrefix);
    std::memcpy(data + kPrefix, file.data(), file.size());
    int32_t size = int32_t(n);
    int result = compress(&data, &size, nullptr, nullptr);
    if (result == 0 && stream) stream->assign(data, data + size);
    std::free(data);
    return result == 0 ? size_t(size) : 0;
}

// The streaming call as the archive writer makes it, in chunks of 1 MiB so that every
// corpus file crosses the ends of chunks: the file's bytes read in, the stream written out
// to a buffer grown as a file would be.
int StreamInMiBChunks(unsigned char** data, int32_t* size, const char*, tProcessDataProc) {
    struct In : CompressorInput {
        const unsigned char* at;
        size_t left;
        int Read(unsigned char* into, size_t want, size_t* got) override {
            *got = std::min(want, left);
            std::memcpy(into, at, *got);
            at += *got;
            left -= *got;
            return 0;
        }
    } in;
    struct Out : CompressorOutput {
        Bytes bytes;
        int Write(const unsigned char* b, size_t n) override {
            bytes.insert(bytes.end(), b, b + n);
            return 0;
        }
    } out;
    in.at = *data + kPrefix;
    in.left = size_t(*size) - kPrefix;
    const int result = CompressStream(in, out, nullptr, nullptr, size_t(1) << 20);
    if (result != 0) return result;
    auto* stream = static_cast<unsigned char*>(std::malloc(out.bytes.size()));
    std::memcpy(stream, out.bytes.data(), out.bytes.size());
    std::free(*data);
    *data = stream;
    *size = int32_t(out.bytes.size());
    return 0;
}

Bytes CompressToBytes(Compressor compress, const Bytes& file) {
    Bytes stream;
    CompressOnce(compress, file, &stream);
    return stream;
}

size_t DeflateOnce(const Bytes& file) {
    static Bytes out;
    uLongf length = compressBound(uLong(file.size()));
    out.resize(length);
    return compress2(out.data(), &length, file.data(), uLong(file.size()), 6) == Z_OK ? length : 0;
}

// Each iteration takes the next piece, so that small inputs are not served from one warm
// slice. The ratio counts the first round over the pieces, the same for every contender.
void Run(benchmark::State& state, const std::vector<Bytes>& pieces, Compressor compress) {
    size_t i = 0, in = 0, roundIn = 0, roundOut = 0;
    for (auto _ : state) {
        const Bytes& piece = pieces[i % pieces.size()];
        size_t produced = compress ? CompressOnce(compress, piece) : DeflateOnce(piece);
        if (produced == 0) state.SkipWithError("compression failed");
        benchmark::DoNotOptimize(produced);
        if (i < pieces.size()) {
            roundIn += piece.size();
            roundOut += produced;
        }
        in += piece.size();
        ++i;
    }
    state.SetBytesProcessed(int64_t(in));
    state.counters["ratio"] = roundIn ? double(roundOut) / double(roundIn) : 0;
}

// Both compressors on each piece in turn, so that a machine that grows busier during the
// run slows both alike. `x_reference` is the reference's time over the compressor's, from
// the fastest iteration of each: an iteration that another process interrupted is slower,
// never faster.
void Paired(benchmark::State& state, const std::vector<Bytes>& pieces, Compressor compress) {
    using Clock = std::chrono::steady_clock;
    size_t i = 0, in = 0;
    double fastest = 1e9, plainest = 1e9; // the best rounds over all pieces
    double roundFast = 0, roundPlain = 0;
    for (auto _ : state) {
        const Bytes& piece = pieces[i % pieces.size()];
        const auto t0 = Clock::now();
        size_t produced = CompressOnce(compress, piece);
        const auto t1 = Clock::now();
        produced += CompressOnce(reference::CompressBuffer, piece);
        const auto t2 = Clock::now();
        benchmark::DoNotOptimize(produced);
        roundFast += std::chrono::duration<double>(t1 - t0).count();
        roundPlain += std::chrono::duration<double>(t2 - t1).count();
        if (++i % pieces.size() == 0) {
            fastest = std::min(fastest, roundFast);
            plainest = std::min(plainest, roundPlain);
            roundFast = roundPlain = 0;
        }
        in += piece.size();
    }
    state.SetBytesProcessed(int64_t(in));
    state.counters["x_reference"] = fastest < 1e9 ? plainest / fastest : 0;
}

std::vector<Bytes> Slices(const Bytes& whole, size_t size, size_t count) {
    std::vector<Bytes> pieces;
    for (size_t k = 0; k < count && (k + 1) * size <= whole.size(); ++k)
        pieces.emplace_back(whole.begin() + k * size, whole.begin() + (k + 1) * size);
    return pieces;
}

void RegisterAll() {
    const DataSets& d = Data();
    struct Set {
        std::string name;
        std::vector<Bytes> pieces;
    };
    std::vector<Set> sets = {
        {"text", {d.text}},
        {"source", {d.source}},
        {"binary", {d.binary}},
        {"two_letters", {d.twoLetters}},
        {"four_letters", {d.fourLetters}},
        {"pixels", {d.pixels}},
        {"text_4KiB", Slices(d.text, 4096, 64)},
        {"source_4KiB", Slices(d.source, 4096, 64)},
        {"text_256B", Slices(d.text, 256, 256)},
        {"source_256B", Slices(d.source, 256, 256)},
    };
    // The real-file corpus, whole files of 8 MiB, when KYRZBK_CORPUS names it.
    std::string corpus = hard_inputs::CorpusDir();
    if (corpus.empty()) corpus = KYRZBK_DEFAULT_CORPUS;
    for (const std::string& kind : hard_inputs::CorpusKinds()) {
        Bytes file = corpus.empty() ? Bytes() : hard_inputs::ReadCorpus(corpus, kind, size_t(64) << 20);
        if (!file.empty()) sets.push_back({"corpus_" + kind, {file}});
    }
    if (corpus.empty()) std::fprintf(stderr, "no real-file corpus: set KYRZBK_CORPUS (bench/make_corpus.py writes one)\n");
    // One record repeated, with a byte changed in none, 2 % or 20 % of the records.
    for (size_t period : {20, 24, 33, 45, 48, 64, 100, 128, 200, 512, 1000, 2048, 4000})
        for (unsigned breaks : {0u, 2u, 20u})
            sets.push_back({"records_" + std::to_string(period) + "_breaks" + std::to_string(breaks),
                            {hard_inputs::RepeatedRecords(period, breaks, kLarge)}});
    for (hard_inputs::Input& input : hard_inputs::Adversarial(512 * 1024)) {
        std::string name = "hard_" + input.name;
        std::replace(name.begin(), name.end(), ' ', '_');
        sets.push_back({name, {std::move(input.bytes)}});
    }
    // The speed of a different stream would mean nothing: every piece is checked first
    // (the 1 MiB narrow alphabets only by the unit tests, the reference needs seconds there).
    size_t checked = 0;
    for (const Set& s : sets) {
        if (s.name.find("letters") != std::string::npos) continue;
        if (s.name.find("corpus_") == 0) std::fprintf(stderr, "checking %s ...\n", s.name.c_str());
        for (const Bytes& piece : s.pieces) {
            const Bytes expected = CompressToBytes(reference::CompressBuffer, piece);
            const bool streamed = s.name.find("corpus_") == 0;
            if (CompressToBytes(CompressBuffer, piece) != expected ||
                (streamed && CompressToBytes(StreamInMiBChunks, piece) != expected)) {
                std::fprintf(stderr, "streams differ on %s\n", s.name.c_str());
                std::exit(1);
            }
            ++checked;
        }
    }
    std::fprintf(stderr, "streams identical to the reference on %zu inputs\n", checked);
    for (const Set& s : sets) {
        if (s.pieces.empty() || s.pieces[0].size() < 3) continue;
        benchmark::RegisterBenchmark(("CompressBuffer/" + s.name).c_str(),
                                     [s](benchmark::State& st) { Run(st, s.pieces, CompressBuffer); });
        benchmark::RegisterBenchmark(("Reference/" + s.name).c_str(),
                                     [s](benchmark::State& st) { Run(st, s.pieces, reference::CompressBuffer); });
        benchmark::RegisterBenchmark(("Deflate6/" + s.name).c_str(),
                                     [s](benchmark::State& st) { Run(st, s.pieces, nullptr); });
        benchmark::RegisterBenchmark(("Paired/" + s.name).c_str(),
                                     [s](benchmark::State& st) { Paired(st, s.pieces, CompressBuffer); });
        if (s.name.find("corpus_") == 0)
            benchmark::RegisterBenchmark(("PairedStreamed/" + s.name).c_str(),
                                         [s](benchmark::State& st) { Paired(st, s.pieces, StreamInMiBChunks); });
    }
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RegisterAll();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
