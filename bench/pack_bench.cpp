// Packing, updating and deleting through the exported functions, each beside a baseline
// measured alternately in the same run, reported as the time relative to it:
// - x_copy: a plain copy of the same bytes (the copy of a folder appends its files to one
//   file, that of an archive copies the archive);
// - x_cp, x_copy_file_range: the archive copied by the system's `cp`, and in the kernel by
//   one copy_file_range of the whole file (where the system has it);
// - x_cp_mv: the safe replacement by hand, `cp` to a temporary file and `mv` over an
//   existing copy: renaming over a file makes ext4 write the new one back at once, as it
//   does for every rebuilt archive, so this is the baseline that pays what a rebuild pays;
// - x_one_thread: the same pack with KYRZBK_THREADS=1.
// KYRZBK_BENCH_MB sets the size of the large folder (default 256); the corpus packs need
// the real-file corpus (KYRZBK_CORPUS, or the one scripts/build.sh makes). The update and
// deletion of the large archive run without (arg 0) and with (arg 1) an integrity block at
// its end, which the rebuild checks and renews; BM_Digest gives the digest's own speed.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "common/file_io.h"
#include "common/sha1.h"
#include "common/multi_string.h"
#include "frame/exports.h"
#include "platform/platform.h"
#include "settings/settings_store.h"
#include "tests/support/hard_inputs.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

struct Folder {
    std::string root;            // with a trailing '/'
    std::vector<std::string> names;
    uint64_t bytes = 0;
};

std::vector<unsigned char> Content(size_t n, unsigned seed, bool text) {
    std::vector<unsigned char> b(n);
    uint32_t x = seed * 2654435761u + 7;
    static const char words[] = "class vehicle { armor = 40; speed = 120.5; } // model reference ";
    for (size_t i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        b[i] = text ? static_cast<unsigned char>(words[(i + (x >> 28)) % (sizeof words - 1)])
                    : static_cast<unsigned char>(x >> 24);
    }
    return b;
}

Folder MakeFolder(const std::string& root, int files, size_t size, const char* extension, bool text) {
    Folder f;
    f.root = root + "/";
    fs::create_directories(root);
    for (int i = 0; i < files; ++i) {
        std::string name = "f" + std::to_string(i) + extension;
        WriteFileBytes(f.root + name, Content(size, static_cast<unsigned>(i), text));
        f.names.push_back(name);
        f.bytes += size;
    }
    return f;
}

// The baseline: every file's bytes appended to one output file through a 1 MiB buffer.
void CopyFolder(const Folder& f, const std::string& out) {
    FILE* o = std::fopen(out.c_str(), "wb");
    std::vector<char> buffer(1 << 20);
    for (const std::string& name : f.names) {
        FILE* in = std::fopen((f.root + name).c_str(), "rb");
        size_t n;
        while ((n = std::fread(buffer.data(), 1, buffer.size(), in)) > 0) std::fwrite(buffer.data(), 1, n, o);
        std::fclose(in);
    }
    std::fclose(o);
}

