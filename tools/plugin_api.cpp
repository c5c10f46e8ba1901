#include "tools/plugin_api.h"

#include <cstring>

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
    if (!ok) *error = "plug-in " + path + " does not export " + missing;
    return ok;
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
