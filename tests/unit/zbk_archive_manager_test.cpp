#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "archive/zbk_archive_manager.h"
#include "frame/exports.h"
#include "platform/platform.h"
#include "tests/support/temp_dir.h"
#include "tests/support/zbk_writer.h"

namespace {

std::vector<std::pair<std::string, int>>* g_calls = nullptr;
int g_answer = 1;

int KYR_CALL Record(char* text, int count) {
    if (g_calls) g_calls->emplace_back(text ? text : "", count);
    return g_answer;
}

std::string HostName(std::string archiveName) {
    platform::ToHostSeparators(&archiveName[0]);
    return archiveName;
}

class ZbkArchive : public ::testing::Test {
protected:
    ~ZbkArchive() override {
        if (handle) CloseArchive(handle);
        g_calls = nullptr;
        g_answer = 1;
    }
    std::string Write(const std::vector<unsigned char>& bytes, const std::string& name = "archive.zbk") {
        std::string path = dir.File(name);
        WriteFileBytes(path, bytes);
        return path;
    }
    // Opens through the exports; the OpenResult.
    int Open(const std::string& path) {
        arcName = path;
        tOpenArchiveData data = {};
        data.ArcName = &arcName[0];
        data.OpenMode = PK_OM_EXTRACT;
        data.OpenResult = -1;
        handle = OpenArchive(&data);
        EXPECT_EQ(handle != nullptr, data.OpenResult == 0);
        if (handle) SetProcessDataProc(handle, Record);
        return data.OpenResult;
    }
    int Next(tHeaderData* header) {
        std::memset(header, 0, sizeof *header);
        return ReadHeader(handle, header);
    }
    int Extract(const std::string& target) { return ProcessFile(handle, PK_EXTRACT, nullptr, &(target2 = target)[0]); }
    // Every entry's host name, by ReadHeader and the given operation.
    std::vector<std::string> Walk(int operation) {
        std::vector<std::string> names;
        tHeaderData header;
        while (Next(&header) == 0) {
            names.push_back(header.FileName);
            EXPECT_EQ(ProcessFile(handle, operation, nullptr, nullptr), 0);
        }
        return names;
    }

    TempDir dir;
    std::string arcName, target2;
    void* handle = nullptr;
};

TEST_F(ZbkArchive, OpenVerdicts) {
    TestArchive one;
    one.Stored("a.txt", "hi", 0x5F5E1000);
    TestArchive signatureOnly;
    signatureOnly.Signed(SignatureBlock({"Packer", "x"}));
    TestArchive huge;
    huge.Stored("a", "x").Stored("b", "y");
    huge.records[0].dataSizeOverride = 0xFFFFFFFF;
    huge.records[1].dataSizeOverride = 0xFFFFFFFF;
    TestArchive late;
    late.Stored("a.txt", "abc");
    late.records.push_back(TestRecord{});
    late.records.back().method = kZbkVersion;

    struct Case {
        const char* label;
        std::vector<unsigned char> bytes;
        int openResult;
        int firstHeader = E_END_ARCHIVE;
    } cases[] = {
        {"terminator only (21 bytes)", std::vector<unsigned char>(21, 0), 0},
        {"signature record, no file", signatureOnly.Bytes(), 0},
        {"one stored file (49 bytes)", one.Bytes(), 0, 0},
        {"data area one byte short", DropTail(one.Bytes(), 1), E_BAD_DATA},
        {"data area one byte longer", [&] { auto b = one.Bytes(); b.push_back(7); return b; }(), 0, 0},
        {"sizes whose sum passes 32 bits", huge.Bytes(), E_BAD_DATA},
        {"header cut inside a record", DropTail(one.Bytes(), 10), E_UNKNOWN_FORMAT},
        {"signature record after a file", late.Bytes(), E_BAD_DATA},
        {"text file", Bytes("just some text without a zero byte"), E_UNKNOWN_FORMAT},
        {"empty file", {}, E_UNKNOWN_FORMAT},
    };
    int serial = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(Open(Write(c.bytes, "case" + std::to_string(serial++) + ".dat")), c.openResult);
        if (handle) {
            tHeaderData header;
            EXPECT_EQ(Next(&header), c.firstHeader);
            EXPECT_EQ(CloseArchive(handle), 0);
            handle = nullptr;
        }
    }
    EXPECT_EQ(Open(dir.File("missing.zbk")), E_EOPEN);
}

