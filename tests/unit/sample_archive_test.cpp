#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "tests/support/hard_inputs.h"
#include "tests/support/sample_archive.h"
#include "tests/support/temp_dir.h"

namespace {

// The hard inputs at 1 MiB, behind compress_fuzz's first byte (even: a file behind the
// space prefix).
std::vector<std::pair<std::string, std::vector<unsigned char>>> CompressSeeds() {
    std::vector<std::pair<std::string, std::vector<unsigned char>>> seeds;
    for (hard_inputs::Input& input : hard_inputs::Adversarial(1 << 20)) {
        std::vector<unsigned char> seed{0};
        seed.insert(seed.end(), input.bytes.begin(), input.bytes.end());
        std::string name = input.name;
        for (char& ch : name) ch = ch == ' ' ? '_' : ch;
        seeds.emplace_back(name, std::move(seed));
    }
    return seeds;
}

// KYRZBK_WRITE_SAMPLE=1 rewrites examples/sample.zbk from the generator.
TEST(SampleArchive, ShippedCopyMatchesItsGenerator) {
    std::string path = SampleArchivePath();
    if (const char* write = std::getenv("KYRZBK_WRITE_SAMPLE"); write && *write == '1')
        WriteZbkArchive(path, SampleArchive());
    if (!FileExists(path)) GTEST_SKIP() << "source tree not reachable from here: " << path;
    EXPECT_EQ(ToHex(ReadFileBytes(path)), ToHex(SampleArchive().Bytes()));
}

// KYRZBK_FUZZ_CORPUS=DIR writes the fuzz targets' seeds into DIR/zbk_archive, DIR/decompress
// and DIR/compress.
TEST(FuzzSeeds, WrittenOnRequest) {
    const char* dir = std::getenv("KYRZBK_FUZZ_CORPUS");
    if (!dir || !*dir) GTEST_SKIP() << "KYRZBK_FUZZ_CORPUS not set";
    struct Target {
        const char* folder;
        std::vector<std::pair<std::string, std::vector<unsigned char>>> seeds;
    } targets[] = {{"zbk_archive", ArchiveSeeds()}, {"decompress", StreamSeeds()}, {"compress", CompressSeeds()}};
    for (const Target& t : targets) {
        std::filesystem::path folder = std::filesystem::path(dir) / t.folder;
        std::filesystem::create_directories(folder);
        for (const auto& seed : t.seeds) {
            std::string path = (folder / seed.first).string();
            WriteFileBytes(path, seed.second);
            EXPECT_EQ(ReadFileBytes(path), seed.second);
        }
    }
}

} // namespace
