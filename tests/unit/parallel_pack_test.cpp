// Packing on several threads must be indistinguishable from packing on one, for the archive
// and for the host: the same bytes, the same calls from the same thread, the same result
// when it stops half-way. Kept entries of a rebuild are copied in the kernel or by the
// plain copy, with the same result either way.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "archive/compression_pool.h"
#include "archive/zbk_format.h"
#include "common/file_io.h"
#include "common/multi_string.h"
#include "frame/exports.h"
#include "platform/platform.h"
#include "settings/settings_store.h"
#include "tests/support/hard_inputs.h"
#include "tests/support/temp_dir.h"
#include "tests/unit/support/archive_probe.h"
#include "tests/unit/support/progress_recorder.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<unsigned char>;

// Compressible text, text the compressor gains little on, and bytes of no pattern.
Bytes Content(size_t n, unsigned seed, int kind) {
    Bytes b(n);
    uint32_t x = seed * 2654435761u + 1;
    static const char words[] = "armor speed model texture class reference vehicle sound ";
    for (size_t i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        if (kind == 0) b[i] = static_cast<unsigned char>(words[(i + (x >> 29)) % (sizeof words - 1)]);
        else if (kind == 1) b[i] = static_cast<unsigned char>('a' + (x >> 27));
        else b[i] = static_cast<unsigned char>(x >> 24);
    }
    return b;
}

struct Outcome {
    int result;
    std::vector<ProgressCall> calls;
    Bytes archive; // empty when no archive is left
    std::vector<std::string> outFolder;
    bool operator==(const Outcome& o) const {
        return result == o.result && calls == o.calls && archive == o.archive && outFolder == o.outFolder;
    }
};

class ParallelPack : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSettingsToDefaults();
        ClearIoFaults();
        src = dir.File("src") + "/";
        fs::create_directories(src);
        fs::create_directories(dir.File("out"));
    }
    void TearDown() override {
        platform::SetEnvironmentValue("KYRZBK_THREADS", nullptr);
        ResetSettingsToDefaults();
        ClearIoFaults();
        g_onCall = nullptr;
        g_abortAtCall = 0;
    }

    void Source(const std::string& name, const Bytes& bytes) {
        fs::create_directories(fs::path(src + name).parent_path());
        WriteFileBytes(src + name, bytes);
    }
    std::string Archive() const { return dir.File("out/a.zbk"); }

    // A folder like a game's: scripts and texts compressed, data stored, files too small to
    // compress, files the compressor gains nothing on, and one larger than the others.
    std::vector<std::string> MixedFolder() {
        std::vector<std::string> names;
        auto add = [&](const std::string& name, const Bytes& b) {
            Source(name, b);
            names.push_back(name);
        };
        add("config/empty.txt", {});
        add("config/one.txt", Content(1, 1, 0));
        add("config/two.txt", Content(2, 2, 0));
        add("config/three.txt", Content(3, 3, 0));
        for (int i = 0; i < 24; ++i) add("scripts/s" + std::to_string(i) + ".txt", Content(200 + 997 * i, i, i % 3));
        add("data/blob.dat", Content(150000, 7, 2));
        add("data/mesh.dat", Content(3000, 8, 0));
        add("large.txt", Content(400000, 9, 0));
        add("noise.txt", Content(70000, 10, 2));
        return names;
    }

    Outcome Run(int threads, const std::function<int()>& operation) {
        platform::SetEnvironmentValue("KYRZBK_THREADS", std::to_string(threads).c_str());
        StartRecording();
        Outcome o;
        o.result = operation();
        o.calls = g_calls;
        if (FileExists(Archive())) o.archive = ReadFileBytes(Archive());
        o.outFolder = FolderListing(dir.File("out"));
        EXPECT_EQ(g_foreignThreadCalls, 0) << "a callback came from another thread";
        return o;
    }
    int Pack(const std::vector<std::string>& names, int flags = 0) {
        std::string path = Archive();
        std::vector<char> list = MultiString(names);
        SetProcessDataProc(reinterpret_cast<void*>(-1), Recorder);
        return PackFiles(&path[0], nullptr, &src[0], list.data(), flags);
    }
    int Delete(const std::vector<std::string>& names) {
        std::string path = Archive();
        std::vector<char> list = MultiString(names);
        SetProcessDataProc(reinterpret_cast<void*>(-1), Recorder);
        return DeleteFiles(&path[0], list.data());
    }

    TempDir dir;
    std::string src;
};

