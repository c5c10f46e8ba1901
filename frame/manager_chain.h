// Offers every request that names a file to the managers in a fixed order; the first
// that accepts serves it. Also keeps the table of live handles given to the host.
#pragma once

#include "frame/archive_manager.h"

// Makes one manager; may throw an int result code.
using ManagerFactory = CKyrArchiveManager* (*)();
constexpr int kChainSlots = 3;

class ManagerChain {
public:
    // Creates the managers in the order slot 2, slot 1, slot 0. Throws int 11 when the
    // chain cannot be built.
    ManagerChain();
    ~ManagerChain();
    ManagerChain(const ManagerChain&) = delete;
    ManagerChain& operator=(const ManagerChain&) = delete;

    CKyrArchiveManager* OpenProbe(tOpenArchiveData* openData);
    bool ContentProbe(char* fileName);
    int PackProbe(tProcessDataProc proc, char* packedFile, char* subPath, char* srcPath, char* addList,
                  int flags, int capability);
    int DeleteProbe(tProcessDataProc proc, char* packedFile, char* deleteList);

    void ReleaseAllBut(CKyrArchiveManager* spared);

private:
    CKyrArchiveManager* NextManager();

    CKyrArchiveManager* m_slots[kChainSlots];
    int m_probeIndex;
};

// The factories that new chains use: slot 0 second-game configuration, slot 1 first-game
// configuration, slot 2 archives. Tests install managers of their own; null restores.
void SetManagerFactories(const ManagerFactory* factories);

// Identifies a manager by its class name and destroys it: 0, or 12 when it is none of ours.
int DestroyManager(CKyrArchiveManager* manager);

// Handles given to the host are keys of the table of live managers, so a stale or
// foreign value is never dereferenced.
void* RegisterHandle(CKyrArchiveManager* manager);
CKyrArchiveManager* LookupHandle(void* handle);
int CloseHandle(void* handle);
int LiveHandleCount();

// Whether a handle given with a callback stands for no archive: the callback is then the
// default for the next pack or delete request.
inline bool IsNoArchive(void* handle) { return handle == nullptr || handle == reinterpret_cast<void*>(-1); }

// The callbacks set with no handle.
void SetDefaultProcessDataProc(tProcessDataProc proc);
tProcessDataProc TakeDefaultProcessDataProc();
void SetDefaultChangeVolProc(tChangeVolProc proc);
