#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "tests/support/sample_archive.h"
#include "tests/support/temp_dir.h"

namespace {

// KYRZBK_WRITE_SAMPLE=1 rewrites examples/sample.zbk from the generator.
TEST(SampleArchive, ShippedCopyMatchesItsGenerator) {
    std::string path = SampleArchivePath();
    if (const char* write = std::getenv("KYRZBK_WRITE_SAMPLE"); write && *write == '1')
        WriteZbkArchive(path, SampleArchive());
    if (!FileExists(path)) GTEST_SKIP() << "source tree not reachable from here: " << path;
    EXPECT_EQ(ToHex(ReadFileBytes(path)), ToHex(SampleArchive().Bytes()));
}

// KYRZBK_FUZZ_CORPUS=DIR writes the fuzz targets' seeds into DIR/zbk_archive and DIR/decompress.
TEST(FuzzSeeds, WrittenOnRequest) {
    const char* dir = std::getenv("KYRZBK_FUZZ_CORPUS");
    if (!dir || !*dir) GTEST_SKIP() << "KYRZBK_FUZZ_CORPUS not set";
    struct Target {
        const char* folder;
        std::vector<std::pair<std::string, std::vector<unsigned char>>> seeds;
    } targets[] = {{"zbk_archive", ArchiveSeeds()}, {"decompress", StreamSeeds()}};
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
