#include "tools/archive_session.h"

#include <cstring>
#include <vector>

#include "common/unicode_text.h"
#include "tools/host.h"
#include "tools/plugin_text.h"
#include "tools/progress.h"

namespace {

tProcessDataProc g_relayed = nullptr;

int KYR_CALL RelayProgress(WideChar* text, int count) { return g_relayed ? ForwardWideText(g_relayed, text, count) : 1; }

template <size_t N>
void CopyName(char (&field)[N], const std::string& name) {
    std::strncpy(field, name.c_str(), N - 1);
    field[N - 1] = 0;
}

} // namespace

ArchiveSession::ArchiveSession(PluginApi& api, const std::string& path, int openMode)
    : m_api(api), m_path(path), m_openMode(openMode) {}

ArchiveSession::~ArchiveSession() { Close(); }

int ArchiveSession::Open(tProcessDataProc progress) {
    if (m_api.HasWideFunctions()) {
        std::vector<WideChar> name = WideArg(m_path);
        tOpenArchiveDataW data = {};
        data.ArcName = name.data();
        data.OpenMode = m_openMode;
        m_handle = m_api.OpenArchiveW(&data);
        if (!m_handle) return data.OpenResult ? data.OpenResult : E_UNKNOWN_FORMAT;
        g_relayed = progress;
        m_api.SetProcessDataProcW(m_handle, progress ? RelayProgress : nullptr);
        return 0;
    }
    std::vector<char> name;
    if (!AnsiArg(m_path, &name)) return E_EOPEN;
    tOpenArchiveData data = {};
    data.ArcName = name.data();
    data.OpenMode = m_openMode;
    m_handle = m_api.OpenArchive(&data);
    if (!m_handle) return data.OpenResult ? data.OpenResult : E_UNKNOWN_FORMAT;
    m_api.SetProcessDataProc(m_handle, progress);
    return 0;
}

int ArchiveSession::NextHeader(tHeaderDataEx* header) {
    std::memset(header, 0, sizeof *header);
    if (m_api.HasWideFunctions()) {
        tHeaderDataExW wide = {};
        int result = m_api.ReadHeaderExW(m_handle, &wide);
        std::string name, arcName;
        // A name the host cannot show whole is still listed, marked where it breaks.
        if (!Utf16ToUtf8(wide.FileName, &name)) name = "?";
        if (!Utf16ToUtf8(wide.ArcName, &arcName)) arcName = "?";
        CopyName(header->FileName, name);
        CopyName(header->ArcName, arcName);
        header->PackSize = wide.PackSize;
        header->PackSizeHigh = wide.PackSizeHigh;
        header->UnpSize = wide.UnpSize;
        header->UnpSizeHigh = wide.UnpSizeHigh;
        header->FileTime = wide.FileTime;
        header->FileAttr = wide.FileAttr;
        return result;
    }
    tHeaderData ansi = {};
    int result = m_api.ReadHeader(m_handle, &ansi);
    CopyName(header->FileName, platform::FromArchiveText(ansi.FileName));
    CopyName(header->ArcName, platform::FromArchiveText(ansi.ArcName));
    header->PackSize = static_cast<unsigned int>(ansi.PackSize);
    header->UnpSize = static_cast<unsigned int>(ansi.UnpSize);
    header->FileTime = ansi.FileTime;
    header->FileAttr = ansi.FileAttr;
    return result;
}

int ArchiveSession::NextHeader(tHeaderData* header) {
    tHeaderDataEx full;
    int result = NextHeader(&full);
    std::memset(header, 0, sizeof *header);
    CopyName(header->FileName, full.FileName);
    CopyName(header->ArcName, full.ArcName);
    header->PackSize = static_cast<int>(full.PackSize);
    header->UnpSize = static_cast<int>(full.UnpSize);
    header->FileTime = full.FileTime;
    header->FileAttr = full.FileAttr;
    return result;
}

int ArchiveSession::Process(int operation, const std::string& destPath, const std::string& destName) {
    if (m_api.HasWideFunctions()) {
        std::vector<WideChar> path = WideArg(destPath), name = WideArg(destName);
        return m_api.ProcessFileW(m_handle, operation, destPath.empty() ? nullptr : path.data(),
                                  destName.empty() ? nullptr : name.data());
    }
    std::vector<char> path, name;
    if (!AnsiArg(destPath, &path) || !AnsiArg(destName, &name)) return E_ECREATE;
    return m_api.ProcessFile(m_handle, operation, destPath.empty() ? nullptr : path.data(),
                             destName.empty() ? nullptr : name.data());
}

int ArchiveSession::Close() {
    int result = 0;
    if (m_handle) result = m_api.CloseArchive(m_handle);
    m_handle = nullptr;
    return result;
}

uint64_t PackedBytes(const tHeaderDataEx& header) {
    return static_cast<uint64_t>(header.PackSizeHigh) << 32 | header.PackSize;
}

uint64_t UnpackedBytes(const tHeaderDataEx& header) {
    return static_cast<uint64_t>(header.UnpSizeHigh) << 32 | header.UnpSize;
}

std::vector<ListedEntry> ListEntries(PluginApi& api, const std::string& archive) {
    std::vector<ListedEntry> entries;
    ArchiveSession session(api, archive, PK_OM_LIST);
    if (session.Open(nullptr) != 0) return entries;
    tHeaderDataEx header;
    while (session.NextHeader(&header) == 0) {
        entries.push_back({header.FileName, PackedBytes(header), UnpackedBytes(header)});
        if (session.Process(PK_SKIP, "", "") != 0) break;
    }
    return entries;
}

std::string FoldedName(std::string name) {
    for (char& c : name) {
        if (c == '\\') c = '/';
        else if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    while (!name.empty() && name.back() == '/') name.pop_back();
    return name;
}