TEST_F(ParallelPack, ArchivesAndCallsAreThoseOfOneThread) {
    std::vector<std::string> names = MixedFolder();
    std::vector<std::string> many;
    for (int i = 0; i < 300; ++i) {
        many.push_back("many/m" + std::to_string(i) + ".txt");
        // Most below the size worth handing to a worker, some above it.
        Source(many.back(), Content(40 + i * 7 + (i % 10 == 0 ? 9000 : 0), 100 + i, i % 2));
    }
    struct Case {
        const char* what;
        std::function<void()> before;
        std::function<int()> operation;
    } cases[] = {
        {"a new archive of a mixed folder", [&] { fs::remove(Archive()); }, [&] { return Pack(names); }},
        {"a new archive of many small files", [&] { fs::remove(Archive()); }, [&] { return Pack(many); }},
        {"every file compressed",
         [&] {
             fs::remove(Archive());
             PluginSettings.CompressAll = true;
         },
         [&] { return Pack(names); }},
        {"an update adding compressed files to kept ones",
         [&] {
             ResetSettingsToDefaults();
             fs::remove(Archive());
             platform::SetEnvironmentValue("KYRZBK_THREADS", "1");
             ASSERT_EQ(Pack(many), 0);
         },
         [&] { return Pack(names); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Outcome one, other;
        c.before();
        one = Run(1, c.operation);
        ASSERT_EQ(one.result, 0);
        ASSERT_FALSE(one.archive.empty());
        for (int threads : {2, 3, 8}) {
            SCOPED_TRACE(std::to_string(threads) + " threads");
            c.before();
            other = Run(threads, c.operation);
            EXPECT_TRUE(other == one);
        }
    }
    // The archive holds what the folder held.
    auto entries = ExtractThroughExports(Archive());
    EXPECT_EQ(entries["large.txt"], ReadFileBytes(src + "large.txt"));
    EXPECT_EQ(entries["many\\m299.txt"], ReadFileBytes(src + "many/m299.txt"));
}

TEST_F(ParallelPack, TheRealFileCorpusPacksToTheSameBytes) {
    std::string corpus = hard_inputs::CorpusDir();
    if (corpus.empty()) GTEST_SKIP() << "no real-file corpus: set KYRZBK_CORPUS";
    std::vector<std::string> names;
    for (const std::string& kind : hard_inputs::CorpusKinds()) {
        Bytes file = hard_inputs::ReadCorpus(corpus, kind, size_t(16) << 20);
        ASSERT_FALSE(file.empty()) << kind;
        Source(kind + ".dat", file);
        names.push_back(kind + ".dat");
    }
    PluginSettings.CompressAll = true;
    auto pack = [&] {
        fs::remove(Archive());
        return Pack(names);
    };
    Outcome one = Run(1, pack);
    ASSERT_EQ(one.result, 0);
    Outcome all = Run(platform::AvailableCores() < 2 ? 2 : platform::AvailableCores(), pack);
    EXPECT_TRUE(all == one);
    ProbedArchive a = ProbeArchive(Archive());
    ASSERT_EQ(a.records.size(), names.size());
    for (const ProbedRecord& r : a.records) EXPECT_EQ(r.method, MethodCompressed) << r.name;
}

TEST_F(ParallelPack, StoppingAnywhereEndsAsOnOneThread) {
    std::vector<std::string> names = MixedFolder();
    auto create = [&] {
        fs::remove(Archive());
        return Pack(names, PK_PACK_MOVE_FILES);
    };
    auto update = [&] {
        platform::SetEnvironmentValue("KYRZBK_THREADS", "1");
        fs::remove(Archive());
        g_abortAtCall = 0;
        int keep = Pack({"data/blob.dat", "large.txt"});
        if (keep) return keep;
        g_calls.clear();
        return -1;
    };
    struct Case {
        const char* what;
        std::function<int()> prepare; // -1: ready
        std::function<int()> operation;
    } cases[] = {
        {"creation",
         [&] {
             fs::remove(Archive());
             return -1;
         },
         create},
        {"update", update, [&] { return Pack(names, PK_PACK_MOVE_FILES); }},
    };
    std::mt19937 random(15);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(c.prepare(), -1);
        Outcome good = Run(1, c.operation);
        ASSERT_EQ(good.result, 0);
        MixedFolder(); // the sources that the good run moved into the archive
        // The first and last calls, and calls drawn at random in between.
        std::vector<int> stops = {1, static_cast<int>(good.calls.size())};
        for (int i = 0; i < 12; ++i)
            stops.push_back(1 + static_cast<int>(random() % good.calls.size()));
        for (int stop : stops) {
            SCOPED_TRACE("stop at call " + std::to_string(stop));
            Outcome expected, actual;
            for (int threads : {1, 4}) {
                ASSERT_EQ(c.prepare(), -1);
                Bytes before = FileExists(Archive()) ? ReadFileBytes(Archive()) : Bytes();
                g_abortAtCall = stop;
                Outcome o = Run(threads, c.operation);
                g_abortAtCall = 0;
                EXPECT_EQ(o.result, E_EABORTED);
                EXPECT_EQ(o.archive, before); // the old archive as it was, or none
                EXPECT_EQ(o.calls.size(), static_cast<size_t>(stop));
                for (const std::string& name : names) EXPECT_TRUE(FileExists(src + name)) << name;
                (threads == 1 ? expected : actual) = o;
            }
            EXPECT_TRUE(actual == expected);
        }
    }
}

TEST_F(ParallelPack, AFileFailingInTheMiddleFailsAsOnOneThread) {
    std::vector<std::string> names = MixedFolder();
    struct Case {
        const char* what;
        std::function<void()> atFirstCall; // after the files were measured, before any is read
        int result;
    } cases[] = {
        {"a file to compress grew", [&] { WriteFileBytes(src + "scripts/s12.txt", Content(20000, 1, 0)); }, E_EREAD},
        {"a file to compress shrank", [&] { WriteFileBytes(src + "scripts/s13.txt", Content(10, 1, 0)); }, E_EREAD},
        {"a file to compress vanished", [&] { fs::remove(src + "scripts/s14.txt"); }, E_EOPEN},
        {"a stored file vanished", [&] { fs::remove(src + "data/mesh.dat"); }, E_EOPEN},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Outcome expected, actual;
        for (int threads : {1, 4}) {
            MixedFolder();
            fs::remove(Archive());
            g_onCall = [&](const std::string&) {
                if (g_calls.size() == 1 && c.atFirstCall) c.atFirstCall();
            };
            Outcome o = Run(threads, [&] { return Pack(names, PK_PACK_MOVE_FILES); });
            g_onCall = nullptr;
            EXPECT_EQ(o.result, c.result);
            EXPECT_TRUE(o.outFolder.empty());
            EXPECT_TRUE(FileExists(src + "large.txt"));
            (threads == 1 ? expected : actual) = o;
        }
        EXPECT_TRUE(actual == expected);
    }
}

TEST_F(ParallelPack, ThreadCountFromTheEnvironment) {
    struct Case {
        const char* value;
        int threads;
    } cases[] = {
        {"1", 1}, {"3", 3}, {"64", 64}, {"1000", 64}, {"", platform::AvailableCores()},
        {"0", platform::AvailableCores()}, {"-2", platform::AvailableCores()}, {"2x", platform::AvailableCores()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        platform::SetEnvironmentValue("KYRZBK_THREADS", *c.value ? c.value : nullptr);
        EXPECT_EQ(PackThreads(), c.threads);
    }
    EXPECT_GE(platform::AvailableCores(), 1);
}

// Rebuilds of an archive whose kept entries are large enough to be copied in the kernel.
class KeptEntryCopy : public ParallelPack {
protected:
    void SetUp() override {
        ParallelPack::SetUp();
        for (int i = 0; i < 4; ++i) Source("big" + std::to_string(i) + ".dat", Content(BigSize(i), 20 + i, 2));
        Source("small.dat", Content(100, 30, 0));
        Source("text.txt", Content(90000, 31, 0));
        Source("add.dat", Content(200000, 32, 2));
        platform::SetEnvironmentValue("KYRZBK_THREADS", "1");
        ASSERT_EQ(Pack({"big0.dat", "big1.dat", "big2.dat", "big3.dat", "small.dat", "text.txt"}), 0);
        original = ReadFileBytes(Archive());
    }
    // big1 and its record (its name and 21 bytes) fill whole pages, so that deleting it
    // moves the entries after it by whole pages, as the kernel copies them.
    static size_t BigSize(int i) { return i == 1 ? 75 * 4096 - (8 + 21) : 300000 + 4099 * i; }
    // The archive after the operation, copied in the kernel as far as the mode lets it.
    Outcome Rebuild(const std::function<void()>& mode, const std::function<int()>& operation) {
        WriteFileBytes(Archive(), original);
        ClearIoFaults();
        mode();
        Outcome o = Run(2, operation);
        ClearIoFaults();
        return o;
    }
    Bytes original;
};

TEST_F(KeptEntryCopy, KernelAndPlainCopiesWriteTheSameArchive) {
    struct Operation {
        const char* what;
        std::function<int()> run;
        bool pagesKept; // whether the large entries move by whole pages
    } operations[] = {
        {"update in place", [&] { return Pack({"text.txt"}); }, true},
        {"update that adds", [&] { return Pack({"add.dat", "text.txt"}); }, false},
        {"delete", [&] { return Delete({"big1.dat"}); }, true},
    };
    struct Mode {
        const char* what;
        std::function<void()> arm;
        bool kernel; // whether bytes may go through the kernel
    } modes[] = {
        {"kernel copies refused", [] { RefuseKernelCopies(true); }, false},
        {"kernel copies allowed", [] {}, true},
        {"the first kernel copy stops half-way", [] { InjectIoFault(IoFault::KernelCopy, 1); }, true},
        {"the third kernel copy stops half-way", [] { InjectIoFault(IoFault::KernelCopy, 3); }, true},
    };
    for (const Operation& op : operations) {
        SCOPED_TRACE(op.what);
        Outcome plain;
        for (const Mode& m : modes) {
            SCOPED_TRACE(m.what);
            uint64_t before = KernelCopiedBytes();
            Outcome o = Rebuild(m.arm, op.run);
            uint64_t kernel = KernelCopiedBytes() - before;
            EXPECT_EQ(o.result, 0);
            if (!m.kernel) {
                EXPECT_EQ(kernel, 0u);
                plain = o;
                continue;
            }
            EXPECT_TRUE(o == plain);
            // Linux copies between two files of one file system in the kernel, where entries
            // keep their place within a page.
            if (!op.pagesKept) {
                EXPECT_EQ(kernel, 0u);
            } else if (platform::HostSeparator() == '/') {
                EXPECT_GT(kernel, 3u * 300000 / 2);
            }
        }
        ProbedArchive a = ProbeArchive(Archive());
        EXPECT_TRUE(a.ok);
        auto entries = ExtractThroughExports(Archive());
        EXPECT_EQ(entries["big3.dat"], Content(BigSize(3), 23, 2));
    }
}

TEST_F(KeptEntryCopy, AFailedRebuildLeavesTheOldArchiveOnEitherPath) {
    struct Operation {
        const char* what;
        std::function<int()> run;
        size_t calls; // of a good run
    } operations[] = {
        {"update", [&] { return Pack({"text.txt"}); }, 0},
        {"delete", [&] { return Delete({"big1.dat"}); }, 0},
    };
    for (Operation& op : operations) {
        op.calls = Rebuild([] {}, op.run).calls.size();
        ASSERT_GT(op.calls, 2u);
    }
    struct Fault {
        std::string what;
        std::function<void()> arm;
        int result;
    };
    for (bool refuse : {false, true}) {
        for (const Operation& op : operations) {
            SCOPED_TRACE(std::string(op.what) + (refuse ? ", plain copy" : ", kernel copy"));
            std::vector<Fault> faults;
            // A deletion's last report comes after the replacement, and its answer is ignored.
            size_t lastStop = op.what == std::string("delete") ? op.calls - 1 : op.calls;
            for (size_t k = 1; k <= lastStop; ++k)
                faults.push_back({"stop at call " + std::to_string(k), [k] { g_abortAtCall = static_cast<int>(k); },
                                  E_EABORTED});
            faults.push_back({"the replacement is refused", [] { InjectIoFault(IoFault::Replace, 1); }, E_EWRITE});
            faults.push_back({"a read of kept data fails", [] { InjectIoFault(IoFault::Read, 2); }, E_EREAD});
            faults.push_back({"a write of kept data fails", [] { InjectIoFault(IoFault::Write, 3); }, E_EWRITE});
            for (const Fault& f : faults) {
                SCOPED_TRACE(f.what);
                Outcome o = Rebuild(
                    [&] {
                        RefuseKernelCopies(refuse);
                        f.arm();
                    },
                    op.run);
                g_abortAtCall = 0;
                EXPECT_EQ(o.result, f.result);
                EXPECT_EQ(o.archive, original);
                EXPECT_EQ(o.outFolder, std::vector<std::string>{"a.zbk"});
            }
        }
    }
}

} // namespace
