// The configuration text that decoding a description must give, written from the description
// itself: a second writer of the text forms, kept apart from the plug-in's, so that tests can
// hold any generated configuration against what the decoder makes of its bytes.
#pragma once

#include <string>

#include "tests/support/config_writer.h"

namespace cfg {

// The text of the whole configuration in the second-game layout (tesk) or the first. Its
// constants section is there whenever the description has constants, so a first-game file
// must be written with its table (see WriteConfig).
std::string ConfigText(const ConfigDescription& config, bool tesk, bool comments);

// The description in either layout; a first-game file gets a constants table when the
// description has constants.
Bytes WriteConfig(const ConfigDescription& config, bool tesk);

// The description as encoding its text must give it, byte for byte: in the second-game
// layout with the games' own order of bodies and their subtree ends, in the first with a
// constants table only when there are constants.
Bytes EncodedConfig(const ConfigDescription& config, bool tesk);

} // namespace cfg
