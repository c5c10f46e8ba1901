// Decoding speed of generated configurations of 5 to 40 MB (at least) in both layouts. The rate (bytes
// of binarized file per second) should not fall as the size grows: cost is linear.
#include <benchmark/benchmark.h>

#include <map>
#include <memory>
#include <string>

#include "config/kyr_bin_manager.h"
#include "config/tesk_bin_manager.h"
#include "settings/settings_store.h"
#include "tests/support/config_samples.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace cfg;

// One generated file per layout and size, made on first use and kept for the whole run.
const std::string& ConfigFile(bool tesk, size_t megabytes) {
    static TempDir dir;
    static std::map<std::pair<bool, size_t>, std::string> files;
    auto key = std::make_pair(tesk, megabytes);
    auto found = files.find(key);
    if (found != files.end()) return found->second;
    KyrLayout kyr;
    kyr.withConstants = true;
    auto encode = [&](const ConfigDescription& c) { return tesk ? WriteTeskConfig(c) : WriteKyrConfig(c, kyr); };
    // The layouts differ in size per class; a small sample tells how many make the size.
    const size_t sampleUnits = 1000;
    double perUnit = static_cast<double>(encode(GeneratedConfig(sampleUnits)).size()) / sampleUnits;
    size_t units = static_cast<size_t>(static_cast<double>(megabytes) * 1e6 / perUnit) + sampleUnits;
    std::string path = dir.File((tesk ? "tesk_" : "kyr_") + std::to_string(megabytes) + ".bin");
    SaveConfig(path, encode(GeneratedConfig(units)));
    return files.emplace(key, path).first->second;
}

template <typename Manager>
void DecodeConfig(benchmark::State& state, bool tesk) {
    size_t megabytes = static_cast<size_t>(state.range(0));
    std::string path = ConfigFile(tesk, megabytes);
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

void BM_TeskDecode(benchmark::State& state) { DecodeConfig<CTeskBinManager>(state, true); }
void BM_KyrDecode(benchmark::State& state) { DecodeConfig<CKyrBinManager>(state, false); }

BENCHMARK(BM_TeskDecode)->Arg(5)->Arg(10)->Arg(20)->Arg(40)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_KyrDecode)->Arg(5)->Arg(10)->Arg(20)->Arg(40)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace

BENCHMARK_MAIN();
