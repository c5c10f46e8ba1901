// Writes the sample configuration files shipped in examples/, and the seed corpus of the fuzz
// targets, with the tests' own encoder:
//   kyrzbk_make_examples examples FOLDER
//   kyrzbk_make_examples corpus FOLDER   (makes FOLDER/tesk, FOLDER/kyr, FOLDER/settings, FOLDER/text)
#include <cstdio>
#include <filesystem>
#include <string>

#include "tests/support/config_samples.h"
#include "tests/support/config_text.h"
#include "tests/support/config_shapes.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace cfg;

void WriteCorpus(const std::string& folder) {
    namespace fs = std::filesystem;
    for (const char* sub : {"tesk", "kyr", "settings", "text"}) fs::create_directories(fs::path(folder) / sub);
    auto tesk = [&](const std::string& name, const Bytes& b) { SaveConfig(folder + "/tesk/" + name, b); };
    auto kyr = [&](const std::string& name, const Bytes& b) { SaveConfig(folder + "/kyr/" + name, b); };

    ConfigDescription minimal;
    minimal.root.entries = {IntValue("a", 5)};
    tesk("minimal", WriteTeskConfig(minimal));
    kyr("minimal", WriteKyrConfig(minimal));
    tesk("worked_example", WriteTeskConfig(WorkedExample()));
    tesk("sample", SampleConfigFile(true));
    kyr("sample", SampleConfigFile(false));
    TeskLayout reversed, before, constantsFirst;
    reversed.order = BodyOrder::kReversed;
    before.order = BodyOrder::kBeforeRoot;
    constantsFirst.constantsFirst = true;
    constantsFirst.extraDistance = 3;
    tesk("sample_reversed", WriteTeskConfig(SampleConfig(), reversed));
    tesk("sample_bodies_first", WriteTeskConfig(SampleConfig(), before));
    tesk("sample_constants_first", WriteTeskConfig(SampleConfig(), constantsFirst));
    ConfigDescription nested;
    nested.root.entries = {ArrayEntry("n", {Arr({Arr({Num(1), Str("q\"q")}), Flt(-2.5f)})}),
                           ClassEntry("A", "B", {ClassEntry("C", "", {StringValue("s", "x")})})};
    tesk("nested", WriteTeskConfig(nested));
    kyr("nested", WriteKyrConfig(nested));
    for (const NamedConfig& shape : RealWorldShapes(true)) tesk("shape_" + shape.name, WriteConfig(shape.config, true));
    for (const NamedConfig& shape : RealWorldShapes(false)) kyr("shape_" + shape.name, WriteConfig(shape.config, false));

    // Configuration text, as decoding writes it and as hands edit it.
    auto text = [&](const std::string& name, const std::string& t) { WriteFileText(folder + "/text/" + name, t); };
    text("worked_example", ConfigText(WorkedExample(), true, true));
    text("sample", ConfigText(SampleConfig(), true, false));
    for (const NamedConfig& shape : RealWorldShapes(true)) text("shape_" + shape.name, ConfigText(shape.config, true, true));
    text("by_hand", "// notes\n#define LIMIT 0x10\nclass Base;\nclass A : Base { x = 1.5e3; s = \"a\"\"b\";\n"
                    "  list[] = {{}, {-1, .5}, \"two\r\nlines\"}; /* gone */ delete y; };\r\nclass E {};\n");

    WriteFileText(folder + "/settings/host_file",
                  "[Configuration]\r\nInstallDir=C:\\FM\r\n; note\r\n\r\n[PackerPlugins]\r\nzbk=95,kyrzbk.wcx\r\n\r\n"
                  "[KYRZBK_HLV]\r\nUseCompression=0\r\n;inside\r\nCompressFormats= txt ; ;cpp,,\r\n"
                  "ZbkSignatureSuffixKey=Tool\r\nUnknown=1\r\n\r\n[Lister]\r\n  Wrap = 1  \n[KYRZBK_HLV]\r\nCompressAll=1");
    // Found by fuzzing: NUL bytes, lone CRs, a bracket inside a line, a damaged duplicate key,
    // and a format list that loads empty.
    const char damaged[] = "[Configuzbk=695,kyrzbk.wcx\r\n\r\n[KYRZBK_HLV]\r\nUseCompression=5\r\n;inside\r\n"
                           "CompressFormats=  ;\0\0\n\n\n\xc4"
                           "cptxt[KssFormats= tx ; ;cpt ;p ;cpp,,\r\r ;cp";
    WriteFileText(folder + "/settings/damaged", std::string(damaged, sizeof damaged - 1));
    WriteFileText(folder + "/settings/own_section_only",
                  "[KYRZBK_HLV]\nUseCompression=1\nCompressAll=0\nCompressFormats=a,b\nForceZbkSignature=1\n"
                  "KeepOriginalSignatureSuffix=1\nZbkSignatureSuffixKey=k\nZbkSignatureSuffixValue=v\nWriteCppComments=0\n");
}

} // namespace

int main(int argc, char** argv) {
    std::string mode = argc == 3 ? argv[1] : "";
    if (mode == "examples") {
        std::string folder = argv[2];
        SaveConfig(folder + "/tesk_config.bin", SampleConfigFile(true));
        SaveConfig(folder + "/kyr_config.bin", SampleConfigFile(false));
        return 0;
    }
    if (mode == "corpus") {
        WriteCorpus(argv[2]);
        return 0;
    }
    std::fprintf(stderr, "usage: kyrzbk_make_examples examples|corpus FOLDER\n");
    return 2;
}
