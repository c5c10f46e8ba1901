#include "platform/platform.h"

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <sys/utime.h>
#include <windows.h>

#include <clocale>
#include <cstdlib>
#include <cstring>

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

FILE* OpenSharedRead(const char* path) { return path ? _fsopen(path, "rb", _SH_DENYNO) : nullptr; }

static void FillFound(const struct __finddata64_t& fd, FoundFile* out) {
    out->name = fd.name;
    out->size = static_cast<uint64_t>(fd.size);
    out->writeTime = static_cast<int64_t>(fd.time_write);
    out->attrib = (fd.attrib & _A_SUBDIR) ? kAttrDirectory : 0;
}

bool FindFile(const char* path, FoundFile* out) {
    if (!path || !*path) return false;
    struct __finddata64_t fd;
    intptr_t h = _findfirst64(path, &fd);
    if (h == -1) return false;
    FillFound(fd, out);
    _findclose(h);
    return true;
}

bool ListDirectory(const char* dir, std::vector<FoundFile>* out) {
    std::string pattern = dir && *dir ? dir : ".";
    if (!IsSeparator(pattern.back())) pattern += '\\';
    pattern += "*";
    struct __finddata64_t fd;
    intptr_t h = _findfirst64(pattern.c_str(), &fd);
    if (h == -1) return GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        if (!std::strcmp(fd.name, ".") || !std::strcmp(fd.name, "..")) continue;
        FoundFile f;
        FillFound(fd, &f);
        out->push_back(std::move(f));
    } while (_findnext64(h, &fd) == 0);
    _findclose(h);
    return true;
}

FILE* CreateUniqueFile(const std::string& dir, const std::string& prefix, std::string* nameOut) {
    std::string base = dir;
    if (!base.empty() && !IsSeparator(base.back())) base += '\\';
    for (unsigned serial = 1; serial < 100000; ++serial) {
        std::string name = base + prefix + "." + std::to_string(GetCurrentProcessId()) + "." +
                           std::to_string(serial) + ".tmp";
        int fd = _open(name.c_str(), _O_RDWR | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return nullptr;
        }
        FILE* f = _fdopen(fd, "w+b");
        if (!f) {
            _close(fd);
            _unlink(name.c_str());
            return nullptr;
        }
        if (nameOut) *nameOut = name;
        return f;
    }
    return nullptr;
}

bool ReplaceFileAtomically(const char* from, const char* to) {
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool DeleteFileAt(const char* path) { return path && std::remove(path) == 0; }

bool MakeDirectory(const char* path) { return CreateDirectoryA(path, nullptr) || GetLastError() == ERROR_ALREADY_EXISTS; }

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

int CompareNoCase(const char* a, const char* b) { return _stricmp(a, b); }

int CollateNoCase(const char* a, const char* b) { return _stricoll(a, b); }

CollationScope::CollationScope() {
    const char* current = std::setlocale(LC_ALL, nullptr);
    m_previous = current ? current : "C";
    std::setlocale(LC_ALL, ".ACP");
}

CollationScope::~CollationScope() { std::setlocale(LC_ALL, m_previous.c_str()); }

bool ToLocalTime(int64_t utcSeconds, struct tm* out) {
    __time64_t t = static_cast<__time64_t>(utcSeconds);
    return _localtime64_s(out, &t) == 0;
}

bool HostTimeIsUnixSeconds() { return false; }

bool SetFileWriteTime(const char* path, int64_t utcSeconds) {
    struct __stat64 st;
    if (!path || _stat64(path, &st) != 0) return false;
    struct __utimbuf64 times;
    times.actime = st.st_atime; // the access time stays as extraction left it
    times.modtime = static_cast<__time64_t>(utcSeconds);
    return _utime64(path, &times) == 0;
}

void* LoadLibraryFile(const char* path, std::string* error) {
    // LoadLibrary searches the DLL path for relative names and wants backslashes; the full
    // path names exactly the file the user meant.
    char full[MAX_PATH];
    DWORD n = GetFullPathNameA(path, MAX_PATH, full, nullptr);
    HMODULE lib = n > 0 && n < MAX_PATH ? LoadLibraryA(full) : LoadLibraryA(path);
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
    char buf[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, buf, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return ".";
    std::string path(buf, n);
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
    return std::system(("\"" + commandLine + "\"").c_str());
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
