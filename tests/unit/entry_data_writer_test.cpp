#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "archive/entry_data_writer.h"
#include "archive/integrity_block.h"
#include "tests/support/hard_inputs.h"
#include "tests/support/reference_compressor.h"
#include "tests/support/temp_dir.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes Noise(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes out(n);
    for (auto& b : out) b = static_cast<unsigned char>(rng());
    return out;
}

Bytes Text(size_t n) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<unsigned char>('a' + (i * 7 + i / 13) % 23);
    return b;
}

int KYR_CALL StopAtOnce(char*, int) { return 0; }

// A file marked for compression goes through the streaming compressor into the archive.
// What cannot be compressed in its record is stored instead, in place of whatever of its
// stream had been written already.
TEST(EntryDataWriter, CompressesIntoTheArchiveOrStoresInstead) {
    constexpr uint64_t kHeader = 100; // bytes before the entry
    const Bytes text = Text(50000), noise = Noise(50000, 4);
    const uint64_t noiseStream = hard_inputs::Compress(reference::CompressBuffer, noise).size();
    ASSERT_GT(noiseStream, noise.size() + 1000);
    struct Row {
        const char* what;
        Bytes file;
        int64_t measuredOff; // the record's size less the file's
        uint64_t streamLimit;
        bool digestFollows;
        tProcessDataProc progress;
        int result;
        uint32_t method; // as the record ends up
    } const rows[] = {
        {"compressed", text, 0, UINT32_MAX, false, nullptr, E_SUCCESS, MethodCompressed},
        {"incompressible, still compressed", noise, 0, UINT32_MAX, false, nullptr, E_SUCCESS, MethodCompressed},
        // More of the stream than the file is long has been written by then.
        {"a stream past its limit with its last write: stored, the archive cut back", noise, 0, noiseStream - 1,
         false, nullptr, E_SUCCESS, MethodStored},
        {"a stream past its limit at once: stored", noise, 0, 10, false, nullptr, E_SUCCESS, MethodStored},
        {"taken back while a digest follows: refused", noise, 0, noiseStream - 1, true, nullptr, E_EWRITE, 0},
        {"two bytes: stored", Bytes{'a', 'b'}, 0, UINT32_MAX, false, nullptr, E_SUCCESS, MethodStored},
        {"the file grew since it was measured", text, -10, UINT32_MAX, false, nullptr, E_EREAD, 0},
        {"the file shrank since it was measured", text, 10, UINT32_MAX, false, nullptr, E_EREAD, 0},
        {"the host stops", text, 0, UINT32_MAX, false, StopAtOnce, E_EABORTED, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TempDir dir;
        const std::string source = dir.File("source.txt"), archivePath = dir.File("a.zbk");
        WriteFileBytes(source, row.file);
        FILE* archive = std::fopen(archivePath.c_str(), "w+b");
        ASSERT_NE(archive, nullptr);
        ASSERT_EQ(std::fwrite(Bytes(kHeader, 'H').data(), 1, kHeader, archive), kHeader);
        DigestFollower follower;
        EntryDataWriter writer(archive, kHeader, row.progress, true);
        writer.LimitStream(row.streamLimit, 4000);
        if (row.digestFollows) {
            ASSERT_TRUE(follower.Start(archivePath, archive));
            writer.Follow(&follower);
        }
        ZbkEntry record;
        record.packingMethod = MethodCompressed;
        record.uncompressedSize = record.dataSize = uint32_t(int64_t(row.file.size()) + row.measuredOff);
        FILE* in = std::fopen(source.c_str(), "rb");
        ASSERT_NE(in, nullptr);
        const int result = writer.WriteFile(in, source, &record);
        std::fclose(in);
        if (row.digestFollows) {
            Sha1Digest digest;
            follower.Finish(&digest);
        }
        std::fclose(archive);
        EXPECT_EQ(result, row.result);
        if (result != E_SUCCESS) continue;
        EXPECT_EQ(record.packingMethod, row.method);
        const Bytes expected =
            row.method == MethodStored ? row.file : hard_inputs::Compress(reference::CompressBuffer, row.file);
        EXPECT_EQ(record.dataSize, expected.size());
        EXPECT_EQ(record.uncompressedSize, row.method == MethodStored ? 0 : row.file.size());
        EXPECT_EQ(writer.Length(), kHeader + expected.size());
        const Bytes written = ReadFileBytes(archivePath);
        ASSERT_EQ(written.size(), kHeader + expected.size());
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), written.begin() + kHeader));
    }
}

} // namespace
