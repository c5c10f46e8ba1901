// Decoding speed of configurations of 5 to 40 MB (at least) in both layouts: regular generated
// ones, and ones made of the shapes real files have (deep inheritance, large classes, arrays of
// arrays, long strings, floats of every magnitude, delete entries). The rate (bytes of binarized
// file per second) should not fall as the size grows: cost is linear.
// Encoding: 20 MB of text (as decoding writes it, comments on) parsed and laid out again,
// in MB/s of text; x_decode is the median, over the rounds, of the encode time over the
// time to decode what it gave, each round measuring both in turn (at most 1.5 is the goal).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "config/config_encoder.h"
#include "config/kyr_bin_manager.h"
#include "config/tesk_bin_manager.h"
#include "settings/settings_store.h"
#include "tests/support/config_samples.h"
#include "tests/support/config_shapes.h"
#include "tests/support/config_text.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace cfg;

enum class Shape { kGenerated, kRealWorld };

ConfigDescription Describe(Shape shape, bool tesk, size_t units) {
    return shape == Shape::kGenerated ? GeneratedConfig(units) : RealWorldConfig(units, tesk);
}

// One file per shape, layout and size, made on first use and kept for the whole run.
const std::string& ConfigFile(Shape shape, bool tesk, size_t megabytes) {
    static TempDir dir;
    static std::map<std::tuple<Shape, bool, size_t>, std::string> files;
    auto key = std::make_tuple(shape, tesk, megabytes);
    auto found = files.find(key);
    if (found != files.end()) return found->second;
    // The layouts and shapes differ in size per unit; a small sample tells how many make the
    // size. The first layout stores a repeated string once, so its units shrink as they
    // multiply, and a file that came out short is made again with more.
    const double target = static_cast<double>(megabytes) * 1e6;
    size_t units = shape == Shape::kGenerated ? 1000 : 4;
    Bytes bytes = WriteConfig(Describe(shape, tesk, units), tesk);
    for (int attempt = 0; attempt < 3 && static_cast<double>(bytes.size()) < target; ++attempt) {
        units = static_cast<size_t>(target / static_cast<double>(bytes.size()) * static_cast<double>(units) * 1.02) + 1;
        bytes = WriteConfig(Describe(shape, tesk, units), tesk);
    }
    std::string path = dir.File(std::string(shape == Shape::kGenerated ? "generated_" : "real_world_") +
                                (tesk ? "tesk_" : "kyr_") + std::to_string(megabytes) + ".bin");
    SaveConfig(path, bytes);
    return files.emplace(key, path).first->second;
}

// Listing decodes the whole file to learn the size of its text; false when the decode fails.
template <typename Manager>
bool ListOnce(std::string& path, int64_t* textSize = nullptr) {
    Manager m;
    tOpenArchiveData open = {};
    open.ArcName = &path[0];
    open.OpenMode = PK_OM_LIST;
    m.OpenArchive(&open);
    tHeaderData header = {};
    if (open.OpenResult != 0 || m.ReadHeader(&header) != 0) return false;
    if (textSize) *textSize = header.UnpSize;
    return true;
}

