// Decoding speed of configurations of 5 to 40 MB (at least) in both layouts: regular generated
// ones, and ones made of the shapes real files have (deep inheritance, large classes, arrays of
// arrays, long strings, floats of every magnitude, delete entries). The rate (bytes of binarized
// file per second) should not fall as the size grows: cost is linear.
#include <benchmark/benchmark.h>

#include <map>
#include <memory>
#include <string>
#include <tuple>

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

template <typename Manager>
void DecodeConfig(benchmark::State& state, Shape shape, bool tesk) {
    size_t megabytes = static_cast<size_t>(state.range(0));
    std::string path = ConfigFile(shape, tesk, megabytes);
    int64_t fileSize = static_cast<int64_t>(ReadFileBytes(path).size());
    int64_t textSize = 0;
    for (auto _ : state) {
        // Listing decodes the whole file to learn the size of its text.
        Manager m;
        tOpenArchiveData open = {};
        open.ArcName = &path[0];
        open.OpenMode = PK_OM_LIST;
        m.OpenArchive(&open);
        tHeaderData header = {};
        if (open.OpenResult != 0 || m.ReadHeader(&header) != 0) {
            state.SkipWithError("decode failed");
            break;
        }
        textSize = header.UnpSize;
    }
    state.SetBytesProcessed(state.iterations() * fileSize);
    state.counters["file_MB"] = static_cast<double>(fileSize) / 1e6;
    state.counters["text_MB"] = static_cast<double>(textSize) / 1e6;
    state.counters["MB/s"] =
        benchmark::Counter(static_cast<double>(fileSize) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_TeskDecode(benchmark::State& state) { DecodeConfig<CTeskBinManager>(state, Shape::kGenerated, true); }
void BM_KyrDecode(benchmark::State& state) { DecodeConfig<CKyrBinManager>(state, Shape::kGenerated, false); }
void BM_TeskDecodeRealWorld(benchmark::State& state) { DecodeConfig<CTeskBinManager>(state, Shape::kRealWorld, true); }
void BM_KyrDecodeRealWorld(benchmark::State& state) { DecodeConfig<CKyrBinManager>(state, Shape::kRealWorld, false); }

BENCHMARK(BM_TeskDecode)->Arg(5)->Arg(10)->Arg(20)->Arg(40)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_KyrDecode)->Arg(5)->Arg(10)->Arg(20)->Arg(40)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_TeskDecodeRealWorld)->Arg(5)->Arg(20)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_KyrDecodeRealWorld)->Arg(5)->Arg(20)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace

BENCHMARK_MAIN();
