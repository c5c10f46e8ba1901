#include "platform/platform.h"

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <sys/utime.h>
#include <windows.h>

#include <clocale>
#include <cstdint>
#include <map>
#include <mutex>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <shellapi.h>

namespace platform {

uint32_t HostFileAttribute() { return 0x20; }

char HostSeparator() { return '\\'; }

void ToArchiveSeparators(char* name) {
    for (; name && *name; ++name)
        if (*name == '/') *name = '\\';
}

// The Windows host already uses the archive's separator.
void ToHostSeparators(char*) {}

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// Both separators of a Windows name are folder separators in the archive too.
bool CanStoreName(const char* hostName) { return hostName != nullptr; }

namespace {

// Each host thread runs requests of its own; the workers of a pack open no files.
thread_local bool g_wideText = false;

UINT HostCodePage() { return g_wideText ? CP_UTF8 : CP_ACP; }

std::wstring ToWide(const char* text, UINT codePage) {
    if (!text || !*text) return std::wstring();
    int n = MultiByteToWideChar(codePage, 0, text, -1, nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(codePage, 0, text, -1, &wide[0], n);
    wide.resize(static_cast<size_t>(n - 1));
    return wide;
}

// *exact turns false when a character has no form in the code page; WC_NO_BEST_FIT_CHARS
// keeps the system from putting a look-alike in its place. UTF-8 has a form for everything
// and takes no flags.
std::string FromWide(const wchar_t* wide, UINT codePage, bool* exact) {
    if (exact) *exact = true;
    if (!wide || !*wide) return std::string();
    bool utf8 = codePage == CP_UTF8 || (codePage == CP_ACP && GetACP() == CP_UTF8);
    DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    BOOL* usedDefaultOut = utf8 ? nullptr : &usedDefault;
    int n = WideCharToMultiByte(codePage, flags, wide, -1, nullptr, 0, nullptr, usedDefaultOut);
    if (n <= 0) {
        if (exact) *exact = false;
        return std::string();
    }
    std::string text(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(codePage, flags, wide, -1, &text[0], n, nullptr, usedDefaultOut);
    text.resize(static_cast<size_t>(n - 1));
    if (usedDefault && exact) *exact = false;
    return text;
}

// A path of the request in force, for the system's UTF-16 functions.
std::wstring WidePath(const char* path) { return ToWide(path, HostCodePage()); }

std::wstring WideMode(const char* mode) { return std::wstring(mode, mode + std::strlen(mode)); }

int64_t UnixSeconds(const FILETIME& ft) {
    uint64_t ticks = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    // FILETIME counts 100 ns steps from 1601; 11644473600 seconds lie between the two epochs.
    return static_cast<int64_t>(ticks / 10000000ull) - 11644473600ll;
}

void FillFound(const WIN32_FIND_DATAW& fd, FoundFile* out) {
    out->name = FromWide(fd.cFileName, HostCodePage(), &out->exact);
    out->size = (static_cast<uint64_t>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
    out->writeTime = UnixSeconds(fd.ftLastWriteTime);
    out->attrib = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? kAttrDirectory : 0;
}

} // namespace

WideTextScope::WideTextScope() : m_previous(g_wideText) { g_wideText = true; }
WideTextScope::~WideTextScope() { g_wideText = m_previous; }
bool HostTextIsWide() { return g_wideText; }

bool ToArchiveText(const std::string& hostText, std::string* out) {
    if (!g_wideText) {
        *out = hostText;
        return true;
    }
    std::wstring wide = ToWide(hostText.c_str(), CP_UTF8);
    bool exact = true;
    *out = FromWide(wide.c_str(), CP_ACP, &exact);
    return exact;
}

std::string FromArchiveText(const char* archiveText) {
    if (!archiveText) return std::string();
    if (!g_wideText) return archiveText;
    return FromWide(ToWide(archiveText, CP_ACP).c_str(), CP_UTF8, nullptr);
}

FILE* OpenFile(const char* path, const char* mode) {
    return path ? _wfopen(WidePath(path).c_str(), WideMode(mode).c_str()) : nullptr;
}

FILE* OpenSharedRead(const char* path) { return path ? _wfsopen(WidePath(path).c_str(), L"rb", _SH_DENYNO) : nullptr; }

bool FindFile(const char* path, FoundFile* out) {
    if (!path || !*path) return false;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(WidePath(path).c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return false;
    FillFound(fd, out);
    FindClose(h);
    return true;
}

bool ListDirectory(const char* dir, std::vector<FoundFile>* out) {
    std::string pattern = dir && *dir ? dir : ".";
    if (!IsSeparator(pattern.back())) pattern += '\\';
    pattern += "*";
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(WidePath(pattern.c_str()).c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        if (!std::wcscmp(fd.cFileName, L".") || !std::wcscmp(fd.cFileName, L"..")) continue;
        FoundFile f;
        FillFound(fd, &f);
        out->push_back(std::move(f));
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    return true;
}

FILE* CreateUniqueFile(const std::string& dir, const std::string& prefix, std::string* nameOut) {
    std::string base = dir;
    if (!base.empty() && !IsSeparator(base.back())) base += '\\';
    for (unsigned serial = 1; serial < 100000; ++serial) {
        std::string name = base + prefix + "." + std::to_string(GetCurrentProcessId()) + "." +
                           std::to_string(serial) + ".tmp";
        std::wstring wide = WidePath(name.c_str());
        int fd = _wopen(wide.c_str(), _O_RDWR | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return nullptr;
        }
        FILE* f = _fdopen(fd, "w+b");
        if (!f) {
            _close(fd);
            _wunlink(wide.c_str());
            return nullptr;
        }
        if (nameOut) *nameOut = name;
        return f;
    }
    return nullptr;
}

namespace {

std::wstring LockKeyW(const char* path) {
    std::wstring wide = WidePath(path);
    wchar_t full[32768];
    DWORD n = GetFullPathNameW(wide.c_str(), 32768, full, nullptr);
    std::wstring key = n > 0 && n < 32768 ? std::wstring(full, n) : wide;
    // Windows names ignore letter case: one file, one key.
    if (!key.empty()) CharLowerBuffW(&key[0], static_cast<DWORD>(key.size()));
    return key;
}

std::wstring GuardName(const std::wstring& key) {
    uint64_t h = 14695981039346656037ull;
    for (wchar_t c : key) h = (h ^ static_cast<uint16_t>(c)) * 1099511628211ull;
    std::wstring name = L"Local\\kyrzbk.change.";
    for (int shift = 60; shift >= 0; shift -= 4) name += L"0123456789abcdef"[(h >> shift) & 15];
    return name;
}

// Far beyond any archive's end: locking there keeps other changes out while readers,
// whom a lock on the data itself would stop, go on.
OVERLAPPED LockRegion() {
    OVERLAPPED at = {};
    at.Offset = 0xFFFFFFFEu;
    at.OffsetHigh = 0x7FFFFFFFu;
    return at;
}

bool SameFile(HANDLE held, const std::wstring& path) {
    HANDLE now = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (now == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION a, b;
    bool same = GetFileInformationByHandle(held, &a) && GetFileInformationByHandle(now, &b) &&
                a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
                a.nFileIndexLow == b.nFileIndexLow;
    CloseHandle(now);
    return same;
}

// The locked files of this process by key, so that replacing one first closes the handle
// that would keep Windows from replacing it. Only the thread holding a lock replaces its file.
std::mutex g_heldMutex;
std::map<std::wstring, intptr_t*>& HeldFiles() {
    static std::map<std::wstring, intptr_t*> held;
    return held;
}

void CloseHeldFile(const std::wstring& key) {
    std::lock_guard<std::mutex> guard(g_heldMutex);
    auto it = HeldFiles().find(key);
    if (it == HeldFiles().end()) return;
    if (*it->second != -1) CloseHandle(reinterpret_cast<HANDLE>(*it->second));
    *it->second = -1;
    HeldFiles().erase(it);
}

} // namespace

FileChangeLock::~FileChangeLock() { Release(); }

void FileChangeLock::Release() {
    if (m_file != -1) {
        std::lock_guard<std::mutex> guard(g_heldMutex);
        for (auto it = HeldFiles().begin(); it != HeldFiles().end(); ++it) {
            if (it->second == &m_file) {
                HeldFiles().erase(it);
                break;
            }
        }
        CloseHandle(reinterpret_cast<HANDLE>(m_file));
    }
    m_file = -1;
    if (m_guard != -1) {
        HANDLE mutex = reinterpret_cast<HANDLE>(m_guard);
        ReleaseMutex(mutex);
        CloseHandle(mutex);
    }
    m_guard = -1;
}

FileChangeLock::Attempt FileChangeLock::TryTake(const char* path) {
    Release();
    if (!path || !*path) return kUnsupported;
    std::wstring key = LockKeyW(path);
    HANDLE mutex = CreateMutexW(nullptr, FALSE, GuardName(key).c_str());
    if (!mutex) return kUnsupported;
    DWORD waited = WaitForSingleObject(mutex, 0);
    if (waited == WAIT_TIMEOUT) {
        CloseHandle(mutex);
        return kBusy;
    }
    // An abandoned mutex is owned all the same: its holder ended without releasing it.
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
        CloseHandle(mutex);
        return kUnsupported;
    }
    m_guard = reinterpret_cast<intptr_t>(mutex);
    std::wstring wide = WidePath(path);
    for (int round = 0; round < 16; ++round) {
        HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        // A file to be created: the mutex alone keeps a second creation waiting.
        if (file == INVALID_HANDLE_VALUE) return kTaken;
        OVERLAPPED at = LockRegion();
        if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
            DWORD error = GetLastError();
            CloseHandle(file);
            if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING) {
                Release();
                return kBusy;
            }
            return kTaken; // no byte-range locks on this file system: the mutex still holds
        }
        if (SameFile(file, wide)) {
            m_file = reinterpret_cast<intptr_t>(file);
            std::lock_guard<std::mutex> guard(g_heldMutex);
            HeldFiles()[key] = &m_file;
            return kTaken;
        }
        CloseHandle(file);
    }
    Release();
    return kBusy;
}

std::string ChangeLockKey(const char* path) {
    if (!path) return std::string();
    return FromWide(LockKeyW(path).c_str(), CP_UTF8, nullptr);
}

void SleepMilliseconds(int milliseconds) { Sleep(static_cast<DWORD>(milliseconds)); }

bool ReplaceFileAtomically(const char* from, const char* to) {
    std::wstring target = WidePath(to);
    CloseHeldFile(LockKeyW(to));
    // Windows replaces no file that is open: a reader that has the archive open for a moment
    // (a listing, a change's short look at it from another machine) is waited for, briefly.
    for (int attempt = 0;; ++attempt) {
        if (MoveFileExW(WidePath(from).c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        DWORD error = GetLastError();
        if (attempt >= 20 || (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION)) return false;
        Sleep(50);
    }
}

bool DeleteFileAt(const char* path) { return path && DeleteFileW(WidePath(path).c_str()) != 0; }

bool MakeDirectory(const char* path) {
    return CreateDirectoryW(WidePath(path).c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

bool ExtendFile(FILE* file, int64_t length) {
    if (!file || std::fflush(file) != 0) return false;
    return _chsize_s(_fileno(file), length) == 0;
}

int64_t OpenFileLength(FILE* file) {
    if (!file) return -1;
    int64_t here = _ftelli64(file);
    if (here < 0 || _fseeki64(file, 0, SEEK_END) != 0) return -1;
    int64_t end = _ftelli64(file);
    if (_fseeki64(file, here, SEEK_SET) != 0) return -1;
    return end;
}

bool SeekFile(FILE* file, int64_t offset) { return file && _fseeki64(file, offset, SEEK_SET) == 0; }

int64_t TellFile(FILE* file) { return file ? _ftelli64(file) : -1; }

int CompareNoCase(const char* a, const char* b) { return _stricmp(a, b); }

int CollateNoCase(const char* a, const char* b) { return _stricoll(a, b); }

CollationScope::CollationScope() {
    // The runtime's locale is the whole process's unless a thread asks for its own, and
    // host threads sort names at the same time.
    m_previousThreadMode = _configthreadlocale(_ENABLE_PER_THREAD_LOCALE);
    const char* current = std::setlocale(LC_ALL, nullptr);
    m_previous = current ? current : "C";
    std::setlocale(LC_ALL, ".ACP");
}

CollationScope::~CollationScope() {
    std::setlocale(LC_ALL, m_previous.c_str());
    if (m_previousThreadMode == _DISABLE_PER_THREAD_LOCALE) _configthreadlocale(_DISABLE_PER_THREAD_LOCALE);
}

bool ToLocalTime(int64_t utcSeconds, struct tm* out) {
    __time64_t t = static_cast<__time64_t>(utcSeconds);
    return _localtime64_s(out, &t) == 0;
}

bool HostTimeIsUnixSeconds() { return false; }

bool SetFileWriteTime(const char* path, int64_t utcSeconds) {
    if (!path) return false;
    std::wstring wide = WidePath(path);
    struct _stat64 st;
    if (_wstat64(wide.c_str(), &st) != 0) return false;
    struct __utimbuf64 times;
    times.actime = st.st_atime; // the access time stays as extraction left it
    times.modtime = static_cast<__time64_t>(utcSeconds);
    return _wutime64(wide.c_str(), &times) == 0;
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> args;
    for (int i = 0; i < count; ++i) args.push_back(FromWide(wide[i], CP_UTF8, nullptr));
    LocalFree(wide);
    return args;
}

void* LoadLibraryFile(const char* path, std::string* error) {
    // LoadLibrary searches the DLL path for relative names and wants backslashes; the full
    // path names exactly the file the user meant.
    std::wstring wide = WidePath(path);
    wchar_t full[MAX_PATH];
    DWORD n = GetFullPathNameW(wide.c_str(), MAX_PATH, full, nullptr);
    HMODULE lib = n > 0 && n < MAX_PATH ? LoadLibraryW(full) : LoadLibraryW(wide.c_str());
    if (!lib && error) *error = "LoadLibrary failed with error " + std::to_string(GetLastError());
    return reinterpret_cast<void*>(lib);
}

void* LibrarySymbol(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void CloseLibraryFile(void* library) {
    if (library) FreeLibrary(static_cast<HMODULE>(library));
}

std::string ExecutableDirectory() {
    wchar_t buf[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, buf, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return ".";
    std::string path = FromWide(buf, HostCodePage(), nullptr);
    size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? "." : path.substr(0, cut);
}

const char* PluginFileName() { return sizeof(void*) == 8 ? "kyrzbk.wcx64" : "kyrzbk.wcx"; }

bool IsTerminal(FILE* stream) { return _isatty(_fileno(stream)) != 0; }

bool HasDialogManager() { return true; }

WindowHandle ConsoleWindow() { return GetConsoleWindow(); }

void UseBinaryStandardStreams() {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

int RunCommandLine(const std::string& commandLine) {
    // cmd.exe strips one pair of outer quotes from /c arguments.
    return _wsystem(WidePath(("\"" + commandLine + "\"").c_str()).c_str());
}

std::string QuoteArgument(const std::string& arg) {
    std::string out = "\"";
    for (char c : arg) out += c == '"' ? std::string("\\\"") : std::string(1, c);
    return out + "\"";
}

} // namespace platform

namespace platform {

int AvailableCores() {
    // The processors of the process's own group, which is where its threads run.
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors > 0 ? static_cast<int>(info.dwNumberOfProcessors) : 1;
}

std::string EnvironmentValue(const char* name) {
    if (!name) return "";
    char small[64];
    DWORD n = GetEnvironmentVariableA(name, small, sizeof small);
    if (n == 0) return "";
    if (n < sizeof small) return std::string(small, n);
    std::string value(n, '\0');
    n = GetEnvironmentVariableA(name, &value[0], n);
    value.resize(n);
    return value;
}

bool SetEnvironmentValue(const char* name, const char* value) {
    return name && SetEnvironmentVariableA(name, value) != 0;
}

// The runtime has no copy between two open streams inside the system; the caller copies.
uint64_t CopyFileRange(FILE*, uint64_t, FILE*, uint64_t, uint64_t) { return 0; }

} // namespace platform
