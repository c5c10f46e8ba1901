// Archives past 2 GiB and 4 GiB, entries of tens of megabytes, and extractions that fail
// half-way, all through the exported functions as the file manager calls them. The 32-bit
// build runs these too: its offsets must be 64-bit as well.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "common/file_io.h"
#include "frame/exports.h"
#include "tests/support/sparse_archive.h"
#include "tests/support/temp_dir.h"
#include "tests/support/hard_inputs.h"
#include "tests/support/test_stream_encoder.h"
#include "tests/unit/support/archive_probe.h"

namespace {

constexpr uint32_t kMiB = 1u << 20;
constexpr uint32_t kGiB = 1u << 30;

struct Progress {
    int calls = 0;
    int stopAfter = -1; // calls answered 1 before the first 0; -1 never stops
    uint64_t bytes = 0;
};
Progress* g_progress = nullptr;

int KYR_CALL Count(char* text, int count) {
    if (!g_progress) return 1;
    ++g_progress->calls;
    if (count > 0 && std::strcmp(text, "Verifying extracted data ...") != 0) g_progress->bytes += count;
    return g_progress->stopAfter >= 0 && g_progress->calls > g_progress->stopAfter ? 0 : 1;
}

// One archive open through the exports, as the file manager holds it.
class OpenArchiveHandle {
public:
    explicit OpenArchiveHandle(const std::string& path) : m_name(path) {
        tOpenArchiveData data = {};
        data.ArcName = &m_name[0];
        data.OpenMode = PK_OM_EXTRACT;
        handle = OpenArchive(&data);
        result = data.OpenResult;
        if (handle) SetProcessDataProc(handle, Count);
    }
    ~OpenArchiveHandle() {
        if (handle) CloseArchive(handle);
        g_progress = nullptr;
    }
    int Extract(const std::string& target) {
        std::string name = target;
        return ProcessFile(handle, PK_EXTRACT, nullptr, &name[0]);
    }

