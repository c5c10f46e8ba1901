// Reads back what the plug-in wrote: an archive's records, and its entries' contents
// extracted through the exported functions, so that tests compare whole archives.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct ProbedRecord {
    std::string name;
    uint32_t method = 0;
    uint32_t uncompressedSize = 0;
    uint32_t timeStamp = 0;
    uint32_t dataSize = 0;
};

struct ProbedArchive {
    bool ok = false;
    bool signature = false;
    std::vector<unsigned char> signatureBlock;
    std::vector<ProbedRecord> records; // file records only, in file order
    std::vector<unsigned char> header;   // the header's bytes, signature record and block included
    std::vector<unsigned char> trailing; // bytes behind the last entry's data
    // trailing is an integrity block whose digest matches the bytes before it.
    bool sealValid = false;
    std::vector<std::string> Names() const;
};

// Parses the header; ok is false when it is not a well-formed archive.
ProbedArchive ProbeArchive(const std::string& path);
// Every entry's bytes, by name as stored (with '\\'), extracted through the plug-in's exports; an empty
// map when the archive does not open or an extraction fails.
std::map<std::string, std::vector<unsigned char>> ExtractThroughExports(const std::string& path);
// ProcessFile(PK_TEST)'s result for every entry in order, as the file manager tests an
// archive; empty when it does not open.
std::vector<int> TestThroughExports(const std::string& path);
// Names of the files directly in a folder.
std::vector<std::string> FolderListing(const std::string& dir);
