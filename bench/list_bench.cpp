// Opening and listing archives of 25,000 to 100,000 entries through the exported functions,
// as the file manager does; the complexity fit shows whether the cost grows linearly.
#include <benchmark/benchmark.h>

#include <map>
#include <string>

#include "frame/exports.h"
#include "tests/support/temp_dir.h"
#include "tests/support/zbk_writer.h"

namespace {

const std::string& ArchiveOf(int entries) {
    static TempDir dir;
    static std::map<int, std::string> paths;
    auto it = paths.find(entries);
    if (it != paths.end()) return it->second;
    TestArchive layout;
    layout.records.reserve(static_cast<size_t>(entries));
    for (int i = 0; i < entries; ++i)
        layout.Stored("folder" + std::to_string(i / 1000) + "\\entry" + std::to_string(i) + ".txt", "data",
                    1700000000u + static_cast<unsigned>(i));
    std::string path = dir.File("list" + std::to_string(entries) + ".zbk");
    WriteZbkArchive(path, layout);
    return paths.emplace(entries, path).first->second;
}

void BM_OpenAndList(benchmark::State& state) {
    std::string path = ArchiveOf(static_cast<int>(state.range(0)));
    int64_t listed = 0;
    for (auto _ : state) {
        tOpenArchiveData open = {};
        open.ArcName = &path[0];
        void* handle = OpenArchive(&open);
        if (!handle) {
            state.SkipWithError("open failed");
            break;
        }
        tHeaderData header;
        while (ReadHeader(handle, &header) == 0) {
            ProcessFile(handle, PK_SKIP, nullptr, nullptr);
            ++listed;
        }
        CloseArchive(handle);
    }
    state.SetItemsProcessed(listed);
    state.SetComplexityN(state.range(0));
}

BENCHMARK(BM_OpenAndList)->Arg(25000)->Arg(50000)->Arg(100000)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);

} // namespace

BENCHMARK_MAIN();
