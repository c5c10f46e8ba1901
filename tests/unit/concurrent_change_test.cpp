// Changes of archives from several host threads at once, through the exported functions:
// two changes of one archive take turns and both land, changes of different archives and
// readers go on side by side, and every operation keeps the callback its thread set.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/change_lock.h"
#include "common/file_io.h"
#include "common/multi_string.h"
#include "frame/exports.h"
#include "platform/platform.h"
#include "settings/settings_store.h"
#include "tests/support/change_pairs.h"
#include "tests/support/temp_dir.h"
#include "tests/unit/support/archive_probe.h"

namespace fs = std::filesystem;

namespace {

// The interface's callbacks carry no context: each operation gets a function of its own,
// which logs what it is told and on which thread, and answers through a hook.
struct CallbackLog {
    std::thread::id owner;
    std::vector<std::string> texts;
    int foreignCalls = 0;
    std::function<int(const std::string&)> hook;
};
CallbackLog g_logs[4];

template <int N>
int KYR_CALL Logged(char* text, int) {
    CallbackLog& log = g_logs[N];
    if (std::this_thread::get_id() != log.owner) ++log.foreignCalls;
    log.texts.push_back(text ? text : "<null>");
    return log.hook ? log.hook(log.texts.back()) : 1;
}
const tProcessDataProc kCallbacks[] = {Logged<0>, Logged<1>, Logged<2>, Logged<3>};

bool IsWaitingText(const std::string& text) { return text.rfind(kWaitingForChangeText, 0) == 0; }

class ConcurrentChange : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSettingsToDefaults();
        ClearIoFaults();
        for (CallbackLog& log : g_logs) log = CallbackLog();
        src = dir.File("src");
        fs::create_directories(src);
        fs::create_directories(dir.File("out"));
        WriteChangeSources(src);
    }
    void TearDown() override { ClearIoFaults(); }

    std::string Archive(const std::string& name = "a.zbk") const { return dir.File("out/" + name); }

    // Runs a change as a host thread does: the default callback set, then the request.
    int Run(const std::string& archive, const ArchiveChange& change, int slot) {
        g_logs[slot].owner = std::this_thread::get_id();
        SetProcessDataProc(nullptr, kCallbacks[slot]);
        return Request(archive, change);
    }
    int Request(std::string archive, const ArchiveChange& change) {
        std::vector<char> list = MultiString(change.names);
        std::string from = src + "/";
        return change.add ? PackFiles(&archive[0], nullptr, &from[0], list.data(), 0)
                          : DeleteFiles(&archive[0], list.data());
    }
    void Prepare(const std::string& archive, const std::vector<std::string>& names) {
        if (!names.empty()) ASSERT_EQ(Run(archive, {true, names}, 3), 0);
        g_logs[3] = CallbackLog();
    }
    void ExpectHolds(const std::string& archive, const std::vector<std::string>& names) {
        EXPECT_EQ(ProbeArchive(archive).Names(), names);
        auto contents = ExtractThroughExports(archive);
        for (const std::string& name : names) EXPECT_EQ(contents[name], ChangeSourceBytes(name)) << name;
    }
    // The callback served its own operation, on its own thread, and nobody else's.
    void ExpectOwnReports(int slot, const ArchiveChange& own, const std::vector<std::string>& othersAdded) {
        const CallbackLog& log = g_logs[slot];
        EXPECT_EQ(log.foreignCalls, 0) << "slot " << slot;
        bool reachedOwn = false;
        for (const std::string& text : log.texts) {
            EXPECT_FALSE(MentionsAny(text, othersAdded)) << "slot " << slot << ": " << text;
            reachedOwn |= own.add ? MentionsAny(text, own.names) : text.find("deleted") != std::string::npos;
        }
        EXPECT_TRUE(reachedOwn) << "slot " << slot;
    }
    static std::vector<std::string> Added(const ArchiveChange& change) {
        return change.add ? change.names : std::vector<std::string>();
    }

    TempDir dir;
    std::string src;
};

