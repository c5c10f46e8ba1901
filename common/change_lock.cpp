#include "common/change_lock.h"

#include <mutex>
#include <set>

#include "common/file_io.h"

namespace {

// Locks of some systems do not tell a process's threads apart, and a file system without
// locks tells nobody apart: the files held by this process's changes are kept here too.
class HeldHere {
public:
    bool TryHold(const std::string& key) {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_keys.insert(key).second;
    }
    void Drop(const std::string& key) {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_keys.erase(key);
    }

private:
    std::mutex m_mutex;
    std::set<std::string> m_keys;
};

HeldHere& Held() {
    static HeldHere held;
    return held;
}

// Short enough that the second change starts soon after the first ends, long enough that a
// waiting change costs nothing; the host hears from it at every poll and can cancel.
constexpr int kPollMilliseconds = 50;

} // namespace

ChangeLock::~ChangeLock() { Release(); }

void ChangeLock::Release() {
    m_file.Release();
    if (m_held) Held().Drop(m_key);
    m_held = false;
}

bool ChangeLock::Acquire(const char* path, WaitReport report) {
    Release();
    std::string key = platform::ChangeLockKey(path);
    std::string text;
    for (;;) {
        if (Held().TryHold(key)) {
            if (TakeFileLock(m_file, path) != platform::FileChangeLock::kBusy) {
                m_key = key;
                m_held = true;
                return true;
            }
            Held().Drop(key);
        }
        if (report) {
            if (text.empty()) text = std::string(kWaitingForChangeText) + path;
            if (!report(&text[0], 0)) return false;
        }
        platform::SleepMilliseconds(kPollMilliseconds);
    }
}
