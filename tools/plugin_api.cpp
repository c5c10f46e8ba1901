#include "tools/plugin_api.h"

#include <cstring>

#include "common/multi_string.h"
#include "tools/plugin_text.h"
#include "tools/progress.h"

PluginApi::~PluginApi() { platform::CloseLibraryFile(m_library); }

namespace {
template <typename Fn>
bool Bind(void* library, const char* name, Fn* slot, std::string* missing) {
    *slot = reinterpret_cast<Fn>(platform::LibrarySymbol(library, name));
    if (!*slot) *missing = name;
    return *slot != nullptr;
}
} // namespace

bool PluginApi::Load(const std::string& path, std::string* error) {
    std::string reason;
    m_library = platform::LoadLibraryFile(path.c_str(), &reason);
    if (!m_library) {
        *error = "cannot load plug-in " + path + ": " + reason;
        return false;
    }
    std::string missing;
    bool ok = Bind(m_library, "OpenArchive", &OpenArchive, &missing) &&
              Bind(m_library, "ReadHeader", &ReadHeader, &missing) &&
              Bind(m_library, "ProcessFile", &ProcessFile, &missing) &&
              Bind(m_library, "CloseArchive", &CloseArchive, &missing) &&
              Bind(m_library, "PackFiles", &PackFiles, &missing) &&
              Bind(m_library, "DeleteFiles", &DeleteFiles, &missing) &&
              Bind(m_library, "GetPackerCaps", &GetPackerCaps, &missing) &&
              Bind(m_library, "ConfigurePacker", &ConfigurePacker, &missing) &&
              Bind(m_library, "CanYouHandleThisFile", &CanYouHandleThisFile, &missing) &&
              Bind(m_library, "PackSetDefaultParams", &PackSetDefaultParams, &missing) &&
              Bind(m_library, "SetChangeVolProc", &SetChangeVolProc, &missing) &&
              Bind(m_library, "SetProcessDataProc", &SetProcessDataProc, &missing);
    if (!ok) {
        *error = "plug-in " + path + " does not export " + missing;
        return false;
    }
    // A plug-in of the older interface has none of them; one with only some is used as such.
    bool wide = Bind(m_library, "OpenArchiveW", &OpenArchiveW, &missing) &&
                Bind(m_library, "ReadHeaderExW", &ReadHeaderExW, &missing) &&
                Bind(m_library, "ProcessFileW", &ProcessFileW, &missing) &&
                Bind(m_library, "PackFilesW", &PackFilesW, &missing) &&
                Bind(m_library, "DeleteFilesW", &DeleteFilesW, &missing) &&
                Bind(m_library, "CanYouHandleThisFileW", &CanYouHandleThisFileW, &missing) &&
                Bind(m_library, "SetChangeVolProcW", &SetChangeVolProcW, &missing) &&
                Bind(m_library, "SetProcessDataProcW", &SetProcessDataProcW, &missing);
    if (!wide) UseAnsiOnly();
    return true;
}

void PluginApi::UseAnsiOnly() {
    OpenArchiveW = nullptr;
    ReadHeaderExW = nullptr;
    ProcessFileW = nullptr;
    PackFilesW = nullptr;
    DeleteFilesW = nullptr;
    CanYouHandleThisFileW = nullptr;
    SetChangeVolProcW = nullptr;
    SetProcessDataProcW = nullptr;
}

namespace {

std::vector<WideChar> WideList(const std::vector<std::string>& names) {
    std::vector<WideChar> list;
    for (const std::string& n : names) {
        std::vector<WideChar> one = WideArg(n);
        list.insert(list.end(), one.begin(), one.end());
    }
    list.push_back(0);
    return list;
}

// The names as a host list in the ANSI code page; false when one has no form there.
bool AnsiList(const std::vector<std::string>& names, std::vector<char>* out) {
    std::vector<std::string> ansiNames(names.size());
    for (size_t i = 0; i < names.size(); ++i)
        if (!platform::ToArchiveText(names[i], &ansiNames[i])) return false;
    *out = MultiString(ansiNames);
    return true;
}

} // namespace

int PluginApi::Pack(const std::string& archive, const std::string& subPath, const std::string& srcDir,
                    const std::vector<std::string>& names, int flags) {
    if (HasWideFunctions()) {
        std::vector<WideChar> a = WideArg(archive), sub = WideArg(subPath), src = WideArg(srcDir), list = WideList(names);
        SetProcessDataProcW(reinterpret_cast<void*>(-1), HostProgressW);
        return PackFilesW(a.data(), subPath.empty() ? nullptr : sub.data(), src.data(), list.data(), flags);
    }
    std::vector<char> a, sub, src, list;
    if (!AnsiList(names, &list) || !AnsiArg(archive, &a) || !AnsiArg(subPath, &sub) || !AnsiArg(srcDir, &src))
        return E_NOT_SUPPORTED;
    SetProcessDataProc(reinterpret_cast<void*>(-1), HostProgress);
    return PackFiles(a.data(), subPath.empty() ? nullptr : sub.data(), src.data(), list.data(), flags);
}

int PluginApi::Delete(const std::string& archive, const std::vector<std::string>& names) {
    if (HasWideFunctions()) {
        std::vector<WideChar> a = WideArg(archive), list = WideList(names);
        SetProcessDataProcW(reinterpret_cast<void*>(-1), HostProgressW);
        return DeleteFilesW(a.data(), list.data());
    }
    std::vector<char> a, list;
    if (!AnsiList(names, &list) || !AnsiArg(archive, &a)) return E_NOT_SUPPORTED;
    SetProcessDataProc(reinterpret_cast<void*>(-1), HostProgress);
    return DeleteFiles(a.data(), list.data());
}

void PluginApi::SetDefaultParams(const std::string& iniPath) {
    PackDefaultParamStruct params = {};
    params.size = sizeof params;
    // The interface version the host reports, 2.12.
    params.PluginInterfaceVersionLow = 12;
    params.PluginInterfaceVersionHi = 2;
    std::strncpy(params.DefaultIniName, iniPath.c_str(), sizeof params.DefaultIniName - 1);
    PackSetDefaultParams(&params);
}
