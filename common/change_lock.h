// Changes of one archive take turns: a change holds the file from before it reads the
// archive until after it has put the new one in place, and a second change, from this
// process or another, waits for it and then works on its result. Readers never wait.
#pragma once

#include <string>

#include "platform/platform.h"

class ChangeLock {
public:
    // The host's progress callback, told about the wait; 0 from it cancels.
    using WaitReport = int(KYR_CALL*)(char* text, int count);

    ChangeLock() = default;
    ~ChangeLock(); // releases
    ChangeLock(const ChangeLock&) = delete;
    ChangeLock& operator=(const ChangeLock&) = delete;

    // Waits until `path` is held, polling and calling `report` (when set) between polls.
    // False when the host cancelled the wait: nothing is held then. Where the file system
    // keeps no locks the change goes ahead, held against this process's threads only.
    bool Acquire(const char* path, WaitReport report);
    void Release();

private:
    platform::FileChangeLock m_file;
    std::string m_key;
    bool m_held = false;
};

// What the host is shown while a change waits for another, followed by the archive's path.
constexpr const char kWaitingForChangeText[] = "Waiting for another change of the archive : ";
