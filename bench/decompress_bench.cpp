// Expanding compressed entries, in MB/s of output, beside zlib's inflate on the same data:
// whole into memory (DecompressEntry), and in pieces through fixed buffers as extraction
// does (DecompressStream). The streams come from the plug-in's own compressor; the ratios
// are printed after the runs.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "codec/compressor.h"
#include "codec/decompressor.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kTargetSize = 4 << 20;

std::string SourceRoot() {
    fs::path here = fs::path(__FILE__).parent_path().parent_path();
    return here.string();
}

// English-like prose from a fixed vocabulary and seed.
std::vector<unsigned char> MakeText() {
    static const char* const words[] = {
        "the", "of", "and", "to", "in", "a", "is", "that", "for", "it", "as", "was", "with", "be", "by", "on",
        "not", "he", "this", "are", "or", "his", "from", "at", "which", "but", "have", "an", "had", "they", "you",
        "were", "their", "one", "all", "we", "can", "her", "has", "there", "been", "if", "more", "when", "will",
        "would", "who", "so", "no", "garden", "letter", "window", "morning", "kitchen", "river", "between",
        "against", "through", "paper", "number", "question", "table", "before", "under", "light", "weather",
        "market", "station", "bridge", "hill", "north", "south", "quickly", "slowly", "quiet", "distant",
        "remember", "following", "however", "although", "because", "several", "during", "nothing", "everyone"};
    std::mt19937 random(20240601);
    std::string text;
    int sentence = 0;
    while (text.size() < kTargetSize) {
        std::string word = words[random() % (sizeof words / sizeof *words)];
        if (sentence == 0) word[0] = static_cast<char>(word[0] - 'a' + 'A');
        text += word;
        if (++sentence > 6 + static_cast<int>(random() % 12)) {
            text += random() % 5 == 0 ? ".\r\n" : ". ";
            sentence = 0;
        } else {
            text += random() % 9 == 0 ? ", " : " ";
        }
    }
    return std::vector<unsigned char>(text.begin(), text.end());
}

// The project's own sources, concatenated (repeated up to the target size).
std::vector<unsigned char> MakeSource() {
    std::vector<unsigned char> all;
    for (const char* folder : {"common", "frame", "archive", "platform", "settings", "tools", "tests"}) {
        std::error_code ec;
        for (fs::recursive_directory_iterator it(fs::path(SourceRoot()) / folder, ec), end; !ec && it != end;
             it.increment(ec)) {
            std::string ext = it->path().extension().string();
            if (it->is_regular_file() && (ext == ".cpp" || ext == ".h")) {
                std::vector<unsigned char> bytes = ReadFileBytes(it->path().string());
                all.insert(all.end(), bytes.begin(), bytes.end());
            }
        }
    }
    std::vector<unsigned char> out;
    while (!all.empty() && out.size() < kTargetSize) out.insert(out.end(), all.begin(), all.end());
    out.resize(std::min(out.size(), kTargetSize));
    return out;
}

// Machine code (this benchmark's own executable), then tables like those of a game
// resource: vertex records of little-endian floats and 16-bit indices, with some noise.
std::vector<unsigned char> MakeBinary() {
    std::vector<unsigned char> bytes = ReadFileBytes("/proc/self/exe");
    std::mt19937 random(7);
    auto put = [&](const void* p, size_t n) {
        const unsigned char* b = static_cast<const unsigned char*>(p);
        bytes.insert(bytes.end(), b, b + n);
    };
    for (uint32_t i = 0; bytes.size() < kTargetSize; ++i) {
        float vertex[5] = {static_cast<float>(i % 64) * 0.25f, static_cast<float>(random() % 1000) / 100.0f,
                           static_cast<float>(i / 64) * 0.25f, static_cast<float>(i % 2), 1.0f};
        put(vertex, sizeof vertex);
        uint16_t indices[3] = {static_cast<uint16_t>(i), static_cast<uint16_t>(i + 1), static_cast<uint16_t>(i + 64)};
        put(indices, sizeof indices);
    }
    bytes.resize(kTargetSize);
    return bytes;
}

struct DataSet {
    std::vector<unsigned char> plain;
    std::vector<unsigned char> stream;
    std::vector<unsigned char> deflated;
};

// A stream as the packer writes it: the 18-space window prefix, then the data.
std::vector<unsigned char> Compress(const std::vector<unsigned char>& plain) {
    int32_t size = static_cast<int32_t>(plain.size() + kWindowPrefixLength);
    unsigned char* data = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(size)));
    std::memset(data, ' ', kWindowPrefixLength);
    std::memcpy(data + kWindowPrefixLength, plain.data(), plain.size());
    if (CompressBuffer(&data, &size, nullptr, nullptr) != 0) std::abort();
    std::vector<unsigned char> stream(data, data + size);
    std::free(data);
    return stream;
}

