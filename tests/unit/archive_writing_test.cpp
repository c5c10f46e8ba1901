// Creating, updating and deleting through the exported functions, read back byte for byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "common/file_io.h"
#include "common/multi_string.h"
#include "frame/exports.h"
#include "platform/platform.h"
#include "settings/settings_store.h"
#include "tests/support/temp_dir.h"
#include "tests/support/zbk_writer.h"
#include "tests/unit/support/archive_probe.h"
#include "tests/unit/support/progress_recorder.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<unsigned char>;

Bytes Text(size_t n, char seed = 'a') {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<unsigned char>(seed + (i * 7 + i / 13) % 23);
    return b;
}

class ArchiveWriting : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSettingsToDefaults();
        ClearIoFaults();
        StartRecording();
        g_abortAtCall = 0;
        g_onCall = nullptr;
        src = dir.File("src") + "/";
        fs::create_directories(src);
        fs::create_directories(dir.File("out"));
    }
    void TearDown() override {
        ResetSettingsToDefaults();
        ClearIoFaults();
        g_onCall = nullptr;
    }

    void Source(const std::string& name, const Bytes& bytes) {
        fs::create_directories(fs::path(src + name).parent_path());
        WriteFileBytes(src + name, bytes);
    }
    std::string Archive(const std::string& name = "a.zbk") const { return dir.File("out/" + name); }

    int Pack(const std::vector<std::string>& names, const char* subPath = nullptr, int flags = 0,
             const std::string& archive = "") {
        std::string path = archive.empty() ? Archive() : archive;
        std::vector<char> list = MultiString(names);
        SetProcessDataProc(reinterpret_cast<void*>(-1), Recorder);
        return PackFiles(&path[0], const_cast<char*>(subPath), &src[0], list.data(), flags);
    }
    int Delete(const std::vector<std::string>& names) {
        std::string path = Archive();
        std::vector<char> list = MultiString(names);
        SetProcessDataProc(reinterpret_cast<void*>(-1), Recorder);
        return DeleteFiles(&path[0], list.data());
    }
    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const ProgressCall& c : g_calls) texts.push_back(c.text);
        return texts;
    }

    TempDir dir;
    std::string src;
};