double Seconds(const std::function<void()>& work) {
    auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

int Pack(const std::string& archive, const Folder& f, const std::vector<std::string>& names) {
    std::vector<char> list = MultiString(names);
    std::string a = archive, src = f.root;
    return PackFiles(&a[0], nullptr, &src[0], list.data(), 0);
}

int Delete(const std::string& archive, const std::string& name) {
    std::vector<char> list = MultiString({name});
    std::string a = archive;
    return DeleteFiles(&a[0], list.data());
}

struct Workspace {
    TempDir dir;
    Folder large, small;
    Workspace() {
        const char* mb = std::getenv("KYRZBK_BENCH_MB");
        int megabytes = mb ? std::max(8, std::atoi(mb)) : 256;
        large = MakeFolder(dir.File("large"), megabytes / 4, 4u << 20, ".dat", false);
        small = MakeFolder(dir.File("small"), 2000, 256, ".txt", true);
    }
};

Workspace& Data() {
    static Workspace w;
    return w;
}

// Writes back what the runs before left dirty, untimed: on a disk, hundreds of MB still
// being written slow whichever run comes next, by up to half again.
void Settle() {
    if (platform::RunCommandLine("sync") != 0) std::fprintf(stderr, "sync failed\n");
}

struct Baseline {
    const char* counter; // the ratio's name
    std::function<void()> run;
    std::function<void()> prepare; // untimed, before run; may be empty
};

// Runs the operation and its baselines alternately, so that all see the same state of the
// machine; reports the operation's throughput and its time relative to each baseline, the
// median of the rounds' ratios: one round that meets the kernel reclaiming the memory of a
// previous one says little about either. One untimed round goes first.
void Measure(benchmark::State& state, uint64_t bytes, const std::function<void()>& prepare,
             const std::function<int()>& operation, const std::vector<Baseline>& baselines) {
    prepare();
    if (operation() != 0) state.SkipWithError("operation failed");
    double opTotal = 0;
    std::vector<double> baseTotal(baselines.size());
    std::vector<std::vector<double>> ratios(baselines.size());
    size_t round = 0;
    for (auto _ : state) {
        // Each round starts with another of them: what one leaves to the kernel (dirty
        // pages, freed blocks) slows the next, whichever it is.
        double s = 0;
        std::vector<double> base(baselines.size());
        for (size_t k = 0; k <= baselines.size(); ++k) {
            size_t which = (k + round) % (baselines.size() + 1);
            if (which == baselines.size()) {
                prepare();
                Settle();
                s = Seconds([&] {
                    if (operation() != 0) state.SkipWithError("operation failed");
                });
            } else {
                if (baselines[which].prepare) baselines[which].prepare();
                Settle();
                base[which] = Seconds(baselines[which].run);
            }
        }
        ++round;
        opTotal += s;
        for (size_t b = 0; b < baselines.size(); ++b) {
            ratios[b].push_back(s / base[b]);
            baseTotal[b] += base[b];
        }
        state.SetIterationTime(s);
    }
    const double rounds = double(state.iterations());
    state.counters["MB/s"] = static_cast<double>(bytes) * rounds / 1e6 / opTotal;
    for (size_t b = 0; b < baselines.size(); ++b) {
        std::vector<double>& r = ratios[b];
        std::sort(r.begin(), r.end());
        const size_t n = r.size();
        if (n == 0) continue;
        state.counters[std::string(baselines[b].counter) + "_MB/s"] =
            static_cast<double>(bytes) * rounds / 1e6 / baseTotal[b];
        state.counters[baselines[b].counter] = n % 2 ? r[n / 2] : (r[n / 2 - 1] + r[n / 2]) / 2;
    }
}

void Measure(benchmark::State& state, uint64_t bytes, const std::function<void()>& prepare,
             const std::function<int()>& operation, const std::function<void()>& baseline) {
    Measure(state, bytes, prepare, operation, {{"x_copy", baseline, nullptr}});
}

// The baselines of a rebuilt archive: the system's cp, one kernel copy of the file, and the
// same rebuild with every kept entry copied through user space (x_plain_rebuild).
std::vector<Baseline> ArchiveCopies(const std::string& archive, const std::string& copy,
                                    const std::function<void()>& prepare, const std::function<int()>& rebuild) {
    std::string temporary = copy + ".tmp";
    return {{"x_cp_mv",
             [=] {
                 if (platform::RunCommandLine("cp " + platform::QuoteArgument(archive) + " " +
                                              platform::QuoteArgument(temporary) + " && mv " +
                                              platform::QuoteArgument(temporary) + " " +
                                              platform::QuoteArgument(copy)) != 0)
                     std::fprintf(stderr, "cp and mv failed\n");
             },
             [=] {
                 std::error_code ec;
                 if (!fs::exists(copy)) fs::copy_file(archive, copy, ec);
             }},
            {"x_cp",
             [=] {
                 if (platform::RunCommandLine("cp " + platform::QuoteArgument(archive) + " " +
                                              platform::QuoteArgument(copy)) != 0)
                     std::fprintf(stderr, "cp failed\n");
             },
             nullptr},
            {"x_copy_file_range",
             [=] {
                 FILE* in = std::fopen(archive.c_str(), "rb");
                 FILE* out = std::fopen(copy.c_str(), "wb");
                 uint64_t length = fs::file_size(archive);
                 if (platform::CopyFileRange(in, 0, out, 0, length) != length) std::fprintf(stderr, "no kernel copy\n");
                 std::fclose(in);
                 std::fclose(out);
             },
             nullptr},
            {"x_plain_rebuild",
             [=] {
                 RefuseKernelCopies(true);
                 if (rebuild() != 0) std::fprintf(stderr, "plain rebuild failed\n");
                 RefuseKernelCopies(false);
             },
             prepare}};
}

// Runs a pack with the given threads, and the same pack on one thread as the baseline.
void MeasureThreads(benchmark::State& state, int threads, uint64_t bytes, const std::function<void()>& prepare,
                    const std::function<int()>& pack) {
    auto withThreads = [](int n) { platform::SetEnvironmentValue("KYRZBK_THREADS", std::to_string(n).c_str()); };
    Measure(
        state, bytes, [&] { prepare(); withThreads(threads); }, pack,
        {{"x_one_thread", [&] {
              prepare();
              withThreads(1);
              if (pack() != 0) std::fprintf(stderr, "pack on one thread failed\n");
          },
          nullptr}});
    platform::SetEnvironmentValue("KYRZBK_THREADS", nullptr);
    state.counters["threads"] = threads;
}

int ThreadsOf(const benchmark::State& state) {
    return state.range(0) > 0 ? static_cast<int>(state.range(0)) : platform::AvailableCores();
}

void BM_PackLargeStored(benchmark::State& state) {
    Workspace& w = Data();
    ResetSettingsToDefaults();
    std::string archive = w.dir.File("large.zbk");
    Measure(
        state, w.large.bytes, [&] { fs::remove(archive); }, [&] { return Pack(archive, w.large, w.large.names); },
        [&] { CopyFolder(w.large, w.dir.File("copy.bin")); });
}

// Ends the archive with an integrity block, as the second game's archives do.
void Seal(const std::string& archive) {
    FILE* f = std::fopen(archive.c_str(), "r+b");
    std::vector<unsigned char> buffer(1 << 20);
    Sha1 sha;
    size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), f)) > 0) sha.Update(buffer.data(), n);
    Sha1Digest digest = sha.Final();
    std::fseek(f, 0, SEEK_END);
    std::fputc(0, f);
    std::fwrite(digest.data(), 1, digest.size(), f);
    std::fclose(f);
}

