#include "tools/archive_session.h"

#include <cstring>
#include <vector>

#include "tools/host.h"

ArchiveSession::ArchiveSession(PluginApi& api, const std::string& path, int openMode)
    : m_api(api), m_path(path), m_openMode(openMode) {}

ArchiveSession::~ArchiveSession() { Close(); }

int ArchiveSession::Open(tProcessDataProc progress) {
    std::vector<char> name = CStringArg(m_path);
    tOpenArchiveData data = {};
    data.ArcName = name.data();
    data.OpenMode = m_openMode;
    m_handle = m_api.OpenArchive(&data);
    if (!m_handle) return data.OpenResult ? data.OpenResult : E_UNKNOWN_FORMAT;
    m_api.SetProcessDataProc(m_handle, progress);
    return 0;
}

int ArchiveSession::NextHeader(tHeaderData* header) {
    std::memset(header, 0, sizeof *header);
    return m_api.ReadHeader(m_handle, header);
}

int ArchiveSession::Process(int operation, const std::string& destPath, const std::string& destName) {
    std::vector<char> path = CStringArg(destPath);
    std::vector<char> name = CStringArg(destName);
    return m_api.ProcessFile(m_handle, operation, destPath.empty() ? nullptr : path.data(),
                             destName.empty() ? nullptr : name.data());
}

int ArchiveSession::Close() {
    int result = 0;
    if (m_handle) result = m_api.CloseArchive(m_handle);
    m_handle = nullptr;
    return result;
}
