// The wide-character functions of the host interface. Each converts the host's UTF-16 to
// UTF-8, puts UTF-8 in force for the platform's file access while it runs, calls the ANSI
// function of the same name, and converts what goes back to the host.
#include <string>

#include "common/unicode_text.h"
#include "frame/exports.h"
#include "frame/manager_chain.h"

namespace {

// The wide callback of the request that is running, and the one set with no handle for
// the next pack or delete request, per host thread as their ANSI counterparts.
thread_local tProcessDataProcW g_requestProgress = nullptr;
thread_local tProcessDataProcW g_defaultProgress = nullptr;
thread_local tChangeVolProcW g_defaultChangeVol = nullptr;

// Managers report in the request's text, UTF-8 here; the host's wide callback takes UTF-16.
int KYR_CALL RelayProgress(char* text, int count) {
    if (!g_requestProgress) return 1;
    if (!text) return g_requestProgress(nullptr, count);
    std::u16string wide = Utf8ToUtf16(text);
    return g_requestProgress(&wide[0], count);
}

// One wide request: UTF-8 paths and the given wide callback while it lives.
class WideRequest {
public:
    explicit WideRequest(tProcessDataProcW progress) : m_previous(g_requestProgress) { g_requestProgress = progress; }
    ~WideRequest() { g_requestProgress = m_previous; }
    WideRequest(const WideRequest&) = delete;
    WideRequest& operator=(const WideRequest&) = delete;

private:
    platform::WideTextScope m_text;
    tProcessDataProcW m_previous;
};

// A host string as UTF-8; a null string stays null (*isNull), as the ANSI functions expect.
bool ToUtf8(const WideChar* text, std::string* out, bool* isNull) {
    *isNull = text == nullptr;
    return Utf16ToUtf8(text, out);
}

char* ArgOrNull(std::string& s, bool isNull) { return isNull ? nullptr : &s[0]; }

// The fields after the names are the same in both records.
template <typename From, typename To>
void CopyHeaderFields(const From& from, To* to) {
    to->Flags = from.Flags;
    to->PackSize = from.PackSize;
    to->PackSizeHigh = from.PackSizeHigh;
    to->UnpSize = from.UnpSize;
    to->UnpSizeHigh = from.UnpSizeHigh;
    to->HostOS = from.HostOS;
    to->FileCRC = from.FileCRC;
    to->FileTime = from.FileTime;
    to->UnpVer = from.UnpVer;
    to->Method = from.Method;
    to->FileAttr = from.FileAttr;
    to->CmtBuf = from.CmtBuf;
    to->CmtBufSize = from.CmtBufSize;
    to->CmtSize = from.CmtSize;
    to->CmtState = from.CmtState;
}

} // namespace

KYR_EXPORT void* KYR_CALL OpenArchiveW(tOpenArchiveDataW* ArchiveData) {
    if (!ArchiveData) return nullptr;
    try {
        std::string arcName;
        bool isNull;
        // A path with half a surrogate pair names no file that could be opened.
        if (!ToUtf8(ArchiveData->ArcName, &arcName, &isNull)) {
            ArchiveData->OpenResult = E_EOPEN;
            return nullptr;
        }
        tOpenArchiveData record = {};
        record.ArcName = ArgOrNull(arcName, isNull);
        record.OpenMode = ArchiveData->OpenMode;
        record.OpenResult = ArchiveData->OpenResult;
        WideRequest request(nullptr);
        void* handle = OpenArchive(&record);
        ArchiveData->OpenResult = record.OpenResult;
        return handle;
    } catch (...) {
        ArchiveData->OpenResult = E_NO_MEMORY;
        return nullptr;
    }
}

KYR_EXPORT int KYR_CALL ReadHeaderExW(void* hArcData, tHeaderDataExW* HeaderData) {
    CKyrArchiveManager* m = LookupHandle(hArcData);
    if (!m) return E_BAD_DATA;
    if (!HeaderData) return ReadHeaderEx(hArcData, nullptr);
    try {
        WideRequest request(m->ProcessDataProcW());
        // Names come back only where the manager wrote them; the rest keeps the host's values.
        tHeaderDataEx record;
        record.ArcName[0] = 0;
        record.FileName[0] = 0;
        CopyHeaderFields(*HeaderData, &record);
        int result = ReadHeaderEx(hArcData, &record);
        CopyHeaderFields(record, HeaderData);
        if (record.FileName[0]) CopyToField(HeaderData->FileName, kHostLongNameMax, Utf8ToUtf16(record.FileName));
        if (record.ArcName[0]) CopyToField(HeaderData->ArcName, kHostLongNameMax, Utf8ToUtf16(record.ArcName));
        return result;
    } catch (...) {
        return E_NO_MEMORY;
    }
}

