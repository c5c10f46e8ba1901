// The functions the host calls. Each looks up its handle, forwards to the manager chain or
// the manager, and turns any exception into a result code.
#include "frame/exports.h"

#include <new>

#include "common/change_lock.h"
#include "frame/manager_chain.h"
#include "settings/options_dialog.h"
#include "settings/settings_store.h"

namespace {

bool FileExists(const char* path) {
    FILE* f = platform::OpenFile(path, "rb");
    if (!f) return false;
    std::fclose(f);
    return true;
}

} // namespace

KYR_EXPORT void* KYR_CALL OpenArchive(tOpenArchiveData* ArchiveData) {
    if (!ArchiveData) return nullptr;
    try {
        ManagerChain chain;
        CKyrArchiveManager* m = chain.OpenProbe(ArchiveData);
        if (!m) return nullptr;
        void* handle = RegisterHandle(m);
        if (!handle) {
            DestroyManager(m);
            ArchiveData->OpenResult = E_NO_MEMORY;
        }
        return handle;
    } catch (...) {
        ArchiveData->OpenResult = E_NO_MEMORY;
        return nullptr;
    }
}

KYR_EXPORT int KYR_CALL ReadHeader(void* hArcData, tHeaderData* HeaderData) {
    CKyrArchiveManager* m = LookupHandle(hArcData);
    if (!m) return E_BAD_DATA;
    try {
        return m->ReadHeader(HeaderData);
    } catch (...) {
        return E_BAD_DATA;
    }
}

KYR_EXPORT int KYR_CALL ReadHeaderEx(void* hArcData, tHeaderDataEx* HeaderData) {
    CKyrArchiveManager* m = LookupHandle(hArcData);
    if (!m) return E_BAD_DATA;
    try {
        return m->ReadHeaderEx(HeaderData);
    } catch (...) {
        return E_BAD_DATA;
    }
}

KYR_EXPORT int KYR_CALL ProcessFile(void* hArcData, int Operation, char* DestPath, char* DestName) {
    CKyrArchiveManager* m = LookupHandle(hArcData);
    if (!m) return E_BAD_DATA;
    try {
        return m->ProcessFile(Operation, DestPath, DestName);
    } catch (...) {
        return E_BAD_DATA;
    }
}

KYR_EXPORT int KYR_CALL CloseArchive(void* hArcData) { return CloseHandle(hArcData); }

KYR_EXPORT int KYR_CALL PackFiles(char* PackedFile, char* SubPath, char* SrcPath, char* AddList, int Flags) {
    tProcessDataProc proc = TakeDefaultProcessDataProc();
    if (!PackedFile || !*PackedFile) return E_NOT_SUPPORTED;
    try {
        // Held before anything is read, so that whether the archive exists is decided after
        // a wait: a creation that waited for another of the same name adds to that archive.
        ChangeLock hold;
        if (!hold.Acquire(PackedFile, proc)) return E_EABORTED;
        int capability = FileExists(PackedFile) ? PK_CAPS_MODIFY : PK_CAPS_NEW;
        ManagerChain chain;
        return chain.PackProbe(proc, PackedFile, SubPath, SrcPath, AddList, Flags, capability);
    } catch (...) {
        return E_NO_MEMORY;
    }
}

KYR_EXPORT int KYR_CALL DeleteFiles(char* PackedFile, char* DeleteList) {
    tProcessDataProc proc = TakeDefaultProcessDataProc();
    try {
        ChangeLock hold;
        if (PackedFile && *PackedFile && !hold.Acquire(PackedFile, proc)) return E_EABORTED;
        ManagerChain chain;
        return chain.DeleteProbe(proc, PackedFile, DeleteList);
    } catch (...) {
        return E_NO_MEMORY;
    }
}

KYR_EXPORT int KYR_CALL GetPackerCaps() {
    return PK_CAPS_NEW | PK_CAPS_MODIFY | PK_CAPS_MULTIPLE | PK_CAPS_DELETE | PK_CAPS_OPTIONS | PK_CAPS_BY_CONTENT;
}

KYR_EXPORT void KYR_CALL ConfigurePacker(platform::WindowHandle Parent, platform::ModuleHandle DllInstance) {
    try {
        RunOptionsDialog(Parent, DllInstance);
    } catch (...) {
    }
}

KYR_EXPORT BOOL_RESULT KYR_CALL CanYouHandleThisFile(char* FileName) {
    if (!FileName) return 0;
    try {
        ManagerChain chain;
        return chain.ContentProbe(FileName) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

KYR_EXPORT void KYR_CALL PackSetDefaultParams(PackDefaultParamStruct* dps) {
    try {
        LoadSettings(dps);
    } catch (...) {
    }
}

KYR_EXPORT void KYR_CALL SetChangeVolProc(void* hArcData, tChangeVolProc pChangeVolProc1) {
    if (IsNoArchive(hArcData)) {
        SetDefaultChangeVolProc(pChangeVolProc1);
        return;
    }
    if (CKyrArchiveManager* m = LookupHandle(hArcData)) m->SetChangeVolProc(pChangeVolProc1);
}

KYR_EXPORT void KYR_CALL SetProcessDataProc(void* hArcData, tProcessDataProc pProcessDataProc) {
    if (IsNoArchive(hArcData)) {
        SetDefaultProcessDataProc(pProcessDataProc);
        return;
    }
    try {
        if (CKyrArchiveManager* m = LookupHandle(hArcData)) m->SetProcessDataProc(pProcessDataProc);
    } catch (...) {
    }
}

void OnPluginUnload() { ReleaseSettings(); }
