#include "tests/support/sample_archive.h"

#include "tests/support/temp_dir.h"
#include "tests/support/test_stream_encoder.h"

namespace {

constexpr unsigned kSampleTime = 1700000000; // 2023-11-14 22:13:20 UTC

std::string IntroText() {
    std::string text =
        "This archive was written by the kyrzbk test support to show the plug-in at work.\r\n"
        "Its entries are stored or compressed; every compressed entry ends in a byte sum\r\n"
        "that extraction checks.\r\n\r\n";
    for (int i = 1; i <= 40; ++i)
        text += "Step " + std::to_string(i) + ": the reader expands back-references into a window of 4095 bytes.\r\n";
    return text;
}

std::string TableText() {
    std::string text = "id;name;x;y;z\r\n";
    for (int i = 0; i < 200; ++i)
        text += std::to_string(i) + ";item" + std::to_string(i % 17) + ";" + std::to_string(i * 3 % 101) + ";" +
                std::to_string(i * 7 % 53) + ";0\r\n";
    return text;
}

std::vector<unsigned char> ByteRamp() {
    std::vector<unsigned char> bytes;
    for (int i = 0; i < 512; ++i) bytes.push_back(static_cast<unsigned char>(i * 37 + (i >> 8)));
    return bytes;
}

} // namespace

TestArchive SampleArchive() {
    TestArchive layout;
    layout.Signed(SignatureBlock({"Packer", "kyrzbk sample"}))
        .Stored("readme.txt", "A sample archive for the kyrzbk demo.\r\n", kSampleTime)
        .Compressed("scripts\\intro.txt", IntroText(), kSampleTime + 60)
        .Compressed("data\\table.csv", TableText(), kSampleTime + 120)
        .Stored("data\\bytes.bin", ByteRamp(), kSampleTime + 180);
    return layout;
}

std::string SampleArchivePath() {
    // This file lies in tests/support/ of the source tree.
    std::string here = __FILE__;
    for (int up = 0; up < 3; ++up) {
        size_t cut = here.find_last_of("/\\");
        here = cut == std::string::npos ? "." : here.substr(0, cut);
    }
    return here + "/examples/sample.zbk";
}

std::vector<std::pair<std::string, std::vector<unsigned char>>> ArchiveSeeds() {
    TestArchive one;
    one.Stored("a.txt", "hi", 0x5F5E1000);
    TestArchive mixed;
    mixed.Stored("dir/a.txt", "stored data").Compressed("b.txt", IntroText()).Stored("empty", "");
    TestArchive badSum = mixed;
    badSum.records[1].data.back() ^= 0x55;
    TestArchive sealed = mixed;
    sealed.Signed(SignatureBlock({"prefix", "my\\mod", "Packer", "other"})).sealed = true;
    std::vector<unsigned char> badSeal = sealed.Bytes();
    badSeal[sealed.DataOffset(0)] ^= 1;
    return {
        {"empty", std::vector<unsigned char>(21, 0)},
        {"one-stored", one.Bytes()},
        {"sample", SampleArchive().Bytes()},
        {"mixed", mixed.Bytes()},
        {"bad-checksum", badSum.Bytes()},
        {"short-data", DropTail(one.Bytes(), 1)},
        {"signature-only", TestArchive().Signed(SignatureBlock({"k", "v"})).Bytes()},
        {"sealed", sealed.Bytes()},
        {"seal-mismatch", badSeal},
    };
}

std::vector<std::pair<std::string, std::vector<unsigned char>>> StreamSeeds() {
    return {
        {"abc", Hex("07 41 42 43 C6 00 00 00")},
        {"prefix-reference", Hex("02 01 00 58 B8 00 00 00")},
        {"full-group", Hex("FF 41 42 43 44 45 46 47 48 00 24 02 00 00")},
        {"run", Hex("01 41 01 0F 01 0F 01 00 28 0A 00 00")},
        {"intro", EncodeTestStream(Bytes(IntroText()))},
        {"table", EncodeTestStream(Bytes(TableText()))},
        {"ramp", EncodeTestStream(ByteRamp())},
    };
}
