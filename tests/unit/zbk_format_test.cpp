#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "archive/zbk_format.h"
#include "common/string_list.h"
#include "frame/wcx.h"
#include "tests/support/temp_dir.h"
#include "tests/support/zbk_writer.h"

namespace {

struct FileCloser {
    void operator()(FILE* f) const {
        if (f) std::fclose(f);
    }
};
using File = std::unique_ptr<FILE, FileCloser>;

class ZbkHeader : public ::testing::Test {
protected:
    File Open(const std::vector<unsigned char>& bytes) {
        std::string path = dir.File("archive" + std::to_string(serial++) + ".zbk");
        WriteFileBytes(path, bytes);
        return File(std::fopen(path.c_str(), "rb"));
    }
    // The code LoadHeader throws, or 0.
    int LoadCode(const std::vector<unsigned char>& bytes, ZbkEntryList* list) {
        File f = Open(bytes);
        try {
            list->LoadHeader(f.get());
        } catch (int code) {
            return code;
        }
        return 0;
    }
    std::vector<unsigned char> Saved(const ZbkEntryList& list) {
        std::string path = dir.File("saved" + std::to_string(serial++) + ".zbk");
        File f(std::fopen(path.c_str(), "w+b"));
        EXPECT_EQ(list.SaveHeader(f.get()), 0);
        f.reset();
        return ReadFileBytes(path);
    }

