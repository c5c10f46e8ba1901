// Archives past 2 GiB and 4 GiB that cost no disk: the data blocks of the leading entries
// lie in a hole that the file system keeps unwritten, and only the header and the entries
// behind the hole are real bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/zbk_writer.h"

// Stored records named hole1.bin, hole2.bin, ... of these sizes (each below 4 GiB), whose
// data blocks are left as a hole, in front of the records that `after` holds.
TestArchive HoleArchive(const std::vector<uint32_t>& holeSizes, const TestArchive& after);
// Writes a layout in which every record without data but with a dataSizeOverride is a hole
// of that many bytes; false when the file cannot be written.
bool WriteSparseArchive(const std::string& path, const TestArchive& layout);
// Where a record's data block starts, holes counted.
uint64_t SparseDataOffset(const TestArchive& layout, size_t record);
