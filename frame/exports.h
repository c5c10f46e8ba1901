// The exported functions of the plug-in, with the host's argument types.
#pragma once

#include "frame/wcx.h"

// The host's BOOL: a 32-bit int.
using BOOL_RESULT = int;

KYR_EXPORT void* KYR_CALL OpenArchive(tOpenArchiveData* ArchiveData);
KYR_EXPORT int KYR_CALL ReadHeader(void* hArcData, tHeaderData* HeaderData);
KYR_EXPORT int KYR_CALL ProcessFile(void* hArcData, int Operation, char* DestPath, char* DestName);
KYR_EXPORT int KYR_CALL CloseArchive(void* hArcData);
KYR_EXPORT int KYR_CALL PackFiles(char* PackedFile, char* SubPath, char* SrcPath, char* AddList, int Flags);
KYR_EXPORT int KYR_CALL DeleteFiles(char* PackedFile, char* DeleteList);
KYR_EXPORT int KYR_CALL GetPackerCaps();
KYR_EXPORT void KYR_CALL ConfigurePacker(platform::WindowHandle Parent, platform::ModuleHandle DllInstance);
KYR_EXPORT BOOL_RESULT KYR_CALL CanYouHandleThisFile(char* FileName);
KYR_EXPORT void KYR_CALL PackSetDefaultParams(PackDefaultParamStruct* dps);
KYR_EXPORT void KYR_CALL SetChangeVolProc(void* hArcData, tChangeVolProc pChangeVolProc1);
KYR_EXPORT void KYR_CALL SetProcessDataProc(void* hArcData, tProcessDataProc pProcessDataProc);

// Releases what the library holds; called when the library is unloaded.
void OnPluginUnload();

// The wide-character functions and the 64-bit header record. Each converts the host's
// UTF-16 to UTF-8, runs the ANSI function's path with UTF-8 in force for file access, and
// converts what goes back.
KYR_EXPORT void* KYR_CALL OpenArchiveW(tOpenArchiveDataW* ArchiveData);
KYR_EXPORT int KYR_CALL ReadHeaderEx(void* hArcData, tHeaderDataEx* HeaderData);
KYR_EXPORT int KYR_CALL ReadHeaderExW(void* hArcData, tHeaderDataExW* HeaderData);
KYR_EXPORT int KYR_CALL ProcessFileW(void* hArcData, int Operation, WideChar* DestPath, WideChar* DestName);
KYR_EXPORT int KYR_CALL PackFilesW(WideChar* PackedFile, WideChar* SubPath, WideChar* SrcPath, WideChar* AddList,
                                   int Flags);
KYR_EXPORT int KYR_CALL DeleteFilesW(WideChar* PackedFile, WideChar* DeleteList);
KYR_EXPORT BOOL_RESULT KYR_CALL CanYouHandleThisFileW(WideChar* FileName);
KYR_EXPORT void KYR_CALL SetChangeVolProcW(void* hArcData, tChangeVolProcW pChangeVolProc1);
KYR_EXPORT void KYR_CALL SetProcessDataProcW(void* hArcData, tProcessDataProcW pProcessDataProc);