const DataSet& Data(const std::string& name) {
    static std::map<std::string, DataSet> sets;
    auto it = sets.find(name);
    if (it != sets.end()) return it->second;
    DataSet set;
    set.plain = name == "text" ? MakeText() : name == "source" ? MakeSource() : MakeBinary();
    set.stream = Compress(set.plain);
    uLongf bound = compressBound(static_cast<uLong>(set.plain.size()));
    set.deflated.resize(bound);
    compress2(set.deflated.data(), &bound, set.plain.data(), static_cast<uLong>(set.plain.size()), Z_DEFAULT_COMPRESSION);
    set.deflated.resize(bound);
    return sets.emplace(name, std::move(set)).first->second;
}

void BM_DecompressEntry(benchmark::State& state, const std::string& name) {
    const DataSet& d = Data(name);
    for (auto _ : state) {
        CTextBuffer out;
        int result = DecompressEntry(d.stream.data(), static_cast<int32_t>(d.stream.size()), "bench", &out, nullptr,
                                     static_cast<uint32_t>(d.plain.size()));
        if (result != 0 || out.Length() != static_cast<int32_t>(d.plain.size() + 18)) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(out.Data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * d.plain.size()));
    state.counters["ratio%"] = 100.0 * static_cast<double>(d.stream.size()) / static_cast<double>(d.plain.size());
}

// The form extraction takes: the block pulled in 64 KiB pieces, the output handed on through
// the decoder's fixed buffer (copied here into a 1 MiB one, as a file stream's buffer takes it).
class PieceSource : public DecodeSource {
public:
    explicit PieceSource(const std::vector<unsigned char>& block) : m_block(block) {}
    size_t Read(unsigned char* into, size_t n) override {
        n = std::min({n, m_block.size() - m_next, size_t(64 * 1024)});
        std::memcpy(into, m_block.data() + m_next, n);
        m_next += n;
        return n;
    }

private:
    const std::vector<unsigned char>& m_block;
    size_t m_next = 0;
};

class BufferSink : public DecodeSink {
public:
    bool Write(const unsigned char* bytes, size_t n) override {
        if (m_used + n > sizeof m_buffer) m_used = 0;
        std::memcpy(m_buffer + m_used, bytes, n);
        m_used += n;
        total += n;
        return true;
    }
    size_t total = 0;

private:
    unsigned char m_buffer[1 << 20];
    size_t m_used = 0;
};

void BM_DecompressStream(benchmark::State& state, const std::string& name) {
    const DataSet& d = Data(name);
    auto sink = std::make_unique<BufferSink>();
    for (auto _ : state) {
        PieceSource source(d.stream);
        sink->total = 0;
        int result = DecompressStream(source, d.stream.size(), *sink, "bench", nullptr);
        if (result != 0 || sink->total != d.plain.size()) state.SkipWithError("decode failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * d.plain.size()));
}

void BM_Inflate(benchmark::State& state, const std::string& name) {
    const DataSet& d = Data(name);
    std::vector<unsigned char> out(d.plain.size());
    for (auto _ : state) {
        uLongf n = static_cast<uLongf>(out.size());
        if (uncompress(out.data(), &n, d.deflated.data(), static_cast<uLong>(d.deflated.size())) != Z_OK ||
            n != d.plain.size())
            state.SkipWithError("inflate failed");
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * d.plain.size()));
    state.counters["ratio%"] = 100.0 * static_cast<double>(d.deflated.size()) / static_cast<double>(d.plain.size());
}

// Collects bytes per second by benchmark so the ratios can be printed at the end; with
// repetitions the median stands for the benchmark.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            auto it = run.counters.find("bytes_per_second");
            if (it == run.counters.end()) continue;
            if (run.run_type == Run::RT_Iteration && run.repetitions <= 1)
                rates[run.run_name.str()] = it->second.value;
            else if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
                rates[run.run_name.str()] = it->second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> rates;
};

} // namespace

int main(int argc, char** argv) {
    const char* sets[] = {"text", "source", "binary"};
    for (const char* set : sets) {
        benchmark::RegisterBenchmark((std::string("DecompressEntry/") + set).c_str(), BM_DecompressEntry, std::string(set))
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((std::string("DecompressStream/") + set).c_str(), BM_DecompressStream,
                                     std::string(set))
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((std::string("Inflate/") + set).c_str(), BM_Inflate, std::string(set))
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nDecompressEntry MB/s over inflate MB/s (goal: 2.0 or more)\n");
    for (const char* set : sets) {
        double ours = reporter.rates[std::string("DecompressEntry/") + set];
        double zlib = reporter.rates[std::string("Inflate/") + set];
        if (ours > 0 && zlib > 0)
            std::printf("  %-7s %8.1f MB/s  %8.1f MB/s  ratio %.2f\n", set, ours / 1e6, zlib / 1e6, ours / zlib);
    }
    benchmark::Shutdown();
    return 0;
}
