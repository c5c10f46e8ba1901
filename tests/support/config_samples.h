// Configurations that several tests, the benchmark and the shipped examples share.
#pragma once

#include <cstddef>
#include <string>

#include "tests/support/config_writer.h"

namespace cfg {

// A constant MAXVAL = 5; version = 3; class Vehicle : Base holding name = "Car" and
// colors[] = {1.5, {2, 3}}; and the external class Base. Second-game layout only.
ConfigDescription WorkedExample();
// Its text, with or without the comment lines.
std::string WorkedExampleText(bool comments);

// A small vehicle-and-weapon configuration that uses every construct both layouts share:
// constants, nested classes with and without bases, empty classes, every value and element
// kind, nested arrays, quotes inside strings and repeated strings.
ConfigDescription SampleConfig();
// Its text with comments, in the second-game layout (tesk) or the first-game layout, whose
// constants table it is written with; the two differ only in classes without entries.
std::string SampleConfigText(bool tesk);
// The sample in either layout, as shipped in examples/, laid out as encoding its text
// lays it out.
Bytes SampleConfigFile(bool tesk);

// A deterministic configuration of `units` classes of ordinary size (a value of each kind,
// an array with a nested class and array), in file order.
ConfigDescription GeneratedConfig(size_t units);

} // namespace cfg