// The first change is held inside its progress callback until the second reports that it
// waits; then both finish. With locks; on a file system without them, where the threads of
// this process still take turns; and with the second cancelled while it waits, which
// returns the abort code and leaves the archive as the first made it.
TEST_F(ConcurrentChange, TwoChangesOfOneArchiveTakeTurnsAndBothLand) {
    enum Mode { kLocks, kNoLocks, kCancelSecond };
    for (Mode mode : {kLocks, kNoLocks, kCancelSecond}) {
        for (const ChangePair& pair : ChangePairs()) {
            SCOPED_TRACE(std::string(pair.name) + " in mode " + std::to_string(mode));
            SetUp();
            RefuseFileLocks(mode == kNoLocks);
            std::string archive = Archive(std::string(pair.name) + std::to_string(mode) + ".zbk");
            Prepare(archive, pair.before);
            std::atomic<bool> firstInside{false}, secondWaits{false};
            g_logs[0].hook = [&](const std::string&) {
                // Held once; after ten seconds it goes on, and the test fails instead of hanging.
                if (!firstInside.exchange(true)) WaitUntil([&] { return secondWaits.load(); }, std::chrono::seconds(10));
                return 1;
            };
            g_logs[1].hook = [&](const std::string& text) {
                if (!IsWaitingText(text)) return 1;
                secondWaits = true;
                return mode == kCancelSecond ? 0 : 1;
            };
            int first = -1, second = -1;
            std::thread a([&] { first = Run(archive, pair.first, 0); });
            ASSERT_TRUE(WaitUntil([&] { return firstInside.load(); }));
            std::thread b([&] { second = Run(archive, pair.second, 1); });
            a.join();
            b.join();
            EXPECT_TRUE(secondWaits) << "the second change did not wait";
            EXPECT_EQ(first, 0);
            EXPECT_EQ(second, mode == kCancelSecond ? E_EABORTED : E_SUCCESS);
            ExpectHolds(archive, mode == kCancelSecond ? pair.afterFirst : pair.after);
            ExpectOwnReports(0, pair.first, Added(pair.second));
            if (mode != kCancelSecond) {
                // The second works on the first's result: it copies what the first added.
                ExpectOwnReports(1, pair.second, {});
                bool copiedFirsts = false;
                for (const std::string& text : g_logs[1].texts)
                    copiedFirsts |= text.rfind("Reorganizing archived file : first.txt", 0) == 0;
                EXPECT_EQ(copiedFirsts, pair.first.add && pair.second.add);
            }
            for (const std::string& name : FolderListing(dir.File("out")))
                EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
        }
    }
}

// Two packs, one into an archive that exists and one that creates another, a deletion from
// a third and a listing with extraction of a fourth, all at once. Every thread sets its
// callback before any starts, so a callback kept for all threads would serve only one.
TEST_F(ConcurrentChange, ChangesOfDifferentArchivesAndAListingRunSideBySide) {
    const std::vector<std::string> before = {"keep.txt", "old.txt"};
    std::string packed = Archive("packed.zbk"), created = Archive("created.zbk"), reduced = Archive("reduced.zbk"),
                listed = Archive("listed.zbk");
    for (const std::string* a : {&packed, &reduced, &listed}) Prepare(*a, before);
    const ArchiveChange changes[] = {{true, {"first.txt"}}, {true, {"second.txt"}}, {false, {"old.txt"}}};
    const std::string* targets[] = {&packed, &created, &reduced};

    std::mutex mutex;
    std::condition_variable allReady;
    int ready = 0;
    auto arrive = [&] {
        std::unique_lock<std::mutex> guard(mutex);
        ++ready;
        allReady.notify_all();
        allReady.wait(guard, [&] { return ready == 4; });
    };
    int results[4] = {-1, -1, -1, -1};
    std::vector<std::thread> threads;
    for (int i = 0; i < 3; ++i) {
        threads.emplace_back([&, i] {
            g_logs[i].owner = std::this_thread::get_id();
            SetProcessDataProc(i % 2 ? nullptr : reinterpret_cast<void*>(-1), kCallbacks[i]);
            arrive();
            results[i] = Request(*targets[i], changes[i]);
        });
    }
    fs::create_directories(dir.File("extracted"));
    threads.emplace_back([&] {
        g_logs[3].owner = std::this_thread::get_id();
        arrive();
        tOpenArchiveData open = {};
        std::string name = listed;
        open.ArcName = &name[0];
        open.OpenMode = PK_OM_EXTRACT;
        void* handle = OpenArchive(&open);
        if (!handle) return;
        SetProcessDataProc(handle, kCallbacks[3]);
        tHeaderData header = {};
        std::string into = dir.File("extracted") + "/";
        int r = 0;
        while (r == 0 && ReadHeader(handle, &header) == 0)
            r = ProcessFile(handle, PK_EXTRACT, &into[0], header.FileName);
        results[3] = CloseArchive(handle) == 0 ? r : -1;
    });
    for (std::thread& t : threads) t.join();

    for (int i = 0; i < 4; ++i) EXPECT_EQ(results[i], 0) << "thread " << i;
    ExpectHolds(packed, {"first.txt", "keep.txt", "old.txt"});
    ExpectHolds(created, {"second.txt"});
    ExpectHolds(reduced, {"keep.txt"});
    for (const std::string& name : before)
        EXPECT_EQ(ReadFileBytes(dir.File("extracted/" + name)), ChangeSourceBytes(name)) << name;
    ExpectOwnReports(0, changes[0], {"second.txt"});
    ExpectOwnReports(1, changes[1], {"first.txt"});
    ExpectOwnReports(2, changes[2], {"first.txt", "second.txt"});
    ExpectOwnReports(3, {true, before}, {"first.txt", "second.txt"});
}