    void* handle = nullptr;
    int result = -1;

private:
    std::string m_name;
};

TEST(LargeArchives, EntriesBehindHolesPast2And4GiBListAndExtract) {
    struct Case {
        const char* label;
        std::vector<uint32_t> holes;
        bool compressed;
        bool signature;
    } const cases[] = {
        {"2.7 GiB, stored entry last", {1536 * kMiB, 1229 * kMiB}, false, false},
        {"just past 2 GiB, compressed entry last, signature record first", {0x7FFFFFFF, 0x80000000u}, true, true},
        {"past 4 GiB, stored entry last, an entry of 4 GiB less one byte", {0xFFFFFFFFu, kGiB}, false, false},
        {"past 8 GiB, compressed entry last", {3 * kGiB, 3 * kGiB, 3 * kGiB}, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        TempDir dir;
        std::vector<unsigned char> last = hard_inputs::RepeatedRecords(97, 30, 100000, 7);
        TestArchive tail;
        if (c.signature) tail.Signed(SignatureBlock({"Packer", "test"}));
        if (c.compressed) tail.Compressed("dir/last.txt", last, 1700000000);
        else tail.Stored("dir/last.txt", last, 1700000000);
        TestArchive layout = HoleArchive(c.holes, tail);
        std::string path = dir.File("big.zbk");
        ASSERT_TRUE(WriteSparseArchive(path, layout));

        OpenArchiveHandle archive(path);
        ASSERT_EQ(archive.result, 0);
        for (size_t i = 0; i < c.holes.size(); ++i) {
            tHeaderDataEx ex = {};
            tHeaderData ansi = {};
            ASSERT_EQ(ReadHeaderEx(archive.handle, &ex), 0);
            ASSERT_EQ(ReadHeader(archive.handle, &ansi), 0);
            EXPECT_EQ(std::string(ex.FileName), "hole" + std::to_string(i + 1) + ".bin");
            // The wide record carries the size whole; the older one at most its largest value.
            EXPECT_EQ(uint64_t(ex.PackSize) | uint64_t(ex.PackSizeHigh) << 32, c.holes[i]);
            EXPECT_EQ(uint64_t(ex.UnpSize) | uint64_t(ex.UnpSizeHigh) << 32, c.holes[i]);
            int shown = static_cast<int>(std::min<uint32_t>(c.holes[i], 0x7FFFFFFF));
            EXPECT_EQ(ansi.PackSize, shown);
            EXPECT_EQ(ansi.UnpSize, shown);
            ASSERT_EQ(ProcessFile(archive.handle, PK_SKIP, nullptr, nullptr), 0);
        }
        tHeaderDataEx ex = {};
        ASSERT_EQ(ReadHeaderEx(archive.handle, &ex), 0);
        ASSERT_EQ(ex.UnpSize, last.size());
        std::string target = dir.File("last.out");
        ASSERT_EQ(archive.Extract(target), 0);
        EXPECT_TRUE(ReadFileBytes(target) == last);
        EXPECT_EQ(ReadHeaderEx(archive.handle, &ex), E_END_ARCHIVE);
        // The file manager's test looks for an integrity block behind the data; it reads no hole.
        std::vector<int> tested = TestThroughExports(path);
        EXPECT_EQ(tested, std::vector<int>(c.holes.size() + 1, 0));
    }
}

TEST(ExtractionOverAnExistingFile, OnlyACompleteSoundEntryReplacesIt) {
    enum Damage { kNone, kLiteralChanged, kReferenceBroken };
    struct Case {
        const char* label;
        bool compressed;
        Damage damage;
        int stopAfter;   // progress calls answered before a stop; -1 none
        IoFault fault;   // IoFault::Count: none
        int faultAt;
        int result;
        bool replaced;
    } const cases[] = {
        {"sound compressed entry", true, kNone, -1, IoFault::Count, 0, 0, true},
        {"a literal changed half-way: checksum wrong", true, kLiteralChanged, -1, IoFault::Count, 0, E_BAD_ARCHIVE, false},
        {"a reference half-way reaches nowhere", true, kReferenceBroken, -1, IoFault::Count, 0, E_BAD_DATA, false},
        {"compressed, stopped half-way", true, kNone, 100, IoFault::Count, 0, E_EABORTED, false},
        // 3072 steps of 1024 literals, the rest (0), then the verification.
        {"compressed, stopped at the verification", true, kNone, 3073, IoFault::Count, 0, E_EABORTED, false},
        {"compressed, the archive read fails half-way", true, kNone, -1, IoFault::Read, 20, E_EREAD, false},
        {"compressed, a write fails half-way", true, kNone, -1, IoFault::Write, 2, E_EWRITE, false},
        {"stored, the archive read fails half-way", false, kNone, -1, IoFault::Read, 2, E_EREAD, false},
        {"stored, a write fails half-way", false, kNone, -1, IoFault::Write, 2, E_EWRITE, false},
        // The one report of a stored entry comes when it is complete and in place.
        {"stored, stopped at its report", false, kNone, 0, IoFault::Count, 0, E_EABORTED, true},
    };
    const std::vector<unsigned char> plain = hard_inputs::RepeatedRecords(97, 30, 3 * kMiB, 11);
    const std::vector<unsigned char> before = Bytes("the file as it was before the extraction\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        TempDir dir;
        TestArchive layout;
        if (c.compressed) {
            TestRecord r;
            r.name = "entry.txt";
            r.method = kZbkCompressed;
            r.uncompressedSize = static_cast<uint32_t>(plain.size());
            r.data = LiteralTestStream(plain);
            size_t group = 9 * (plain.size() / 16); // the flag byte of the middle group
            if (c.damage == kLiteralChanged) r.data[group + 1] ^= 0x01;
            if (c.damage == kReferenceBroken) r.data[group] = 0xFE, r.data[group + 1] = 0, r.data[group + 2] = 0;
            layout.records.push_back(r);
        } else {
            layout.Stored("entry.txt", plain);
        }
        WriteZbkArchive(dir.File("archive.zbk"), layout);
        std::string target = dir.File("entry.txt");
        WriteFileBytes(target, before);

        OpenArchiveHandle archive(dir.File("archive.zbk"));
        ASSERT_EQ(archive.result, 0);
        tHeaderData header;
        ASSERT_EQ(ReadHeader(archive.handle, &header), 0);
        Progress progress;
        progress.stopAfter = c.stopAfter;
        g_progress = &progress;
        if (c.fault != IoFault::Count) InjectIoFault(c.fault, c.faultAt);
        int result = archive.Extract(target);
        ClearIoFaults();
        EXPECT_EQ(result, c.result);
        EXPECT_TRUE(ReadFileBytes(target) == (c.replaced ? plain : before));
        // Nothing half-written is left beside it either.
        EXPECT_EQ(FolderListing(dir.path()), (std::vector<std::string>{"archive.zbk", "entry.txt"}));
    }
}

TEST(LargeEntries, ExtractThroughManyBufferRefills) {
    struct Case {
        const char* label;
        bool compressed;
        bool kernelCopy;
        int stopAfter; // -1: never
    } const cases[] = {
        {"stored, copied by the system where it can", false, true, -1},
        {"stored, copied through the buffer", false, false, -1},
        {"compressed", true, false, -1},
        // A long stored entry reports while it is copied: a stop there leaves no file.
        {"stored, stopped at its first piece", false, true, 0},
    };
    const std::vector<unsigned char> plain = hard_inputs::RepeatedRecords(97, 30, 24 * kMiB + 12345, 3);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        TempDir dir;
        TestArchive layout;
        // A small entry first, so that the large one starts at an odd offset.
        layout.Stored("small.txt", "s");
        if (c.compressed) layout.Compressed("large.bin", plain);
        else layout.Stored("large.bin", plain);
        WriteZbkArchive(dir.File("archive.zbk"), layout);

        OpenArchiveHandle archive(dir.File("archive.zbk"));
        ASSERT_EQ(archive.result, 0);
        tHeaderData header;
        ASSERT_EQ(ReadHeader(archive.handle, &header), 0);
        ASSERT_EQ(ProcessFile(archive.handle, PK_SKIP, nullptr, nullptr), 0);
        ASSERT_EQ(ReadHeader(archive.handle, &header), 0);
        RefuseKernelCopies(!c.kernelCopy);
        Progress progress;
        progress.stopAfter = c.stopAfter;
        g_progress = &progress;
        int result = archive.Extract(dir.File("large.out"));
        ClearIoFaults();
        if (c.stopAfter >= 0) {
            EXPECT_EQ(result, E_EABORTED);
            EXPECT_EQ(FolderListing(dir.path()), std::vector<std::string>{"archive.zbk"});
            continue;
        }
        ASSERT_EQ(result, 0);
        // The host hears of the entry while it is written, not only at its end.
        EXPECT_GT(progress.calls, static_cast<int>(plain.size() / kLongItemReportBytes));
        EXPECT_TRUE(ReadFileBytes(dir.File("large.out")) == plain);
        // Every byte is reported once, whatever the path it took.
        EXPECT_EQ(progress.bytes, plain.size());
    }
}

} // namespace