    TempDir dir;
    int serial = 0;
};

TEST_F(ZbkHeader, SmallestArchivesReadAndWriteBackByteForByte) {
    TestArchive one;
    one.Stored("a.txt", "hi", 0x5F5E1000);
    const std::vector<unsigned char> expected =
        Hex("61 2E 74 78 74 00  00 00 00 00  00 00 00 00  00 00 00 00  00 10 5E 5F  02 00 00 00"
            "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00  68 69");
    ASSERT_EQ(ToHex(one.Bytes()), ToHex(expected));

    ZbkEntryList list;
    ASSERT_EQ(LoadCode(expected, &list), 0);
    EXPECT_EQ(list.count, 2);
    EXPECT_EQ(list.headerSize, 47u);
    EXPECT_FALSE(list.hasSignature);
    EXPECT_STREQ(list.entries[0]->name, "a.txt");
    EXPECT_EQ(list.entries[0]->timeStamp, 0x5F5E1000u);
    EXPECT_EQ(list.entries[0]->dataSize, 2u);
    EXPECT_EQ(list.DataOffset(0), 47);
    EXPECT_EQ(list.DataOffset(1), -1);
    EXPECT_EQ(list.TotalDataSize(), 2u);
    std::vector<unsigned char> header(expected.begin(), expected.begin() + 47);
    EXPECT_EQ(ToHex(Saved(list)), ToHex(header));

    ZbkEntryList empty;
    ASSERT_EQ(LoadCode(std::vector<unsigned char>(21, 0), &empty), 0);
    EXPECT_EQ(empty.count, 1);
    EXPECT_EQ(empty.headerSize, 21u);
    EXPECT_EQ(empty.TotalDataSize(), 0u);
    EXPECT_EQ(ToHex(Saved(empty)), ToHex(std::vector<unsigned char>(21, 0)));
}

TEST_F(ZbkHeader, SignatureRecordAndBlockRoundTrip) {
    struct Case {
        const char* label;
        std::vector<std::string> strings;
        int blockLength;
    } cases[] = {
        {"empty block", {}, 1},
        {"key and value", {"Packer", "tool 1.0"}, 6 + 1 + 8 + 1 + 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        TestArchive layout;
        layout.Signed(SignatureBlock(c.strings)).Stored("x.bin", "12345");
        ZbkEntryList list;
        ASSERT_EQ(LoadCode(layout.Bytes(), &list), 0);
        EXPECT_TRUE(list.hasSignature);
        EXPECT_EQ(list.signatureLength, c.blockLength);
        EXPECT_EQ(list.headerSize, static_cast<uint32_t>(21 + c.blockLength + 26 + 21));
        EXPECT_EQ(list.DataOffset(0), -1);
        EXPECT_EQ(list.DataOffset(1), static_cast<int64_t>(list.headerSize));
        EXPECT_EQ(list.TotalDataSize(), 5u);
        std::vector<unsigned char> bytes = layout.Bytes();
        EXPECT_EQ(ToHex(Saved(list)), ToHex(std::vector<unsigned char>(bytes.begin(), bytes.begin() + list.headerSize)));

        std::unique_ptr<StringList> strings(list.SignatureStrings());
        ASSERT_TRUE(strings);
        EXPECT_EQ(strings->count, static_cast<int>(c.strings.size()));
    }

    TestArchive signatureOnly;
    signatureOnly.Signed(SignatureBlock({"k", "v"}));
    ZbkEntryList list;
    ASSERT_EQ(LoadCode(signatureOnly.Bytes(), &list), 0);
    EXPECT_EQ(list.headerSize, 21u + 5u + 21u);
    EXPECT_EQ(list.TotalDataSize(), 0u);
}

TEST_F(ZbkHeader, MalformedHeadersAreRefusedWithTheirCodes) {
    TestArchive good;
    good.Signed(SignatureBlock({"key", "value"})).Stored("a.txt", "abc").Stored("b.txt", "de");
    const std::vector<unsigned char> bytes = good.Bytes();

    // Every cut inside the header: within a name, the numbers, the signature block or before the terminator.
    for (uint32_t keep = 0; keep < good.HeaderSize(); ++keep) {
        SCOPED_TRACE("header cut to " + std::to_string(keep) + " bytes");
        ZbkEntryList list;
        EXPECT_EQ(LoadCode(std::vector<unsigned char>(bytes.begin(), bytes.begin() + keep), &list), E_UNKNOWN_FORMAT);
    }

    TestArchive unknownMethod;
    unknownMethod.Stored("a.txt", "abc");
    unknownMethod.records[0].method = 1;
    TestArchive secondSignature = good;
    secondSignature.records[0].method = kZbkVersion;
    TestArchive lateSignature;
    lateSignature.Stored("a.txt", "abc");
    lateSignature.records.push_back(TestRecord{});
    lateSignature.records.back().method = kZbkVersion;
    lateSignature.records.back().afterRecord = SignatureBlock({"k"});
    TestArchive namedTerminatorMethod;
    namedTerminatorMethod.Stored("a.txt", "abc");
    namedTerminatorMethod.terminatorMethod = 1;

    struct Case {
        const char* label;
        std::vector<unsigned char> bytes;
        int code;
    } cases[] = {
        {"named record with method 1", unknownMethod.Bytes(), E_UNKNOWN_FORMAT},
        {"second signature record", secondSignature.Bytes(), E_BAD_DATA},
        {"signature record after a file record", lateSignature.Bytes(), E_BAD_DATA},
        {"method 1 with an empty name ends the header", namedTerminatorMethod.Bytes(), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ZbkEntryList list;
        EXPECT_EQ(LoadCode(c.bytes, &list), c.code);
    }
}

TEST_F(ZbkHeader, NamesUseBackslashesAndAreFoundWithoutRegardToCase) {
    TestArchive layout;
    layout.Stored("data/sub/file.txt", "1").Stored("Other.TXT", "22").Stored("third", "333");
    ZbkEntryList list;
    ASSERT_EQ(LoadCode(layout.Bytes(), &list), 0);
    EXPECT_STREQ(list.entries[0]->name, "data\\sub\\file.txt");
    EXPECT_EQ(list.DataOffset(2), static_cast<int64_t>(list.headerSize) + 3);

    list.current = 2;
    ZbkEntry* found = list.FindEntry("other.txt");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(list.current, 1);
    EXPECT_EQ(list.FindEntry("DATA\\SUB\\FILE.TXT"), list.entries[0]);
    EXPECT_EQ(list.FindEntry("missing"), nullptr);
    EXPECT_EQ(list.current, 0);
    EXPECT_EQ(list.FindEntry(nullptr), nullptr);
    EXPECT_EQ(list.EntryAt(3), list.entries[3]);
    EXPECT_EQ(list.EntryAt(4), nullptr);
    EXPECT_EQ(list.current, 3);
}

TEST(ZbkEntryListBuild, GrowsAndCountsHeaderSize) {
    ZbkEntryList list;
    ASSERT_EQ(list.ReserveEntries(1), 0);
    EXPECT_EQ(list.capacity, 4);
    list.ReserveEntries(4);
    EXPECT_EQ(list.capacity, 4);
    list.ReserveEntries(5);
    EXPECT_EQ(list.capacity, 8);
    list.ReserveEntries(20);
    EXPECT_EQ(list.capacity, 20);

    auto* signature = new ZbkEntry();
    signature->packingMethod = MethodVersion;
    EXPECT_EQ(list.AddEntry(signature), 0);
    EXPECT_TRUE(list.hasSignature);
    auto* file = new ZbkEntry();
    file->name = static_cast<char*>(std::malloc(4));
    std::memcpy(file->name, "abc", 4);
    EXPECT_EQ(list.AddEntry(file), 1);
    EXPECT_EQ(list.headerSize, 21u + 24u);
    EXPECT_EQ(list.AddEntry(nullptr), -1);
    list.ShrinkToFit();
    EXPECT_EQ(list.capacity, 2);

    StringList strings;
    strings.Add("Packer");
    strings.Add("v");
    list.SetSignatureBlock(&strings);
    EXPECT_EQ(list.signatureLength, 10);
    EXPECT_EQ(std::string(list.signatureBlock, 10), std::string("Packer\0v\0\0", 10));
    EXPECT_EQ(list.headerSize, 45u);

    list.ClearEntries();
    EXPECT_EQ(list.count, 0);
    EXPECT_EQ(list.entries, nullptr);
    EXPECT_EQ(list.SignatureStrings(), nullptr);
}

} // namespace
