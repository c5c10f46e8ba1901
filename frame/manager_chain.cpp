#include "frame/manager_chain.h"

#include <cstring>
#include <mutex>
#include <unordered_set>

#include "frame/manager_registry.h"

namespace {

const ManagerFactory* g_factories = nullptr;
// The host sets the default callback on the thread that then packs or deletes, and runs
// operations on threads of their own: each keeps its own, so none takes another's.
thread_local tProcessDataProc g_defaultProcessDataProc = nullptr;
thread_local tChangeVolProc g_defaultChangeVolProc = nullptr;

// Archives are opened and closed on several host threads at once.
std::mutex g_liveMutex;
std::unordered_set<CKyrArchiveManager*>& LiveManagers() {
    static std::unordered_set<CKyrArchiveManager*> live;
    return live;
}

const char* const kKnownClasses[] = {"CZbkArchiveManager", "CKyrBinManager", "CTeskBinManager",
                                     "CKyrArchiveManager"};

// A configuration file also passes for an archive without entries, and packing into it
// would replace the configuration: once a manager has claimed a file by content, its
// answer is final, whether it cannot write the file or tried and failed.
bool ClaimsFile(CKyrArchiveManager* manager, char* fileName) {
    try {
        return manager->CanYouHandleThisFile(fileName);
    } catch (...) {
        return false;
    }
}

} // namespace

void SetManagerFactories(const ManagerFactory* factories) { g_factories = factories; }

ManagerChain::ManagerChain() : m_slots{nullptr, nullptr, nullptr}, m_probeIndex(0) {
    const ManagerFactory* factories = g_factories ? g_factories : DefaultManagerFactories();
    try {
        for (int slot = kChainSlots - 1; slot >= 0; --slot)
            m_slots[slot] = factories[slot] ? factories[slot]() : nullptr;
    } catch (...) {
        ReleaseAllBut(nullptr);
        throw static_cast<int>(E_NO_MEMORY);
    }
}

ManagerChain::~ManagerChain() { ReleaseAllBut(nullptr); }

void ManagerChain::ReleaseAllBut(CKyrArchiveManager* spared) {
    for (CKyrArchiveManager*& slot : m_slots) {
        if (slot && slot != spared) DestroyManager(slot);
        slot = nullptr;
    }
}

CKyrArchiveManager* ManagerChain::NextManager() {
    while (m_probeIndex < kChainSlots) {
        CKyrArchiveManager* m = m_slots[m_probeIndex++];
        if (m) return m;
    }
    return nullptr;
}

CKyrArchiveManager* ManagerChain::OpenProbe(tOpenArchiveData* openData) {
    openData->OpenResult = E_UNKNOWN_FORMAT;
    while (CKyrArchiveManager* m = NextManager()) {
        try {
            m->OpenArchive(openData);
        } catch (int code) {
            openData->OpenResult = code;
            continue;
        } catch (...) {
            continue;
        }
        if (openData->OpenResult == E_SUCCESS) {
            ReleaseAllBut(m);
            return m;
        }
        if (openData->OpenResult != E_UNKNOWN_FORMAT && openData->OpenResult != E_NOT_SUPPORTED) break;
    }
    ReleaseAllBut(nullptr);
    return nullptr;
}

bool ManagerChain::ContentProbe(char* fileName) {
    bool answer = false;
    while (!answer) {
        CKyrArchiveManager* m = NextManager();
        if (!m) break;
        try {
            answer = m->CanYouHandleThisFile(fileName);
        } catch (...) {
        }
    }
    ReleaseAllBut(nullptr);
    return answer;
}

int ManagerChain::PackProbe(tProcessDataProc proc, char* packedFile, char* subPath, char* srcPath,
                            char* addList, int flags, int capability) {
    int result = E_NOT_SUPPORTED;
    while (CKyrArchiveManager* m = NextManager()) {
        try {
            if (m->SupportsCapability(capability)) {
                m->SetProcessDataProc(proc);
                result = m->PackFiles(packedFile, subPath, srcPath, addList, flags);
                if (result == E_SUCCESS) break;
            }
        } catch (int code) {
            result = code;
        } catch (...) {
        }
        if (capability == PK_CAPS_MODIFY && ClaimsFile(m, packedFile)) break;
    }
    ReleaseAllBut(nullptr);
    return result;
}

int ManagerChain::DeleteProbe(tProcessDataProc proc, char* packedFile, char* deleteList) {
    int result = E_NOT_SUPPORTED;
    while (CKyrArchiveManager* m = NextManager()) {
        try {
            if (!m->SupportsCapability(PK_CAPS_DELETE)) {
                if (ClaimsFile(m, packedFile)) break;
                continue;
            }
            m->SetProcessDataProc(proc);
            result = m->DeleteFiles(packedFile, deleteList);
            if (result == E_SUCCESS) break;
        } catch (int code) {
            result = code;
        } catch (...) {
        }
    }
    ReleaseAllBut(nullptr);
    return result;
}

int DestroyManager(CKyrArchiveManager* manager) {
    if (!manager) return E_SUCCESS;
    const char* name = manager->ClassName();
    for (const char* known : kKnownClasses) {
        if (name && std::strcmp(name, known) == 0) {
            delete manager;
            return E_SUCCESS;
        }
    }
    return E_BAD_DATA;
}

void* RegisterHandle(CKyrArchiveManager* manager) {
    try {
        std::lock_guard<std::mutex> guard(g_liveMutex);
        LiveManagers().insert(manager);
    } catch (...) {
        return nullptr;
    }
    return manager;
}

CKyrArchiveManager* LookupHandle(void* handle) {
    std::lock_guard<std::mutex> guard(g_liveMutex);
    auto& live = LiveManagers();
    auto it = live.find(static_cast<CKyrArchiveManager*>(handle));
    return it == live.end() ? nullptr : *it;
}

int CloseHandle(void* handle) {
    if (!handle) return E_SUCCESS;
    CKyrArchiveManager* m = nullptr;
    {
        // Taken out of the table first: a handle closed twice at once is destroyed once.
        std::lock_guard<std::mutex> guard(g_liveMutex);
        auto it = LiveManagers().find(static_cast<CKyrArchiveManager*>(handle));
        if (it == LiveManagers().end()) return E_BAD_DATA;
        m = *it;
        LiveManagers().erase(it);
    }
    int result = DestroyManager(m);
    if (result != E_SUCCESS) {
        std::lock_guard<std::mutex> guard(g_liveMutex);
        LiveManagers().insert(m);
    }
    return result;
}

int LiveHandleCount() {
    std::lock_guard<std::mutex> guard(g_liveMutex);
    return static_cast<int>(LiveManagers().size());
}

void SetDefaultProcessDataProc(tProcessDataProc proc) { g_defaultProcessDataProc = proc; }

tProcessDataProc TakeDefaultProcessDataProc() {
    tProcessDataProc proc = g_defaultProcessDataProc;
    g_defaultProcessDataProc = nullptr;
    return proc;
}

void SetDefaultChangeVolProc(tChangeVolProc proc) { g_defaultChangeVolProc = proc; }
