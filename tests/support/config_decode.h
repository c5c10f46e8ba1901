// Runs one configuration manager over bytes written to a scratch file, the way the host
// does (open, read the header, process the entry), and records what came out.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "frame/archive_manager.h"
#include "tests/support/config_writer.h"

namespace cfg {

enum class Variant { kTesk, kKyr };

std::unique_ptr<CKyrArchiveManager> MakeConfigManager(Variant variant);

struct DecodeRun {
    int openResult = -1;
    int headerResult = -1;
    int processResult = -1;
    tHeaderData header = {};
    std::string text;          // the extracted file, when one was written
    bool written = false;
    std::vector<std::pair<std::string, int>> progress; // (text or "<null>", count)
};

// Extract mode: open, ReadHeader, ProcessFile(PK_EXTRACT). abortAt: the progress report
// (counting from 1) whose answer is 0, or 0 for none.
DecodeRun ExtractConfig(Variant variant, const Bytes& bytes, const std::string& fileName = "config.bin",
                        int abortAt = 0);
// List mode: open, ReadHeader.
DecodeRun ListConfig(Variant variant, const Bytes& bytes, const std::string& fileName = "config.bin");

} // namespace cfg
