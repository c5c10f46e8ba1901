// Writes the sample configuration files shipped in examples/, one per game layout, with the
// tests' own encoder: kyrzbk_make_examples FOLDER
#include <cstdio>
#include <string>

#include "tests/support/config_samples.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: kyrzbk_make_examples FOLDER\n");
        return 2;
    }
    std::string folder = argv[1];
    cfg::SaveConfig(folder + "/tesk_config.bin", cfg::SampleConfigFile(true));
    cfg::SaveConfig(folder + "/kyr_config.bin", cfg::SampleConfigFile(false));
    return 0;
}