TEST_F(ZbkArchive, RecognisedByContentWhateverTheName) {
    TestArchive layout;
    layout.Stored("a.txt", "hi");
    std::string archive = Write(layout.Bytes(), "looks-like.txt");
    std::string text = Write(Bytes("plain text"), "looks-like.zbk");
    EXPECT_TRUE(CanYouHandleThisFile(&archive[0]));
    EXPECT_FALSE(CanYouHandleThisFile(&text[0]));
    CZbkArchiveManager manager;
    EXPECT_FALSE(manager.CanYouHandleThisFile(nullptr));
    EXPECT_TRUE(manager.CanYouHandleThisFile(&archive[0]));
    EXPECT_TRUE(manager.CanYouHandleThisFile(&text[0])); // the file already open answers
}

TEST_F(ZbkArchive, ListingSkipsTheSignatureAndFillsFiveFields) {
    std::string stored100(100, 's');
    std::string longName(300, 'n');
    TestArchive layout;
    layout.Signed(SignatureBlock({"Packer", "x"}))
        .Stored("dir/a.txt", stored100, 0x5F5E1000)
        .Compressed("dir\\sub\\b.txt", std::string(5000, 'b'), 86400 * 365)
        .Stored(longName, "z");
    ASSERT_EQ(Open(Write(layout.Bytes())), 0);

    tHeaderData header;
    std::memset(&header, 0x5A, sizeof header);
    ASSERT_EQ(ReadHeader(handle, &header), 0);
    EXPECT_STREQ(header.FileName, HostName("dir\\a.txt").c_str());
    EXPECT_EQ(header.PackSize, 100);
    EXPECT_EQ(header.UnpSize, 100);
    EXPECT_EQ(header.FileAttr, static_cast<int>(platform::HostFileAttribute()));
    time_t t = 0x5F5E1000;
    struct tm local = *std::localtime(&t);
    int dos = (local.tm_sec / 2) | local.tm_min << 5 | local.tm_hour << 11 | local.tm_mday << 16 |
              (local.tm_mon + 1) << 21 | (local.tm_year - 80) << 25;
    EXPECT_EQ(header.FileTime, platform::HostTimeIsUnixSeconds() ? 0x5F5E1000 : dos);
    // Fields the manager does not own keep what the host put there.
    tHeaderData pattern;
    std::memset(&pattern, 0x5A, sizeof pattern);
    EXPECT_EQ(header.Flags, pattern.Flags);
    EXPECT_EQ(header.HostOS, pattern.HostOS);
    EXPECT_EQ(header.FileCRC, pattern.FileCRC);
    EXPECT_EQ(header.UnpVer, pattern.UnpVer);
    EXPECT_EQ(header.Method, pattern.Method);
    EXPECT_EQ(std::memcmp(header.ArcName, pattern.ArcName, sizeof header.ArcName), 0);
    // ReadHeader does not move the listing position.
    ASSERT_EQ(ReadHeader(handle, &header), 0);
    EXPECT_EQ(header.PackSize, 100);

    EXPECT_EQ(ProcessFile(handle, PK_SKIP, nullptr, nullptr), 0);
    ASSERT_EQ(Next(&header), 0);
    EXPECT_STREQ(header.FileName, HostName("dir\\sub\\b.txt").c_str());
    EXPECT_EQ(header.PackSize, static_cast<int>(layout.records[1].data.size()));
    EXPECT_EQ(header.UnpSize, 5000);

    EXPECT_EQ(ProcessFile(handle, 3, nullptr, nullptr), E_NOT_SUPPORTED);
    ASSERT_EQ(Next(&header), 0);
    EXPECT_EQ(header.UnpSize, 5000); // operation 3 did not move on

    EXPECT_EQ(ProcessFile(handle, PK_TEST, nullptr, nullptr), 0);
    std::memset(&header, 0x5A, sizeof header);
    ASSERT_EQ(ReadHeader(handle, &header), 0);
    EXPECT_EQ(std::string(header.FileName), std::string(259, 'n'));
    EXPECT_EQ(header.Flags, pattern.Flags); // nothing written past the name field

    EXPECT_EQ(ProcessFile(handle, PK_SKIP, nullptr, nullptr), 0);
    EXPECT_EQ(Next(&header), E_END_ARCHIVE);
    EXPECT_EQ(ProcessFile(handle, PK_SKIP, nullptr, nullptr), 0);
    EXPECT_EQ(Next(&header), E_END_ARCHIVE);
    EXPECT_EQ(ReadHeader(handle, nullptr), E_BAD_DATA);
}