KYR_EXPORT int KYR_CALL ProcessFileW(void* hArcData, int Operation, WideChar* DestPath, WideChar* DestName) {
    CKyrArchiveManager* m = LookupHandle(hArcData);
    if (!m) return E_BAD_DATA;
    try {
        std::string path, name;
        bool pathNull, nameNull;
        if (!ToUtf8(DestPath, &path, &pathNull) || !ToUtf8(DestName, &name, &nameNull)) return E_ECREATE;
        WideRequest request(m->ProcessDataProcW());
        return ProcessFile(hArcData, Operation, ArgOrNull(path, pathNull), ArgOrNull(name, nameNull));
    } catch (...) {
        return E_NO_MEMORY;
    }
}

KYR_EXPORT int KYR_CALL PackFilesW(WideChar* PackedFile, WideChar* SubPath, WideChar* SrcPath, WideChar* AddList,
                                   int Flags) {
    // The default callback serves this request whatever follows, as with PackFiles.
    tProcessDataProcW progress = g_defaultProgress;
    g_defaultProgress = nullptr;
    try {
        std::string packed, sub, src, list;
        bool packedNull, subNull, srcNull;
        // Text with half a surrogate pair names nothing that could be stored: refused
        // before anything is written, like a name the archive cannot hold.
        if (!ToUtf8(PackedFile, &packed, &packedNull) || !ToUtf8(SubPath, &sub, &subNull) ||
            !ToUtf8(SrcPath, &src, &srcNull) || !Utf16ListToUtf8(AddList, &list)) {
            TakeDefaultProcessDataProc();
            return E_NOT_SUPPORTED;
        }
        WideRequest request(progress);
        return PackFiles(ArgOrNull(packed, packedNull), ArgOrNull(sub, subNull), ArgOrNull(src, srcNull),
                         AddList ? &list[0] : nullptr, Flags);
    } catch (...) {
        TakeDefaultProcessDataProc();
        return E_NO_MEMORY;
    }
}

KYR_EXPORT int KYR_CALL DeleteFilesW(WideChar* PackedFile, WideChar* DeleteList) {
    tProcessDataProcW progress = g_defaultProgress;
    g_defaultProgress = nullptr;
    try {
        std::string packed, list;
        bool packedNull;
        if (!ToUtf8(PackedFile, &packed, &packedNull) || !Utf16ListToUtf8(DeleteList, &list)) {
            TakeDefaultProcessDataProc();
            return E_NOT_SUPPORTED;
        }
        WideRequest request(progress);
        return DeleteFiles(ArgOrNull(packed, packedNull), DeleteList ? &list[0] : nullptr);
    } catch (...) {
        TakeDefaultProcessDataProc();
        return E_NO_MEMORY;
    }
}

KYR_EXPORT BOOL_RESULT KYR_CALL CanYouHandleThisFileW(WideChar* FileName) {
    if (!FileName) return 0;
    try {
        std::string name;
        bool isNull;
        if (!ToUtf8(FileName, &name, &isNull)) return 0;
        WideRequest request(nullptr);
        return CanYouHandleThisFile(&name[0]);
    } catch (...) {
        return 0;
    }
}

KYR_EXPORT void KYR_CALL SetChangeVolProcW(void* hArcData, tChangeVolProcW pChangeVolProc1) {
    // Stored for the interface's sake only: no archive spans volumes.
    if (IsNoArchive(hArcData)) {
        g_defaultChangeVol = pChangeVolProc1;
        return;
    }
    if (CKyrArchiveManager* m = LookupHandle(hArcData)) m->SetChangeVolProcW(pChangeVolProc1);
}

KYR_EXPORT void KYR_CALL SetProcessDataProcW(void* hArcData, tProcessDataProcW pProcessDataProc) {
    tProcessDataProc relay = pProcessDataProc ? RelayProgress : nullptr;
    if (IsNoArchive(hArcData)) {
        g_defaultProgress = pProcessDataProc;
        SetDefaultProcessDataProc(relay);
        return;
    }
    if (CKyrArchiveManager* m = LookupHandle(hArcData)) {
        m->SetProcessDataProcW(pProcessDataProc);
        SetProcessDataProc(hArcData, relay);
    }
}