template <typename Manager>
void DecodeConfig(benchmark::State& state, Shape shape, bool tesk) {
    size_t megabytes = static_cast<size_t>(state.range(0));
    std::string path = ConfigFile(shape, tesk, megabytes);
    int64_t fileSize = static_cast<int64_t>(ReadFileBytes(path).size());
    int64_t textSize = 0;
    for (auto _ : state) {
        if (!ListOnce<Manager>(path, &textSize)) {
            state.SkipWithError("decode failed");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * fileSize);
    state.counters["file_MB"] = static_cast<double>(fileSize) / 1e6;
    state.counters["text_MB"] = static_cast<double>(textSize) / 1e6;
    state.counters["MB/s"] =
        benchmark::Counter(static_cast<double>(fileSize) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

// Text of at least `megabytes` MB, made on first use and kept for the whole run.
const std::string& ConfigTextOf(Shape shape, bool tesk, size_t megabytes) {
    static std::map<std::tuple<Shape, bool, size_t>, std::string> texts;
    auto key = std::make_tuple(shape, tesk, megabytes);
    auto found = texts.find(key);
    if (found != texts.end()) return found->second;
    const double target = static_cast<double>(megabytes) * 1e6;
    size_t units = shape == Shape::kGenerated ? 1000 : 4;
    std::string text = ConfigText(Describe(shape, tesk, units), tesk, true);
    units = static_cast<size_t>(target / static_cast<double>(text.size()) * static_cast<double>(units) * 1.01) + 1;
    return texts.emplace(key, ConfigText(Describe(shape, tesk, units), tesk, true)).first->second;
}

template <typename Manager>
void EncodeConfig(benchmark::State& state, Shape shape, bool tesk) {
    using Clock = std::chrono::steady_clock;
    const std::string& text = ConfigTextOf(shape, tesk, static_cast<size_t>(state.range(0)));
    static TempDir dir;
    std::string path = dir.File("encoded.bin");
    std::vector<double> ratios;
    std::vector<uint8_t> bytes;
    for (auto _ : state) {
        ConfigTextError error;
        Clock::time_point start = Clock::now();
        bool ok = EncodeConfigText(text.data(), text.size(), tesk ? ConfigLayout::kTesk : ConfigLayout::kKyr, &bytes,
                                   &error);
        double encodeSeconds = std::chrono::duration<double>(Clock::now() - start).count();
        if (!ok) {
            state.SkipWithError(("encode failed: " + error.message).c_str());
            break;
        }
        state.SetIterationTime(encodeSeconds);
        SaveConfig(path, bytes);
        start = Clock::now();
        if (!ListOnce<Manager>(path)) {
            state.SkipWithError("decoding the encoded file failed");
            break;
        }
        ratios.push_back(encodeSeconds / std::chrono::duration<double>(Clock::now() - start).count());
    }
    std::sort(ratios.begin(), ratios.end());
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
    state.counters["text_MB"] = static_cast<double>(text.size()) / 1e6;
    state.counters["file_MB"] = static_cast<double>(bytes.size()) / 1e6;
    state.counters["MB/s"] =
        benchmark::Counter(static_cast<double>(text.size()) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
    if (!ratios.empty()) state.counters["x_decode"] = ratios[ratios.size() / 2];
}

void BM_TeskDecode(benchmark::State& state) { DecodeConfig<CTeskBinManager>(state, Shape::kGenerated, true); }
void BM_KyrDecode(benchmark::State& state) { DecodeConfig<CKyrBinManager>(state, Shape::kGenerated, false); }
void BM_TeskDecodeRealWorld(benchmark::State& state) { DecodeConfig<CTeskBinManager>(state, Shape::kRealWorld, true); }
void BM_KyrDecodeRealWorld(benchmark::State& state) { DecodeConfig<CKyrBinManager>(state, Shape::kRealWorld, false); }

void BM_TeskEncode(benchmark::State& state) { EncodeConfig<CTeskBinManager>(state, Shape::kGenerated, true); }
void BM_KyrEncode(benchmark::State& state) { EncodeConfig<CKyrBinManager>(state, Shape::kGenerated, false); }
void BM_TeskEncodeRealWorld(benchmark::State& state) { EncodeConfig<CTeskBinManager>(state, Shape::kRealWorld, true); }
void BM_KyrEncodeRealWorld(benchmark::State& state) { EncodeConfig<CKyrBinManager>(state, Shape::kRealWorld, false); }

BENCHMARK(BM_TeskDecode)->Arg(5)->Arg(10)->Arg(20)->Arg(40)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_KyrDecode)->Arg(5)->Arg(10)->Arg(20)->Arg(40)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_TeskDecodeRealWorld)->Arg(5)->Arg(20)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_KyrDecodeRealWorld)->Arg(5)->Arg(20)->Unit(benchmark::kMillisecond)->MinTime(2.0);

BENCHMARK(BM_TeskEncode)->Arg(20)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(2.0);
BENCHMARK(BM_KyrEncode)->Arg(20)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(2.0);
BENCHMARK(BM_TeskEncodeRealWorld)->Arg(20)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(2.0);
BENCHMARK(BM_KyrEncodeRealWorld)->Arg(20)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(2.0);

} // namespace

BENCHMARK_MAIN();
