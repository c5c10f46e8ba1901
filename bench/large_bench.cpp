// One entry of 1 GiB through the command-line host, the way a user meets it: pack, extract,
// verify, replace the entry and delete a small one beside it, stored and compressed, and the
// compressed pack again on two threads. Each operation runs as a child process of its own, so
// that its peak resident memory (wait4's ru_maxrss) is that operation's alone, and each is
// timed beside `cp` of the same bytes in the same run, after a `sync` each.
//
// Counters: MB/s (of the entry), peak_MiB, ratio_to_cp, and the goals they are held to
// (goal_MiB, goal_ratio; 0 where an operation has none). The goals are reported, not
// enforced: the table printed at the end says which are met.
//
// Environment:
//   KYRZBK_LARGE_HOST, KYRZBK_LARGE_PLUGIN  host and plug-in to measure (default: this build's),
//                                           e.g. an older build's for the figures before a change
//   KYRZBK_LARGE_DIR  scratch folder (default: large-bench/ in this build folder, on the same
//                     disk as the build); removed afterwards
//   KYRZBK_LARGE_MB   size of the entry (default 1024)
// The child processes and their rusage make this benchmark POSIX-only, as is the native build.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

extern char** environ;

namespace {

struct ChildRun {
    int status = -1;
    double seconds = 0;
    double peakMiB = 0;
};

// Runs argv[0] with its arguments and waits for it, its standard output discarded (the host's
// summary lines); the time is wall time, the peak that of this child alone.
ChildRun RunChild(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ChildRun run;
    auto start = std::chrono::steady_clock::now();
    pid_t pid;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return run;
    int status = 0;
    struct rusage usage = {};
    if (wait4(pid, &status, 0, &usage) != pid) return run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0; // KiB on Linux
    return run;
}

// Writes back what the runs before left dirty, untimed: pages still being written slow
// whichever run comes next.
void Settle() { RunChild({"sync"}); }

std::string Setting(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

// Text such as game folders hold (configuration classes, names, numbers), varied enough that
// the compressor has work on every block: about a third of its size when compressed.
void WriteText(const std::string& path, uint64_t bytes) {
    static const char* const words[] = {"class", "vehicle", "armor", "=", "speed", "{", "}", ";", "model",
                                        "reference", "texture", "terrain", "\\data\\", "wheel", "sound",
                                        "\"", "0.", "1", "2", "5", "7", "9", "\n", "\t", "scope", "side"};
    FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) return;
    std::string block;
    uint32_t x = 12345;
    for (uint64_t written = 0; written < bytes;) {
        block.clear();
        while (block.size() < (1u << 20)) {
            x = x * 1103515245u + 12345u;
            block += words[(x >> 16) % (sizeof words / sizeof words[0])];
            block += (x >> 27) % 3 ? " " : "";
        }
        size_t n = static_cast<size_t>(std::min<uint64_t>(block.size(), bytes - written));
        std::fwrite(block.data(), 1, n, out);
        written += n;
    }
    std::fclose(out);
}

struct Workspace {
    std::string host = Setting("KYRZBK_LARGE_HOST", KYRZBK_BENCH_HOST);
    std::string plugin = Setting("KYRZBK_LARGE_PLUGIN", KYRZBK_BENCH_PLUGIN);
    fs::path root = fs::path(Setting("KYRZBK_LARGE_DIR", KYRZBK_BENCH_SCRATCH "/large-bench")) /
                    ("run-" + std::to_string(::getpid()));
    uint64_t bytes = static_cast<uint64_t>(std::atoll(Setting("KYRZBK_LARGE_MB", "1024").c_str())) << 20;

