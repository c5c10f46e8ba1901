#include <windows.h>

#include "frame/exports.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_DETACH) OnPluginUnload();
    return TRUE;
}
