// A loaded plug-in binary, reached only through its exported functions, as the file manager does.
#pragma once

#include <string>
#include <vector>

#include "frame/wcx.h"

class PluginApi {
public:
    PluginApi() = default;
    ~PluginApi();
    PluginApi(const PluginApi&) = delete;
    PluginApi& operator=(const PluginApi&) = delete;

    // Loads the library and binds all twelve functions, and the wide ones when it has them
    // all; false (with a reason) otherwise.
    bool Load(const std::string& path, std::string* error);
    // Leaves the wide functions unused, as a host of the ANSI interface does.
    void UseAnsiOnly();
    bool HasWideFunctions() const { return OpenArchiveW != nullptr; }
    // Hands the settings file over, as the file manager does right after loading.
    void SetDefaultParams(const std::string& iniPath);

    void*(KYR_CALL* OpenArchive)(tOpenArchiveData*) = nullptr;
    int(KYR_CALL* ReadHeader)(void*, tHeaderData*) = nullptr;
    int(KYR_CALL* ProcessFile)(void*, int, char*, char*) = nullptr;
    int(KYR_CALL* CloseArchive)(void*) = nullptr;
    int(KYR_CALL* PackFiles)(char*, char*, char*, char*, int) = nullptr;
    int(KYR_CALL* DeleteFiles)(char*, char*) = nullptr;
    int(KYR_CALL* GetPackerCaps)() = nullptr;
    void(KYR_CALL* ConfigurePacker)(void*, void*) = nullptr;
    int(KYR_CALL* CanYouHandleThisFile)(char*) = nullptr;
    void(KYR_CALL* PackSetDefaultParams)(PackDefaultParamStruct*) = nullptr;
    void(KYR_CALL* SetChangeVolProc)(void*, tChangeVolProc) = nullptr;
    void(KYR_CALL* SetProcessDataProc)(void*, tProcessDataProc) = nullptr;

    void*(KYR_CALL* OpenArchiveW)(tOpenArchiveDataW*) = nullptr;
    int(KYR_CALL* ReadHeaderExW)(void*, tHeaderDataExW*) = nullptr;
    int(KYR_CALL* ProcessFileW)(void*, int, WideChar*, WideChar*) = nullptr;
    int(KYR_CALL* PackFilesW)(WideChar*, WideChar*, WideChar*, WideChar*, int) = nullptr;
    int(KYR_CALL* DeleteFilesW)(WideChar*, WideChar*) = nullptr;
    int(KYR_CALL* CanYouHandleThisFileW)(WideChar*) = nullptr;
    void(KYR_CALL* SetChangeVolProcW)(void*, tChangeVolProcW) = nullptr;
    void(KYR_CALL* SetProcessDataProcW)(void*, tProcessDataProcW) = nullptr;

    // Requests in the host's UTF-8, through the wide functions when bound, else the ANSI
    // ones; E_NOT_SUPPORTED when a name has no form in the ANSI code page.
    int Pack(const std::string& archive, const std::string& subPath, const std::string& srcDir,
             const std::vector<std::string>& names, int flags);
    int Delete(const std::string& archive, const std::vector<std::string>& names);

    void* Library() const { return m_library; }

private:
    void* m_library = nullptr;
};