    Workspace() {
        ::unsetenv("KYRZBK_INI"); // the built-in settings: .dat stored, .txt compressed
        fs::create_directories(root / "src");
        WriteText(Path("src/big.dat"), bytes);
        // The compressed entry's source is the same file under a name the settings compress.
        fs::create_hard_link(root / "src/big.dat", root / "src/big.txt");
        WriteText(Path("src/small.dat"), 3000);
        fs::copy_file(root / "src/small.dat", root / "src/small.txt");
    }
    ~Workspace() {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    std::string Path(const std::string& relative) const { return (root / relative).string(); }
    ChildRun Host(std::vector<std::string> args) const {
        args.insert(args.begin(), {host, "--plugin", plugin, "--quiet"});
        return RunChild(args);
    }
};

Workspace& Space() {
    static Workspace w;
    return w;
}

struct Result {
    std::string name;
    ChildRun op;
    double cpSeconds = 0;
    double goalMiB = 0;
    double goalRatio = 0;
};
std::vector<Result> g_results;

// One timed run of the operation and one of `cp from to`, each after a sync; the copy is
// removed again.
void Measure(benchmark::State& state, const std::string& name, const std::vector<std::string>& operation,
             const std::string& from, double goalMiB, double goalRatio) {
    Workspace& w = Space();
    Result result{name, {}, 0, goalMiB, goalRatio};
    for (auto _ : state) {
        Settle();
        result.op = w.Host(operation);
        if (result.op.status != 0) {
            state.SkipWithError(("the host answered " + std::to_string(result.op.status)).c_str());
            return;
        }
        std::string copy = w.Path("cp.copy");
        Settle();
        result.cpSeconds = RunChild({"cp", from, copy}).seconds;
        fs::remove(copy);
        state.SetIterationTime(result.op.seconds);
    }
    double ratio = result.cpSeconds > 0 ? result.op.seconds / result.cpSeconds : 0;
    state.counters["MB/s"] = static_cast<double>(w.bytes) / 1e6 / result.op.seconds;
    state.counters["peak_MiB"] = result.op.peakMiB;
    state.counters["ratio_to_cp"] = ratio;
    state.counters["goal_MiB"] = goalMiB;
    state.counters["goal_ratio"] = goalRatio;
    g_results.push_back(result);
}

// The goals: every operation on one thread within 64 MiB, plus 40 MiB per further
// compression thread; the extract of a stored entry within 1.3 times cp, of a compressed
// one within 2.5 times cp of its output.
constexpr double kOneThreadMiB = 64;
constexpr double kPerThreadMiB = 40;

struct Kind {
    const char* big;   // the large file's name; its extension makes it stored or compressed
    const char* small;
    const char* archive;
    const char* what;
    double extractRatio;
};
const Kind kKinds[] = {{"big.dat", "small.dat", "stored.zbk", "stored", 1.3},
                      {"big.txt", "small.txt", "compressed.zbk", "compressed", 2.5}};

// Each step makes sure of what it starts from, so that one can be run alone with a filter.
void EnsureArchive(const Kind& k) {
    Workspace& w = Space();
    if (!fs::exists(w.Path(k.archive)))
        w.Host({"pack", w.Path(k.archive), w.Path("src"), k.big, k.small, "--threads", "1"});
}

void BM_Pack(benchmark::State& state) {
    const Kind& k = kKinds[state.range(0)];
    Workspace& w = Space();
    fs::remove(w.Path(k.archive));
    Measure(state, std::string("pack, ") + k.what, {"pack", w.Path(k.archive), w.Path("src"), k.big, k.small, "--threads", "1"},
            w.Path(std::string("src/") + k.big), kOneThreadMiB, 0);
}

void BM_Extract(benchmark::State& state) {
    const Kind& k = kKinds[state.range(0)];
    Workspace& w = Space();
    EnsureArchive(k);
    fs::remove_all(w.Path("out"));
    Measure(state, std::string("extract, ") + k.what, {"extract", w.Path(k.archive), "-C", w.Path("out")}, w.Path(std::string("out/") + k.big),
            kOneThreadMiB, k.extractRatio);
    fs::remove_all(w.Path("out"));
}

void BM_Verify(benchmark::State& state) {
    const Kind& k = kKinds[state.range(0)];
    Workspace& w = Space();
    EnsureArchive(k);
    Measure(state, std::string("verify, ") + k.what, {"verify", w.Path(k.archive)}, w.Path(std::string("src/") + k.big), kOneThreadMiB, 0);
}

// Packing the large file into the archive that holds it replaces its entry.
void BM_Replace(benchmark::State& state) {
    const Kind& k = kKinds[state.range(0)];
    Workspace& w = Space();
    EnsureArchive(k);
    Measure(state, std::string("replace the entry, ") + k.what, {"pack", w.Path(k.archive), w.Path("src"), k.big, "--threads", "1"}, w.Path(k.archive),
            kOneThreadMiB, 0);
}

void BM_DeleteSmall(benchmark::State& state) {
    const Kind& k = kKinds[state.range(0)];
    Workspace& w = Space();
    EnsureArchive(k);
    static std::set<std::string> deleted;
    if (!deleted.insert(k.archive).second) w.Host({"pack", w.Path(k.archive), w.Path("src"), k.small});
    Measure(state, std::string("delete a small entry, ") + k.what, {"delete", w.Path(k.archive), k.small}, w.Path(k.archive), kOneThreadMiB, 0);
}

void BM_PackCompressedThreads(benchmark::State& state) {
    Workspace& w = Space();
    const int threads = static_cast<int>(state.range(0));
    fs::remove(w.Path("threads.zbk"));
    Measure(state, "pack, compressed, " + std::to_string(threads) + " threads", {"pack", w.Path("threads.zbk"), w.Path("src"), "big.txt", "small.txt", "--threads",
                    std::to_string(threads)},
            w.Path("src/big.txt"), kOneThreadMiB + kPerThreadMiB * threads, 0);
    fs::remove(w.Path("threads.zbk"));
}

void PrintTable() {
    if (g_results.empty()) return;
    std::printf("\n| operation | time s | cp s | x cp | goal x cp | peak MiB | goal MiB |\n"
                "|---|---|---|---|---|---|---|\n");
    for (const Result& r : g_results) {
        double ratio = r.cpSeconds > 0 ? r.op.seconds / r.cpSeconds : 0;
        std::string goal = r.goalRatio > 0 ? std::to_string(r.goalRatio).substr(0, 3) +
                                                 (ratio <= r.goalRatio ? " met" : " **missed**")
                                           : "-";
        std::printf("| %s | %.2f | %.2f | %.2f | %s | %.0f | %.0f%s |\n", r.name.c_str(), r.op.seconds,
                    r.cpSeconds, ratio, goal.c_str(), r.op.peakMiB, r.goalMiB,
                    r.op.peakMiB <= r.goalMiB ? " met" : " **missed**");
    }
}

// Arg 0: stored, 1: compressed. One iteration each: a run of a GiB says enough, and the
// whole table takes a few minutes.
#define LARGE_STEP(fn) BENCHMARK(fn)->DenseRange(0, 1)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond)
LARGE_STEP(BM_Pack);
LARGE_STEP(BM_Extract);
LARGE_STEP(BM_Verify);
LARGE_STEP(BM_Replace);
LARGE_STEP(BM_DeleteSmall);
BENCHMARK(BM_PackCompressedThreads)->Arg(2)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    PrintTable();
    if (!g_results.empty()) {
        Workspace& w = Space();
        std::printf("\nhost %s\nplug-in %s\nentry %llu MiB\n", w.host.c_str(), w.plugin.c_str(),
                    static_cast<unsigned long long>(w.bytes >> 20));
    }
    return 0;
}
