// The sample archive shipped in examples/ and the seed inputs of the fuzz targets, made
// here so that both can be rebuilt from the project's own code.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "tests/support/zbk_writer.h"

// Stored and compressed entries in sub-folders behind a signature record.
TestArchive SampleArchive();
// Where the shipped copy lives in the source tree.
std::string SampleArchivePath();

// Named seed inputs: whole archives, and compressed entry blocks on their own.
std::vector<std::pair<std::string, std::vector<unsigned char>>> ArchiveSeeds();
std::vector<std::pair<std::string, std::vector<unsigned char>>> StreamSeeds();
