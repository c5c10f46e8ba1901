// Configurations shaped like the files that mods ship: long inheritance chains and deep
// nesting, classes of hundreds of entries, empty classes, arrays of arrays, strings with
// quotes and line breaks, floats of every magnitude, and (second-game layout only) entries
// that delete inherited members. Tests, the fuzz seeds and the decoding benchmark share them.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tests/support/config_writer.h"

namespace cfg {

struct NamedConfig {
    std::string name;
    ConfigDescription config;
};

// Each shape on its own, for the second-game layout (tesk) or the first, which has neither
// external classes nor delete entries.
std::vector<NamedConfig> RealWorldShapes(bool tesk);

// All shapes together, `copies` times, each copy in a class of its own: a file of any size
// that holds what real files hold, in their proportions.
ConfigDescription RealWorldConfig(size_t copies, bool tesk);

} // namespace cfg
