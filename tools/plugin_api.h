// A loaded plug-in binary, reached only through its exported functions, as the file manager does.
#pragma once

#include <string>

#include "frame/wcx.h"

class PluginApi {
public:
    PluginApi() = default;
    ~PluginApi();
    PluginApi(const PluginApi&) = delete;
    PluginApi& operator=(const PluginApi&) = delete;

    // Loads the library and binds all twelve functions; false (with a reason) otherwise.
    bool Load(const std::string& path, std::string* error);
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

    void* Library() const { return m_library; }

private:
    void* m_library = nullptr;
};
