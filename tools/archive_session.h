// One archive opened through the plug-in's exports, walked in the file manager's order:
// OpenArchive, SetProcessDataProc, ReadHeader/ProcessFile in turn, CloseArchive.
#pragma once

#include <string>

#include "tools/plugin_api.h"

class ArchiveSession {
public:
    ArchiveSession(PluginApi& api, const std::string& path, int openMode);
    ~ArchiveSession();
    ArchiveSession(const ArchiveSession&) = delete;
    ArchiveSession& operator=(const ArchiveSession&) = delete;

    // 0 when the plug-in accepted the archive, else the OpenResult it gave. With
    // showProgress the host's progress line is the archive's callback.
    int Open(bool showProgress);
    // The next header into a cleared record, names in UTF-8 (ReadHeaderExW, or ReadHeader
    // with the ANSI names converted): 0, 10 at the end, or a failure code.
    int NextHeader(tHeaderDataEx* header);
    int Process(int operation, const std::string& destPath, const std::string& destName);
    int Close();

    const std::string& Path() const { return m_path; }

private:
    PluginApi& m_api;
    std::string m_path;
    int m_openMode;
    void* m_handle = nullptr;
};