void PackLargeArchive(const std::string& archive, bool sealed) {
    Workspace& w = Data();
    fs::remove(archive);
    Pack(archive, w.large, w.large.names);
    if (sealed) Seal(archive);
}

void BM_UpdateLargeArchive(benchmark::State& state) {
    Workspace& w = Data();
    ResetSettingsToDefaults();
    std::string archive = w.dir.File("large.zbk");
    PackLargeArchive(archive, state.range(0) != 0);
    // Replaces one entry: every other entry is copied over unchanged.
    auto prepare = [] {};
    auto update = [&] { return Pack(archive, w.large, {w.large.names[0]}); };
    Measure(state, w.large.bytes, prepare, update, ArchiveCopies(archive, w.dir.File("copy.bin"), prepare, update));
}

void BM_DeleteFromLargeArchive(benchmark::State& state) {
    Workspace& w = Data();
    ResetSettingsToDefaults();
    std::string archive = w.dir.File("large.zbk");
    auto prepare = [&] { PackLargeArchive(archive, state.range(0) != 0); };
    auto remove = [&] { return Delete(archive, w.large.names[0]); };
    Measure(state, w.large.bytes, prepare, remove, ArchiveCopies(archive, w.dir.File("copy.bin"), prepare, remove));
}

// The integrity block's digest over 64 MiB in memory: arg 0 the portable path, arg 1 the
// processor's SHA instructions (skipped where it has none).
void BM_Digest(benchmark::State& state) {
    Sha1::UsePortableOnly(state.range(0) == 0);
    if (state.range(0) != 0 && !Sha1::Accelerated()) {
        state.SkipWithError("no SHA instructions on this processor");
        for (auto _ : state) {
        }
        return;
    }
    std::vector<unsigned char> data = Content(64u << 20, 3, false);
    for (auto _ : state) {
        Sha1 sha;
        sha.Update(data.data(), data.size());
        benchmark::DoNotOptimize(sha.Final());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
    Sha1::UsePortableOnly(false);
}

void BM_PackSmallFiles(benchmark::State& state, bool compressed) {
    Workspace& w = Data();
    ResetSettingsToDefaults(); // .txt is compressed by default
    PluginSettings.UseCompression = compressed;
    std::string archive = w.dir.File("small.zbk");
    Measure(
        state, w.small.bytes, [&] { fs::remove(archive); }, [&] { return Pack(archive, w.small, w.small.names); },
        [&] { CopyFolder(w.small, w.dir.File("copy.bin")); });
    ResetSettingsToDefaults();
}

void BM_PackSmallFilesCompressed(benchmark::State& state) { BM_PackSmallFiles(state, true); }

// The 2,000 small files compressed on several threads, relative to one (arg 0: one per core).
void BM_PackSmallFilesThreads(benchmark::State& state) {
    Workspace& w = Data();
    ResetSettingsToDefaults();
    std::string archive = w.dir.File("small.zbk");
    MeasureThreads(
        state, ThreadsOf(state), w.small.bytes, [&] { fs::remove(archive); },
        [&] { return Pack(archive, w.small, w.small.names); });
}

// The real-file corpus, every file compressed, on several threads relative to one.
void BM_PackCorpusThreads(benchmark::State& state) {
    std::string corpus = hard_inputs::CorpusDir();
    if (corpus.empty()) corpus = KYRZBK_DEFAULT_CORPUS;
    Folder f;
    f.root = corpus + "/";
    for (const std::string& kind : hard_inputs::CorpusKinds()) {
        std::error_code ec;
        uint64_t size = fs::file_size(f.root + kind + ".dat", ec);
        if (ec) continue;
        f.names.push_back(kind + ".dat");
        f.bytes += size;
    }
    if (f.names.empty()) {
        state.SkipWithError("no real-file corpus: set KYRZBK_CORPUS (bench/make_corpus.py writes one)");
        for (auto _ : state) {
        }
        return;
    }
    ResetSettingsToDefaults();
    PluginSettings.CompressAll = true;
    std::string archive = Data().dir.File("corpus.zbk");
    MeasureThreads(state, ThreadsOf(state), f.bytes, [&] { fs::remove(archive); }, [&] { return Pack(archive, f, f.names); });
    ResetSettingsToDefaults();
}
void BM_PackSmallFilesStored(benchmark::State& state) { BM_PackSmallFiles(state, false); }

// An archive of many entries: one update or deletion must cost about one sequential copy,
// not grow with the square of the entry count.
void BM_ManyEntries(benchmark::State& state, bool deleting) {
    Workspace& w = Data();
    int entries = static_cast<int>(state.range(0));
    static std::map<int, Folder> folders;
    if (!folders.count(entries))
        folders[entries] = MakeFolder(w.dir.File("many" + std::to_string(entries)), entries, 2048, ".dat", false);
    const Folder& f = folders[entries];
    ResetSettingsToDefaults();
    std::string archive = w.dir.File("many.zbk");
    fs::remove(archive);
    Pack(archive, f, f.names);
    uint64_t archiveBytes = fs::file_size(archive);
    Measure(
        state, archiveBytes,
        [&] {
            fs::remove(archive);
            Pack(archive, f, f.names);
        },
        [&] { return deleting ? Delete(archive, f.names[entries / 2]) : Pack(archive, f, {f.names[entries / 2]}); },
        [&] { fs::copy_file(archive, w.dir.File("copy.bin"), fs::copy_options::overwrite_existing); });
}

void BM_UpdateManyEntries(benchmark::State& state) { BM_ManyEntries(state, false); }
void BM_DeleteManyEntries(benchmark::State& state) { BM_ManyEntries(state, true); }

} // namespace

BENCHMARK(BM_PackLargeStored)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UpdateLargeArchive)->Arg(0)->Arg(1)->UseManualTime()->Iterations(6)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeleteFromLargeArchive)->Arg(0)->Arg(1)->UseManualTime()->Iterations(6)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Digest)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PackSmallFilesStored)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PackSmallFilesCompressed)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PackSmallFilesThreads)->Arg(2)->Arg(0)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PackCorpusThreads)->Arg(1)->Arg(2)->Arg(0)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UpdateManyEntries)->Arg(12500)->Arg(25000)->Arg(50000)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeleteManyEntries)->Arg(12500)->Arg(25000)->Arg(50000)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