TEST_F(ArchiveWriting, CompressionFollowsExtensionAndSettings) {
    struct Case {
        const char* what;
        std::function<void()> settings;
        const char* name;
        size_t size;
        bool compressed;
    } cases[] = {
        {"listed extension", [] {}, "a.txt", 300, true},
        {"extension in capitals", [] {}, "b.TXT", 300, true},
        {"unlisted extension", [] {}, "c.dat", 300, false},
        {"no extension", [] {}, "noext", 300, false},
        {"two bytes are too few to compress", [] {}, "d.txt", 2, false},
        {"an empty file", [] {}, "e.txt", 0, false},
        {"three bytes compress", [] {}, "f.txt", 3, true},
        {"compression off", [] { PluginSettings.UseCompression = false; }, "g.txt", 300, false},
        {"compress all", [] { PluginSettings.CompressAll = true; }, "h.dat", 300, true},
        {"compress all, but compression off",
         [] {
             PluginSettings.UseCompression = false;
             PluginSettings.CompressAll = true;
         },
         "i.dat", 300, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetSettingsToDefaults();
        c.settings();
        fs::remove(Archive());
        Bytes content = Text(c.size);
        Source(c.name, content);
        ASSERT_EQ(Pack({c.name}), 0);
        ProbedArchive a = ProbeArchive(Archive());
        ASSERT_TRUE(a.ok);
        ASSERT_EQ(a.records.size(), 1u);
        EXPECT_EQ(a.records[0].method, c.compressed ? kZbkCompressed : kZbkStored);
        EXPECT_EQ(a.records[0].uncompressedSize, c.compressed ? c.size : 0u);
        if (!c.compressed) {
            EXPECT_EQ(a.records[0].dataSize, c.size);
        }
        auto entries = ExtractThroughExports(Archive());
        EXPECT_EQ(entries[c.name], content);
    }
}

TEST_F(ArchiveWriting, RecordsAreInNameOrderWhateverTheListOrder) {
    for (const char* name : {"b.txt", "A.txt", "c/d.dat", "C.dat"}) Source(name, Text(50));
    ASSERT_EQ(Pack({"c/", "c/d.dat", "b.txt", "C.dat", "A.txt", "missing.txt"}), 0);
    ProbedArchive a = ProbeArchive(Archive());
    ASSERT_TRUE(a.ok);
    EXPECT_FALSE(a.signature);
    EXPECT_EQ(a.Names(), (std::vector<std::string>{"A.txt", "b.txt", "C.dat", "c\\d.dat"}));
    int64_t now = static_cast<int64_t>(std::time(nullptr));
    for (const ProbedRecord& r : a.records) EXPECT_NEAR(static_cast<double>(r.timeStamp), static_cast<double>(now), 120.0);
    EXPECT_EQ(ExtractThroughExports(Archive()).size(), 4u);
}

TEST_F(ArchiveWriting, SubPathAndFolderExpansion) {
    Source("dir/x.txt", Text(40));
    Source("dir/deeper/y.dat", Text(41));
    Source("dirt.txt", Text(42));
    ASSERT_EQ(Pack({"dir/*.*", "dirt.txt"}, "data/sub"), 0);
    ProbedArchive a = ProbeArchive(Archive());
    EXPECT_EQ(a.Names(), (std::vector<std::string>{"data\\sub\\dir\\deeper\\y.dat", "data\\sub\\dir\\x.txt",
                                                   "data\\sub\\dirt.txt"}));
    auto entries = ExtractThroughExports(Archive());
    EXPECT_EQ(entries["data\\sub\\dir\\deeper\\y.dat"], Text(41));
}

TEST_F(ArchiveWriting, ListOfFoldersOnlyGivesAnEmptyArchive) {
    fs::create_directories(src + "empty");
    ASSERT_EQ(Pack({"empty/", "missing.txt"}), 0);
    EXPECT_EQ(ReadFileBytes(Archive()), Bytes(21, 0));
    PluginSettings.ForceZbkSignature = true;
    ASSERT_EQ(Pack({"empty/"}, nullptr, 0, Archive("signed.zbk")), 0);
    ProbedArchive a = ProbeArchive(Archive("signed.zbk"));
    EXPECT_TRUE(a.signature);
    EXPECT_TRUE(a.records.empty());
}

TEST_F(ArchiveWriting, SignatureRecordOfANewArchive) {
    Source("a.txt", Text(30));
    struct Case {
        const char* what;
        std::function<void()> settings;
        bool signature;
        Bytes block;
    } cases[] = {
        {"off by default", [] {}, false, {}},
        {"forced, default strings", [] { PluginSettings.ForceZbkSignature = true; }, true,
         SignatureBlock({"Packer", "kyrzbk"})},
        {"forced, own strings",
         [] {
             PluginSettings.ForceZbkSignature = true;
             SetSignatureSuffixKey("Tool");
             SetSignatureSuffixValue("v2");
         },
         true, SignatureBlock({"Tool", "v2"})},
        {"own strings without the switch",
         [] {
             SetSignatureSuffixKey("Tool");
         },
         false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetSettingsToDefaults();
        c.settings();
        fs::remove(Archive());
        ASSERT_EQ(Pack({"a.txt"}), 0);
        ProbedArchive a = ProbeArchive(Archive());
        ASSERT_TRUE(a.ok);
        EXPECT_EQ(a.signature, c.signature);
        EXPECT_EQ(a.signatureBlock, c.block);
        EXPECT_EQ(a.Names(), std::vector<std::string>{"a.txt"});
    }
}

TEST_F(ArchiveWriting, ProgressOfACreation) {
    Source("s.dat", Text(3000));
    Source("c.txt", Text(3000));
    ASSERT_EQ(Pack({"s.dat", "c.txt"}), 0);
    std::string c = src + "c.txt", s = src + "s.dat";
    std::vector<std::string> texts = Texts();
    ASSERT_GE(texts.size(), 6u);
    EXPECT_EQ(texts.front(), c);
    EXPECT_EQ(texts[1], "Loading data matrix ...");
    auto crc = std::find(texts.begin(), texts.end(), "Calculating CRC ...");
    ASSERT_NE(crc, texts.end());
    EXPECT_EQ(*(crc + 1), s);
    EXPECT_EQ(g_calls[static_cast<size_t>(crc + 1 - texts.begin())].count, 0);
    EXPECT_EQ(g_calls.back().text, s);
    EXPECT_EQ(g_calls.back().count, 3000);
}

TEST_F(ArchiveWriting, AFileThatCannotKeepItsNameFailsTheWholeRequest) {
    if (platform::CanStoreName("back\\slash.txt")) GTEST_SKIP() << "no file name here holds a folder separator";
    Source("good.txt", Text(10));
    Source("dir/back\\slash.txt", Text(10));
    Source("dir/fine.txt", Text(10));
    struct Case {
        const char* what;
        std::vector<std::string> list;
        bool existing;
    } const cases[] = {
        {"listed, new archive", {"good.txt", "dir/", "dir/back\\slash.txt", "dir/fine.txt"}, false},
        {"in a folder expanded, new archive", {"good.txt", "dir/*.*"}, false},
        {"listed, existing archive", {"dir/back\\slash.txt"}, true},
        {"in a folder expanded, existing archive", {"dir/*.*"}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(Archive());
        Bytes before;
        if (c.existing) {
            ASSERT_EQ(Pack({"good.txt"}), 0);
            before = ReadFileBytes(Archive());
        }
        g_calls.clear();
        EXPECT_EQ(Pack(c.list, nullptr, PK_PACK_MOVE_FILES), E_NOT_SUPPORTED);
        EXPECT_TRUE(g_calls.empty()); // refused before any work
        EXPECT_EQ(FolderListing(dir.File("out")), c.existing ? std::vector<std::string>{"a.zbk"} : std::vector<std::string>{});
        if (c.existing) EXPECT_EQ(ReadFileBytes(Archive()), before);
        EXPECT_TRUE(FileExists(src + "good.txt") && FileExists(src + "dir/fine.txt"));
    }
}

TEST_F(ArchiveWriting, MovedSourcesAreDeletedOnlyAfterSuccess) {
    Source("a.txt", Text(100));
    Source("sub/b.dat", Text(100));
    g_abortAtCall = 1;
    EXPECT_EQ(Pack({"a.txt", "sub/", "sub/b.dat"}, nullptr, PK_PACK_MOVE_FILES), E_EABORTED);
    EXPECT_TRUE(FileExists(src + "a.txt"));
    EXPECT_FALSE(FileExists(Archive()));
    g_abortAtCall = 0;
    EXPECT_EQ(Pack({"a.txt", "sub/", "sub/b.dat"}, nullptr, PK_PACK_MOVE_FILES), 0);
    EXPECT_FALSE(FileExists(src + "a.txt"));
    EXPECT_FALSE(FileExists(src + "sub/b.dat"));
    EXPECT_TRUE(fs::is_directory(src + "sub")); // folders stay
    EXPECT_EQ(ExtractThroughExports(Archive())["sub\\b.dat"], Text(100));
}

TEST_F(ArchiveWriting, AFailedCreationLeavesNothingBehind) {
    Source("a.txt", Text(5000));
    Source("b.dat", Text(3000000));
    Source("c.txt", Text(10));
    struct Fault {
        std::string what;
        std::function<void()> arm;
        int result;
    };
    std::vector<Fault> faults;
    // Count the callbacks of a good run, then abort at each of them.
    ASSERT_EQ(Pack({"a.txt", "b.dat", "c.txt"}, nullptr, 0, Archive("good.zbk")), 0);
    size_t calls = g_calls.size();
    for (size_t k = 1; k <= calls; ++k)
        faults.push_back({"abort at callback " + std::to_string(k), [k] { g_abortAtCall = static_cast<int>(k); }, E_EABORTED});
    for (int n = 1; n <= 8; ++n)
        faults.push_back({"short write " + std::to_string(n), [n] { InjectIoFault(IoFault::Write, n); }, E_EWRITE});
    faults.push_back({"short read of a file to compress", [] { InjectIoFault(IoFault::Read, 1); }, E_EREAD});
    faults.push_back({"a source vanishes before it is opened",
                      [this] {
                          g_onCall = [this](const std::string& text) {
                              if (text == src + "b.dat") fs::remove(src + "b.dat");
                          };
                      },
                      E_EOPEN});
    faults.push_back({"the finished archive cannot be renamed into place", [] { InjectIoFault(IoFault::Replace, 1); },
                      E_EWRITE});
    for (const Fault& f : faults) {
        SCOPED_TRACE(f.what);
        g_calls.clear();
        g_abortAtCall = 0;
        f.arm();
        EXPECT_EQ(Pack({"a.txt", "b.dat", "c.txt"}, nullptr, PK_PACK_MOVE_FILES), f.result);
        ClearIoFaults();
        g_onCall = nullptr;
        EXPECT_FALSE(FileExists(Archive()));
        EXPECT_EQ(FolderListing(dir.File("out")), std::vector<std::string>{"good.zbk"});
        EXPECT_TRUE(FileExists(src + "a.txt"));
        EXPECT_TRUE(FileExists(src + "c.txt"));
        if (!FileExists(src + "b.dat")) Source("b.dat", Text(3000000));
    }
}

TEST_F(ArchiveWriting, ANewArchiveAppearsUnderItsNameOnlyWhenComplete) {
    Source("a.txt", Text(5000));
    Source("b.dat", Text(3000000));
    // At every progress report, a point where the host may stop or the process be killed,
    // the archive is being written under a temporary name beside the final one.
    int checked = 0;
    g_onCall = [&](const std::string&) {
        ++checked;
        EXPECT_FALSE(FileExists(Archive()));
        std::vector<std::string> listing = FolderListing(dir.File("out"));
        ASSERT_EQ(listing.size(), 1u);
        EXPECT_EQ(listing[0].rfind("~a.zbk", 0), 0u) << listing[0];
    };
    ASSERT_EQ(Pack({"a.txt", "b.dat"}), 0);
    g_onCall = nullptr;
    EXPECT_GT(checked, 4);
    EXPECT_EQ(FolderListing(dir.File("out")), std::vector<std::string>{"a.zbk"});
    auto entries = ExtractThroughExports(Archive());
    EXPECT_EQ(entries["a.txt"], Text(5000));
    EXPECT_EQ(entries["b.dat"], Text(3000000));
}

TEST_F(ArchiveWriting, AnExistingFileThatIsNoArchiveIsNotOverwritten) {
    struct Case {
        const char* what;
        Bytes content;
    } cases[] = {{"empty file", {}},
                 {"text file", Bytes(100, 'x')},
                 {"archive one byte short of its data", DropTail(TestArchive().Stored("x.txt", "xyz").Bytes(), 1)}};
    Source("a.txt", Text(30));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFileBytes(Archive(), c.content);
        int result = Pack({"a.txt"});
        EXPECT_TRUE(result == E_UNKNOWN_FORMAT || result == E_BAD_DATA) << result;
        EXPECT_EQ(ReadFileBytes(Archive()), c.content);
    }
}

TEST_F(ArchiveWriting, AFileBeyondAnEntrysSizeRefusesTheWholePack) {
    // Sparse: nothing is read before the sizes are checked, and the pack writes nothing.
    Source("small.dat", Text(10));
    WriteFileBytes(src + "huge.dat", {});
    fs::resize_file(src + "huge.dat", 4294967296ull);
    EXPECT_EQ(Pack({"small.dat", "huge.dat"}), E_NOT_SUPPORTED);
    EXPECT_FALSE(FileExists(Archive()));
    ASSERT_EQ(Pack({"small.dat"}), 0);
    Bytes before = ReadFileBytes(Archive());
    EXPECT_EQ(Pack({"huge.dat"}), E_NOT_SUPPORTED);
    EXPECT_EQ(ReadFileBytes(Archive()), before);
    EXPECT_EQ(FolderListing(dir.File("out")), std::vector<std::string>{"a.zbk"});
}

class ArchiveUpdating : public ArchiveWriting {
protected:
    void SetUp() override {
        ArchiveWriting::SetUp();
        Source("keep.txt", Text(2000, 'k'));
        Source("old.dat", Text(500, 'o'));
        ASSERT_EQ(Pack({"keep.txt", "old.dat"}), 0);
        original = ReadFileBytes(Archive());
        g_calls.clear();
    }
    void ExpectUnchanged() {
        EXPECT_EQ(ReadFileBytes(Archive()), original);
        EXPECT_EQ(FolderListing(dir.File("out")), std::vector<std::string>{"a.zbk"});
    }
    Bytes original;
};

TEST_F(ArchiveUpdating, AddsAndReplacesIgnoringLetterCase) {
    Source("OLD.DAT", Text(77, 'n'));
    Source("new.txt", Text(900, 'w'));
    ASSERT_EQ(Pack({"OLD.DAT", "new.txt"}), 0);
    ProbedArchive a = ProbeArchive(Archive());
    EXPECT_EQ(a.Names(), (std::vector<std::string>{"keep.txt", "new.txt", "OLD.DAT"}));
    auto entries = ExtractThroughExports(Archive());
    EXPECT_EQ(entries["OLD.DAT"], Text(77, 'n'));
    EXPECT_EQ(entries["keep.txt"], Text(2000, 'k'));
    EXPECT_EQ(entries["new.txt"], Text(900, 'w'));
    EXPECT_EQ(FolderListing(dir.File("out")), std::vector<std::string>{"a.zbk"});
}

TEST_F(ArchiveUpdating, KeptRecordsAreCopiedByteForByte) {
    // An archive from elsewhere: unsorted, compressed by another encoder, with a signature.
    TestArchive old;
    old.Signed(SignatureBlock({"Packer", "other"}));
    old.Compressed("z.txt", std::string(3000, 'z') + "tail", 1234);
    old.Stored("a.bin", Bytes{1, 2, 3}, 99);
    WriteZbkArchive(Archive(), old);
    Bytes oldBytes = ReadFileBytes(Archive());
    PluginSettings.UseCompression = false;
    Source("m.txt", Text(10));
    ASSERT_EQ(Pack({"m.txt"}), 0);
    ProbedArchive a = ProbeArchive(Archive());
    EXPECT_EQ(a.signatureBlock, SignatureBlock({"Packer", "other"}));
    EXPECT_EQ(a.Names(), (std::vector<std::string>{"a.bin", "m.txt", "z.txt"}));
    EXPECT_EQ(a.records[2].method, kZbkCompressed);
    EXPECT_EQ(a.records[2].timeStamp, 1234u);
    Bytes now = ReadFileBytes(Archive());
    const Bytes& stream = old.records[0].data;
    EXPECT_NE(std::search(now.begin(), now.end(), stream.begin(), stream.end()), now.end());
    auto entries = ExtractThroughExports(Archive());
    EXPECT_EQ(entries["z.txt"].size(), 3004u);
    EXPECT_EQ(entries["a.bin"], (Bytes{1, 2, 3}));
}

TEST_F(ArchiveUpdating, SignatureRecordOfARewrittenArchive) {
    struct Case {
        const char* what;
        bool force, keep, oldSigned;
        bool signature;
        Bytes block;
    } cases[] = {
        {"off keeps it", false, false, true, true, SignatureBlock({"Old", "one", "three"})},
        {"off with nothing to keep", false, true, false, false, {}},
        {"kept block", true, true, true, true, SignatureBlock({"Old", "one", "three"})},
        {"nothing to keep", true, true, false, true, SignatureBlock({"Packer", "kyrzbk"})},
        {"configured block", true, false, true, true, SignatureBlock({"Packer", "kyrzbk"})},
    };
    Source("n.txt", Text(10));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestArchive old;
        if (c.oldSigned) old.Signed(SignatureBlock({"Old", "one", "three"}));
        old.Stored("x.txt", "x");
        WriteZbkArchive(Archive(), old);
        ResetSettingsToDefaults();
        PluginSettings.ForceZbkSignature = c.force;
        PluginSettings.KeepOriginalSignatureSuffix = c.keep;
        ASSERT_EQ(Pack({"n.txt"}), 0);
        ProbedArchive a = ProbeArchive(Archive());
        EXPECT_EQ(a.signature, c.signature);
        EXPECT_EQ(a.signatureBlock, c.block);
        EXPECT_EQ(ExtractThroughExports(Archive()).size(), 2u);
    }
}

TEST_F(ArchiveUpdating, NothingToAddLeavesTheArchiveUntouched) {
    fs::create_directories(src + "folder");
    EXPECT_EQ(Pack({"folder/"}), 0);
    ExpectUnchanged();
    EXPECT_TRUE(g_calls.empty());
}

TEST_F(ArchiveUpdating, AMissingFileFailsTheUpdate) {
    EXPECT_EQ(Pack({"missing.txt"}), E_EREAD);
    ExpectUnchanged();
}

TEST_F(ArchiveUpdating, ProgressOfAnUpdate) {
    Source("add.dat", Text(100));
    Source("add.txt", Text(100));
    ASSERT_EQ(Pack({"add.dat", "add.txt"}), 0);
    // Written names: add.dat, add.txt, keep.txt, old.dat; share = 200 / 4.
    std::vector<std::string> expected = {"Packing file : " + src + "add.dat",
                                         "<null>",
                                         "Compressing file : " + src + "add.txt",
                                         "<null>",
                                         "Reorganizing archived file : keep.txt",
                                         "<null>",
                                         "Reorganizing archived file : old.dat",
                                         "<null>",
                                         "Rewriting archive header : " + Archive()};
    EXPECT_EQ(Texts(), expected);
    // Announcements carry no bytes; after each written name the whole operation's share
    // done so far, weighed by data bytes + 1: add.dat 101, add.txt 101, keep.txt 243 (its
    // compressed block), old.dat 501.
    std::vector<int> counts;
    for (const ProgressCall& c : g_calls) counts.push_back(c.count);
    EXPECT_EQ(counts, (std::vector<int>{0, -1010, 0, -1021, 0, -1047, 0, -1100, -1100}));
}

TEST_F(ArchiveUpdating, AFailedUpdateLeavesTheOldArchive) {
    Source("add.txt", Text(3000));
    Source("add.dat", Text(1500000));
    ASSERT_EQ(Pack({"add.txt", "add.dat"}, nullptr, 0, Archive("probe.zbk")), 0); // a new archive
    fs::remove(Archive("probe.zbk"));
    g_calls.clear();
    // An update of a copy counts the callbacks to abort at.
    WriteFileBytes(Archive("count.zbk"), original);
    ASSERT_EQ(Pack({"add.txt", "add.dat"}, nullptr, 0, Archive("count.zbk")), 0);
    size_t calls = g_calls.size();
    fs::remove(Archive("count.zbk"));
    struct Fault {
        std::string what;
        std::function<void()> arm;
        int result;
    };
    std::vector<Fault> faults;
    for (size_t k = 1; k <= calls; ++k)
        faults.push_back({"abort at callback " + std::to_string(k), [k] { g_abortAtCall = static_cast<int>(k); }, E_EABORTED});
    for (int n = 1; n <= 8; ++n)
        faults.push_back({"short write " + std::to_string(n), [n] { InjectIoFault(IoFault::Write, n); }, E_EWRITE});
    // Reads in order: two chunks of add.dat and its end, add.txt whole, then the kept data.
    for (int n : {1, 2, 4, 5})
        faults.push_back({"read " + std::to_string(n) + " fails", [n] { InjectIoFault(IoFault::Read, n); }, E_EREAD});
    faults.push_back({"the replacement is refused", [] { InjectIoFault(IoFault::Replace, 1); }, E_EWRITE});
    for (const Fault& f : faults) {
        SCOPED_TRACE(f.what);
        g_calls.clear();
        g_abortAtCall = 0;
        f.arm();
        EXPECT_EQ(Pack({"add.txt", "add.dat"}, nullptr, PK_PACK_MOVE_FILES), f.result);
        ClearIoFaults();
        g_onCall = nullptr;
        ExpectUnchanged();
        EXPECT_TRUE(FileExists(src + "add.txt"));
        if (!FileExists(src + "add.dat")) Source("add.dat", Text(1500000));
    }
}

class ArchiveDeleting : public ArchiveUpdating {};

TEST_F(ArchiveDeleting, DeletesNamesAndFolders) {
    Source("dir/x.txt", Text(10));
    Source("dir/y/z.dat", Text(11));
    Source("dirt.txt", Text(12));
    ASSERT_EQ(Pack({"dir/", "dir/x.txt", "dir/y/", "dir/y/z.dat", "dirt.txt"}), 0);
    g_calls.clear();
    ASSERT_EQ(Delete({"dir/*.*", "old.dat"}), 0);
    ProbedArchive a = ProbeArchive(Archive());
    EXPECT_EQ(a.Names(), (std::vector<std::string>{"dirt.txt", "keep.txt"}));
    auto entries = ExtractThroughExports(Archive());
    EXPECT_EQ(entries["keep.txt"], Text(2000, 'k'));
    EXPECT_EQ(entries["dirt.txt"], Text(12));
    std::vector<std::string> expected = {"File(s) deleted, reorganizing archive ...",
                                         "File(s) deleted, reorganizing archive ...",
                                         "File(s) deleted, reorganizing archive ...",
                                         "Archive reorganized successfully."};
    EXPECT_EQ(Texts(), expected);
    std::vector<int> counts;
    for (const ProgressCall& c : g_calls) counts.push_back(c.count);
    // Whole-operation percentages only: a host has no byte total for a deletion.
    EXPECT_EQ(counts.front(), -1000);
    EXPECT_GT(counts[1], -1100);
    EXPECT_LT(counts[1], -1000);
    EXPECT_EQ(counts[2], -1100);
    EXPECT_EQ(counts.back(), -1100);
    EXPECT_EQ(FolderListing(dir.File("out")), std::vector<std::string>{"a.zbk"});
}

TEST_F(ArchiveDeleting, NamesAreComparedWithLetterCase) {
    EXPECT_EQ(Delete({"KEEP.TXT", "nothing.txt"}), 0);
    ExpectUnchanged();
    EXPECT_TRUE(g_calls.empty());
}

TEST_F(ArchiveDeleting, DeletingEverythingLeavesAnEmptyArchive) {
    g_abortAtCall = 2; // the closing report's answer is ignored
    ASSERT_EQ(Delete({"keep.txt", "old.dat"}), 0);
    EXPECT_EQ(ReadFileBytes(Archive()), Bytes(21, 0));
    EXPECT_EQ(g_calls.back().text, "Archive reorganized successfully.");
    EXPECT_EQ(g_calls.back().count, -1100);
    g_abortAtCall = 0;
    PluginSettings.ForceZbkSignature = true;
    WriteFileBytes(Archive(), original);
    ASSERT_EQ(Delete({"keep.txt", "old.dat"}), 0);
    ProbedArchive a = ProbeArchive(Archive());
    EXPECT_TRUE(a.signature);
    EXPECT_TRUE(a.records.empty());
}

TEST_F(ArchiveDeleting, AFailedDeletionLeavesTheOldArchive) {
    struct Fault {
        std::string what;
        std::function<void()> arm;
        int result;
    };
    std::vector<Fault> faults = {
        {"abort at the first report", [] { g_abortAtCall = 1; }, E_EABORTED},
        {"abort after the copy", [] { g_abortAtCall = 2; }, E_EABORTED},
        {"short header write", [] { InjectIoFault(IoFault::Write, 1); }, E_EWRITE},
        {"short data write", [] { InjectIoFault(IoFault::Write, 3); }, E_EWRITE},
        {"short read", [] { InjectIoFault(IoFault::Read, 1); }, E_EREAD},
        {"the replacement is refused", [] { InjectIoFault(IoFault::Replace, 1); }, E_EWRITE},
    };
    for (const Fault& f : faults) {
        SCOPED_TRACE(f.what);
        g_calls.clear();
        g_abortAtCall = 0;
        f.arm();
        EXPECT_EQ(Delete({"old.dat"}), f.result);
        ClearIoFaults();
        ExpectUnchanged();
    }
}

// Archives of the second game: a header block that names the folder of every file, and an
// integrity block at the end. Every kind of rewrite keeps the one and renews the other.
class ArchiveRewriting : public ArchiveWriting {
protected:
    static TestArchive GameArchive(bool withHeaderBlock, bool sealed) {
        TestArchive a;
        if (withHeaderBlock) {
            a.Signed(SignatureBlock({"prefix", "my\\mod\\data", "Packer", "other", "version", "3"}));
            a.signatureTimeStamp = 0x5F5E1000;
        }
        a.Stored("b.dat", Text(70000, 'b'), 5); // large enough to be copied inside the kernel
        a.Compressed("c.txt", std::string(5000, 'c') + "end", 6);
        a.Stored("d.dat", Text(3, 'd'), 7);
        a.sealed = sealed;
        return a;
    }
};

TEST_F(ArchiveRewriting, EveryChangeKeepsTheHeaderBlockAndRenewsTheIntegrityBlock) {
    struct Change {
        const char* what;
        std::function<int()> run;
        std::vector<std::string> names;
    } changes[] = {
        {"delete", [this] { return Delete({"c.txt"}); }, {"b.dat", "d.dat"}},
        // A file to compress has no size yet, so the header is written last; a stored one
        // lets it go first.
        {"add to compress", [this] { return Pack({"a.txt"}); }, {"a.txt", "b.dat", "c.txt", "d.dat"}},
        {"replace by a stored file", [this] { return Pack({"B.DAT"}); }, {"B.DAT", "c.txt", "d.dat"}},
        {"move in", [this] { return Pack({"a.txt"}, nullptr, PK_PACK_MOVE_FILES); }, {"a.txt", "b.dat", "c.txt", "d.dat"}},
    };
    for (bool withHeaderBlock : {false, true}) {
        for (bool sealed : {false, true}) {
            for (const Change& c : changes) {
                SCOPED_TRACE(std::string(c.what) + (withHeaderBlock ? ", header block" : "") + (sealed ? ", sealed" : ""));
                Source("a.txt", Text(300, 'a'));
                Source("B.DAT", Text(100, 'n'));
                TestArchive old = GameArchive(withHeaderBlock, sealed);
                WriteZbkArchive(Archive(), old);
                ASSERT_EQ(c.run(), 0);
                ProbedArchive a = ProbeArchive(Archive());
                ASSERT_TRUE(a.ok);
                EXPECT_EQ(a.Names(), c.names);
                size_t kept = withHeaderBlock ? 21 + old.signatureBlock.size() : 0;
                Bytes oldBytes = old.Bytes();
                EXPECT_EQ(Bytes(a.header.begin(), a.header.begin() + static_cast<long>(kept)),
                          Bytes(oldBytes.begin(), oldBytes.begin() + static_cast<long>(kept)));
                EXPECT_EQ(a.signature, withHeaderBlock);
                EXPECT_EQ(a.trailing.size(), sealed ? 21u : 0u);
                EXPECT_EQ(a.sealValid, sealed);
                EXPECT_EQ(ExtractThroughExports(Archive()).size(), c.names.size());
                EXPECT_EQ(TestThroughExports(Archive()), std::vector<int>(c.names.size(), 0));
            }
        }
    }
}

TEST_F(ArchiveRewriting, ADigestTakenWhileTheArchiveIsWrittenMatchesIt) {
    // Large enough that the digest follows the writing in several steps.
    TestArchive big;
    for (char c : {'x', 'y', 'z'}) big.Stored(std::string(1, c) + ".dat", Text(9u << 20, c));
    big.sealed = true;
    WriteZbkArchive(Archive(), big);
    Source("Y.DAT", Text(5u << 20, 'n'));
    ASSERT_EQ(Pack({"Y.DAT"}), 0);
    ASSERT_EQ(Delete({"x.dat"}), 0);
    ProbedArchive a = ProbeArchive(Archive());
    EXPECT_EQ(a.Names(), (std::vector<std::string>{"Y.DAT", "z.dat"}));
    EXPECT_TRUE(a.sealValid);
}

TEST_F(ArchiveRewriting, DamageUnderTheIntegrityBlockIsReportedAndRefused) {
    TestArchive game = GameArchive(true, true);
    const Bytes sound = game.Bytes();
    Source("a.txt", Text(300, 'a'));
    struct Damage {
        const char* what;
        size_t at;
    } damages[] = {
        {"a byte inside a stored entry, which has no checksum", game.DataOffset(0) + 30000},
        {"a byte of the digest", sound.size() - 5},
    };
    for (const Damage& d : damages) {
        SCOPED_TRACE(d.what);
        Bytes bad = sound;
        bad[d.at] ^= 0x20;
        WriteFileBytes(Archive(), bad);
        EXPECT_EQ(TestThroughExports(Archive()), (std::vector<int>{0, 0, E_BAD_DATA}));
        EXPECT_EQ(Delete({"d.dat"}), E_BAD_DATA);
        EXPECT_EQ(Pack({"a.txt"}), E_BAD_DATA);
        EXPECT_EQ(ReadFileBytes(Archive()), bad);
        EXPECT_EQ(FolderListing(dir.File("out")), std::vector<std::string>{"a.zbk"});
    }
}

} // namespace