TEST_F(ZbkArchive, TestWalksLikeSkip) {
    TestArchive layout;
    layout.Stored("a", "1").Compressed("b", "bbbbbbbbbb").Stored("c", "");
    std::string path = Write(layout.Bytes());
    ASSERT_EQ(Open(path), 0);
    std::vector<std::string> skipped = Walk(PK_SKIP);
    CloseArchive(handle);
    ASSERT_EQ(Open(path), 0);
    EXPECT_EQ(Walk(PK_TEST), skipped);
    EXPECT_EQ(skipped, (std::vector<std::string>{"a", "b", "c"}));
}

TEST_F(ZbkArchive, ExtractsStoredCompressedAndEmptyEntries) {
    std::string text;
    for (int i = 0; i < 400; ++i) text += "row " + std::to_string(i % 13) + ";";
    std::vector<unsigned char> binary;
    for (int i = 0; i < 3000; ++i) binary.push_back(static_cast<unsigned char>(i * i));
    TestArchive layout;
    layout.Stored("stored.bin", binary).Compressed("packed.txt", text).Stored("empty.txt", "");
    ASSERT_EQ(Open(Write(layout.Bytes())), 0);
    std::string stale = dir.File("empty.out");
    WriteFileText(stale, "old content");

    EXPECT_EQ(Extract(dir.File("stored.out")), 0);
    EXPECT_EQ(Extract(dir.File("packed.out")), 0);
    EXPECT_EQ(Extract(stale), 0);
    EXPECT_EQ(ReadFileBytes(dir.File("stored.out")), binary);
    EXPECT_EQ(ReadFileText(dir.File("packed.out")), text);
    EXPECT_EQ(ReadFileText(stale), "");
    tHeaderData header;
    EXPECT_EQ(Next(&header), E_END_ARCHIVE);
}

TEST_F(ZbkArchive, DestPathAndDestNameAreJoinedAsTheyCome) {
    TestArchive layout;
    layout.Stored("a.txt", "one").Stored("b.txt", "two");
    ASSERT_EQ(Open(Write(layout.Bytes())), 0);
    std::string destPath = dir.File("out"), destName = "a.txt";
    EXPECT_EQ(ProcessFile(handle, PK_EXTRACT, &destPath[0], &destName[0]), 0);
    EXPECT_EQ(ReadFileText(dir.File("outa.txt")), "one");
    std::string full = dir.File("b.txt");
    EXPECT_EQ(ProcessFile(handle, PK_EXTRACT, nullptr, &full[0]), 0);
    EXPECT_EQ(ReadFileText(full), "two");
}