// The file manager hands over its settings file, or the options dialog applies, on one
// thread while packs run on others: every pack still writes a sound archive, and under
// ThreadSanitizer a setting read without the lock is reported.
TEST_F(ConcurrentChange, SettingsChangedWhilePacksRun) {
    const char* sections[] = {"[KYRZBK_HLV]\nCompressFormats=txt\nForceZbkSignature=0\n",
                              "[KYRZBK_HLV]\nCompressFormats=dat,bin\nForceZbkSignature=1\nZbkSignatureSuffixKey=k\n"};
    std::string inis[2];
    for (int i = 0; i < 2; ++i) {
        inis[i] = dir.File("settings" + std::to_string(i) + ".ini");
        WriteFileText(inis[i], sections[i]);
    }
    std::atomic<bool> done{false};
    std::thread changer([&] {
        for (int i = 0; !done; ++i) {
            PackDefaultParamStruct params = {};
            params.size = sizeof params;
            std::snprintf(params.DefaultIniName, sizeof params.DefaultIniName, "%s", inis[i % 2].c_str());
            PackSetDefaultParams(&params);
        }
    });
    const std::vector<std::string> names = {"keep.txt", "old.txt"};
    for (int round = 0; round < 20; ++round) {
        std::string archive = Archive("round" + std::to_string(round) + ".zbk");
        ASSERT_EQ(Run(archive, {true, names}, 0), 0);
        ASSERT_EQ(Run(archive, {false, {"old.txt"}}, 0), 0);
        ExpectHolds(archive, {"keep.txt"});
    }
    done = true;
    changer.join();
    ResetSettingsToDefaults();
}

// A reader that keeps the archive open while it is changed. POSIX replaces the file under it
// and the reader goes on with the old one; Windows replaces no open file, so the change
// fails with the write error and leaves the archive as it was, with no temporary file.
TEST_F(ConcurrentChange, OpenReaderDuringAChange) {
    std::string archive = Archive();
    Prepare(archive, {"keep.txt", "old.txt"});
    tOpenArchiveData open = {};
    open.ArcName = &archive[0];
    open.OpenMode = PK_OM_LIST;
    void* reader = OpenArchive(&open);
    ASSERT_NE(reader, nullptr);
    int result = Request(archive, {true, {"first.txt"}});
    std::vector<std::string> seen;
    tHeaderData header = {};
    while (ReadHeader(reader, &header) == 0 && ProcessFile(reader, PK_SKIP, nullptr, nullptr) == 0)
        seen.push_back(header.FileName);
    EXPECT_EQ(CloseArchive(reader), 0);
    EXPECT_EQ(seen, (std::vector<std::string>{"keep.txt", "old.txt"}));
    bool windows = platform::HostSeparator() == '\\';
    EXPECT_EQ(result, windows ? E_EWRITE : E_SUCCESS);
    ExpectHolds(archive, windows ? std::vector<std::string>{"keep.txt", "old.txt"}
                                 : std::vector<std::string>{"first.txt", "keep.txt", "old.txt"});
    EXPECT_EQ(FolderListing(dir.File("out")), std::vector<std::string>{"a.zbk"});
}

// The lock itself: another thread (standing for another change) finds an existing file and
// a file yet to be created busy while they are held, and takes them once released; a file
// replaced under a hold is held again under its new identity.
TEST(FileChangeLock, HoldsExistingAndMissingFilesAgainstOtherChanges) {
    TempDir dir;
    WriteFileText(dir.File("exists.zbk"), "x");
    WriteFileText(dir.File("newer.zbk"), "y");
    auto fromOtherThread = [](const std::string& path) {
        platform::FileChangeLock::Attempt attempt = platform::FileChangeLock::kUnsupported;
        std::thread([&] {
            platform::FileChangeLock other;
            attempt = other.TryTake(path.c_str());
        }).join();
        return attempt;
    };
    for (const char* name : {"exists.zbk", "missing.zbk"}) {
        SCOPED_TRACE(name);
        std::string path = dir.File(name);
        platform::FileChangeLock held;
        ASSERT_EQ(held.TryTake(path.c_str()), platform::FileChangeLock::kTaken);
        EXPECT_EQ(fromOtherThread(path), platform::FileChangeLock::kBusy);
        held.Release();
        EXPECT_EQ(fromOtherThread(path), platform::FileChangeLock::kTaken);
    }
    EXPECT_EQ(platform::ChangeLockKey(dir.File("exists.zbk").c_str()),
              platform::ChangeLockKey((dir.File(".") + "/exists.zbk").c_str()));
    // No lock file beside them.
    EXPECT_EQ(FolderListing(dir.path()), (std::vector<std::string>{"exists.zbk", "newer.zbk"}));

    std::string path = dir.File("exists.zbk");
    platform::FileChangeLock first;
    ASSERT_EQ(first.TryTake(path.c_str()), platform::FileChangeLock::kTaken);
    ASSERT_TRUE(ReplaceFile(dir.File("newer.zbk").c_str(), path.c_str()));
    first.Release();
    platform::FileChangeLock second;
    ASSERT_EQ(second.TryTake(path.c_str()), platform::FileChangeLock::kTaken);
    EXPECT_EQ(fromOtherThread(path), platform::FileChangeLock::kBusy);
}

} // namespace
