// One archive opened through the plug-in's exports, walked in the file manager's order:
// OpenArchive, SetProcessDataProc, ReadHeader/ProcessFile in turn, CloseArchive.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/plugin_api.h"

class ArchiveSession {
public:
    ArchiveSession(PluginApi& api, const std::string& path, int openMode);
    ~ArchiveSession();
    ArchiveSession(const ArchiveSession&) = delete;
    ArchiveSession& operator=(const ArchiveSession&) = delete;

    // 0 when the plug-in accepted the archive, else the OpenResult it gave. The callback
    // gets UTF-8 text; through the wide functions it is reached by a relay, which serves
    // the session opened last.
    int Open(tProcessDataProc progress);
    // The next header into a cleared record, names in UTF-8 (ReadHeaderExW, or ReadHeader
    // with the ANSI names converted): 0, 10 at the end, or a failure code.
    int NextHeader(tHeaderDataEx* header);
    // The same in the short record, names cut to its 259 bytes.
    int NextHeader(tHeaderData* header);
    int Process(int operation, const std::string& destPath, const std::string& destName);
    int Close();

    const std::string& Path() const { return m_path; }

private:
    PluginApi& m_api;
    std::string m_path;
    int m_openMode;
    void* m_handle = nullptr;
};

// An entry's sizes as listing gives them: the Ex record's two halves, 64-bit.
uint64_t PackedBytes(const tHeaderDataEx& header);
uint64_t UnpackedBytes(const tHeaderDataEx& header);

struct ListedEntry {
    std::string name;
    uint64_t packedBytes;
    uint64_t unpackedBytes;
};
// Every entry of the archive as listing shows it; none when it cannot be opened.
std::vector<ListedEntry> ListEntries(PluginApi& api, const std::string& archive);

// A name as archive lookups compare it: letter case and the kind of separator do not
// matter, nor separators at its end.
std::string FoldedName(std::string name);