TEST_F(ZbkArchive, FailedExtractionsMoveOnAndWriteNothing) {
    TestArchive layout;
    layout.Compressed("bad-sum.txt", "checksum will not match").Compressed("damaged.txt", "a reference will be broken");
    layout.Stored("short-read.bin", "").Stored("good.txt", "fine");
    layout.records[0].data[layout.records[0].data.size() - 4] ^= 1;
    layout.records[1].data[1] = 0xFF; // literal bits cleared below make the first token a reference
    layout.records[1].data[0] = 0x00;
    layout.records[1].data[2] = 0x0F; // distance far beyond the window
    // A stored entry without a data block whose uncompressedSize points past the end of the file.
    layout.records[2].uncompressedSize = 1000;
    ASSERT_EQ(Open(Write(layout.Bytes())), 0);

    struct Case {
        const char* target;
        int result;
    } cases[] = {{"bad-sum.out", E_BAD_ARCHIVE}, {"damaged.out", E_BAD_DATA}, {"short.out", E_EREAD}, {"good.out", 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        EXPECT_EQ(Extract(dir.File(c.target)), c.result);
        EXPECT_EQ(FileExists(dir.File(c.target)), c.result == 0);
    }
    EXPECT_EQ(ReadFileText(dir.File("good.out")), "fine");
}

TEST_F(ZbkArchive, ProgressAndAbortDuringExtraction) {
    std::string text(3000, 'q');
    TestArchive layout;
    layout.Stored("dir/stored.txt", "0123456789").Compressed("packed.txt", text).Stored("again.txt", "x").Compressed(
        "again-packed.txt", text);
    ASSERT_EQ(Open(Write(layout.Bytes())), 0);
    std::vector<std::pair<std::string, int>> calls;
    g_calls = &calls;

    EXPECT_EQ(Extract(dir.File("stored.out")), 0);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0], std::make_pair(std::string("dir\\stored.txt"), 10));
    calls.clear();
    EXPECT_EQ(Extract(dir.File("packed.out")), 0);
    ASSERT_EQ(calls.size(), 4u); // two steps, the final report, the verification
    EXPECT_EQ(calls[3].first, "Verifying extracted data ...");

    g_answer = 0;
    EXPECT_EQ(Extract(dir.File("again.out")), E_EABORTED);
    EXPECT_EQ(ReadFileText(dir.File("again.out")), "x"); // a stored entry is written before the report
    EXPECT_EQ(Extract(dir.File("again-packed.out")), E_EABORTED);
    EXPECT_FALSE(FileExists(dir.File("again-packed.out")));
}

TEST_F(ZbkArchive, ExtractedFilesCarryTheirEntrysTime) {
    const uint32_t kAfter2038 = 4000000000u; // 2096-10-02 07:06:40 UTC
    TestArchive layout;
    layout.Stored("stored.txt", "abc", 0x5F5E1001)
        .Compressed("packed.txt", std::string(3000, 'p'), kAfter2038)
        .Stored("empty.txt", "", 1700000000)
        .Stored("no-time.txt", "n", 0);
    ASSERT_EQ(Open(Write(layout.Bytes())), 0);
    struct Case {
        const char* target;
        uint32_t time; // 0: the time of extraction
    } const cases[] = {{"stored.out", 0x5F5E1001}, {"packed.out", kAfter2038}, {"empty.out", 1700000000},
                       {"no-time.out", 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        tHeaderData header;
        ASSERT_EQ(Next(&header), 0);
        int64_t before = static_cast<int64_t>(std::time(nullptr));
        ASSERT_EQ(Extract(dir.File(c.target)), 0);
        platform::FoundFile found;
        ASSERT_TRUE(platform::FindFile(dir.File(c.target).c_str(), &found));
        if (c.time != 0) {
            EXPECT_EQ(found.writeTime, static_cast<int64_t>(c.time)); // odd seconds too
        } else {
            EXPECT_GE(found.writeTime, before - 2);
            EXPECT_LE(found.writeTime, static_cast<int64_t>(std::time(nullptr)) + 2);
        }
    }
}

TEST(ZbkArchiveManager, SupportsCapabilities) {
    CZbkArchiveManager manager;
    for (int flags : {0, 1, 2, 8, 1 | 4, 2 | 4, 1 | 8, 2 | 64, 0x4F}) {
        SCOPED_TRACE(flags);
        EXPECT_TRUE(manager.SupportsCapability(flags));
    }
    for (int flags : {16, 32, 1 | 16, 2 | 32, 128, 1 | 256}) {
        SCOPED_TRACE(flags);
        EXPECT_FALSE(manager.SupportsCapability(flags));
    }
    EXPECT_STREQ(manager.ClassName(), "CZbkArchiveManager");
    EXPECT_EQ(manager.OpenArchive(nullptr), nullptr);
}

} // namespace
