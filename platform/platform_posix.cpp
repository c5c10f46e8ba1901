#include "platform/platform.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sched.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sys/wait.h>

#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <climits>
#include <cstring>

namespace platform {

uint32_t HostFileAttribute() { return 0100644; }

char HostSeparator() { return '/'; }

void ToArchiveSeparators(char* name) {
    for (; name && *name; ++name)
        if (*name == '/') *name = '\\';
}

void ToHostSeparators(char* name) {
    for (; name && *name; ++name)
        if (*name == '\\') *name = '/';
}

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

bool CanStoreName(const char* hostName) { return hostName && !std::strchr(hostName, '\\'); }

namespace {
// Each host thread runs requests of its own; the workers of a pack never read it.
thread_local bool g_wideText = false;
} // namespace

WideTextScope::WideTextScope() : m_previous(g_wideText) { g_wideText = true; }
WideTextScope::~WideTextScope() { g_wideText = m_previous; }
bool HostTextIsWide() { return g_wideText; }

// The file system's names, the stored names and the text of both kinds of request are the
// same bytes: the wide functions' UTF-16 arrives here as UTF-8.
bool ToArchiveText(const std::string& hostText, std::string* out) {
    *out = hostText;
    return true;
}
std::string FromArchiveText(const char* archiveText) { return archiveText ? archiveText : ""; }

FILE* OpenFile(const char* path, const char* mode) { return path ? std::fopen(path, mode) : nullptr; }

FILE* OpenSharedRead(const char* path) { return path ? std::fopen(path, "rb") : nullptr; }

static void FillFound(const struct stat& st, const char* name, FoundFile* out) {
    out->name = name;
    out->size = static_cast<uint64_t>(st.st_size);
    out->writeTime = static_cast<int64_t>(st.st_mtime);
    out->attrib = S_ISDIR(st.st_mode) ? kAttrDirectory : 0;
}

bool FindFile(const char* path, FoundFile* out) {
    struct stat st;
    if (!path || !*path || stat(path, &st) != 0) return false;
    const char* slash = std::strrchr(path, '/');
    FillFound(st, slash && slash[1] ? slash + 1 : path, out);
    return true;
}

bool ListDirectory(const char* dir, std::vector<FoundFile>* out) {
    DIR* d = opendir(dir && *dir ? dir : ".");
    if (!d) return false;
    std::string base = dir && *dir ? dir : ".";
    if (base.back() != '/') base += '/';
    while (struct dirent* e = readdir(d)) {
        if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, "..")) continue;
        struct stat st;
        if (stat((base + e->d_name).c_str(), &st) != 0) continue;
        FoundFile f;
        FillFound(st, e->d_name, &f);
        out->push_back(std::move(f));
    }
    closedir(d);
    return true;
}

FILE* CreateUniqueFile(const std::string& dir, const std::string& prefix, std::string* nameOut) {
    std::string base = dir;
    if (!base.empty() && base.back() != '/') base += '/';
    for (unsigned serial = 1; serial < 100000; ++serial) {
        std::string name = base + prefix + "." + std::to_string(getpid()) + "." + std::to_string(serial) + ".tmp";
        int fd = open(name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0644);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return nullptr;
        }
        FILE* f = fdopen(fd, "w+b");
        if (!f) {
            close(fd);
            unlink(name.c_str());
            return nullptr;
        }
        if (nameOut) *nameOut = name;
        return f;
    }
    return nullptr;
}

bool ReplaceFileAtomically(const char* from, const char* to) { return std::rename(from, to) == 0; }

bool DeleteFileAt(const char* path) { return path && unlink(path) == 0; }

namespace {

std::string FolderPart(const char* path) {
    const char* slash = std::strrchr(path, '/');
    if (!slash) return ".";
    return slash == path ? "/" : std::string(path, static_cast<size_t>(slash - path));
}

// Whether the path still names what the descriptor holds: a change that finished meanwhile
// has renamed a new file over the one that was locked, and a creation that finished has
// made the file whose folder was locked.
bool StillNamed(const char* path, int fd, bool folder) {
    struct stat byPath, held;
    if (stat(path, &byPath) != 0) return folder && errno == ENOENT;
    if (folder) return false;
    return fstat(fd, &held) == 0 && held.st_dev == byPath.st_dev && held.st_ino == byPath.st_ino;
}

} // namespace

FileChangeLock::~FileChangeLock() { Release(); }

void FileChangeLock::Release() {
    // Closing the descriptor ends the flock, which belongs to this open file alone.
    if (m_file >= 0) close(static_cast<int>(m_file));
    m_file = -1;
}

FileChangeLock::Attempt FileChangeLock::TryTake(const char* path) {
    Release();
    if (!path || !*path) return kUnsupported;
    // Each round follows one replacement that happened while locking; a few suffice.
    for (int round = 0; round < 16; ++round) {
        bool folder = false;
        int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        if (fd < 0 && errno == ENOENT) {
            // A file to be created: two creations of one name meet on its folder.
            folder = true;
            fd = open(FolderPart(path).c_str(), O_RDONLY | O_CLOEXEC | O_DIRECTORY);
        }
        // A file that cannot be opened here cannot be changed either: the change reports it.
        if (fd < 0) return kUnsupported;
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            int error = errno;
            close(fd);
            return error == EWOULDBLOCK || error == EINTR ? kBusy : kUnsupported;
        }
        if (StillNamed(path, fd, folder)) {
            m_file = fd;
            return kTaken;
        }
        close(fd);
    }
    return kBusy;
}

std::string ChangeLockKey(const char* path) {
    if (!path) return std::string();
    const char* slash = std::strrchr(path, '/');
    std::string name = slash ? slash + 1 : path;
    char resolved[PATH_MAX];
    if (!realpath(FolderPart(path).c_str(), resolved)) return path;
    std::string key = resolved;
    if (key.back() != '/') key += '/';
    return key + name;
}

void SleepMilliseconds(int milliseconds) {
    struct timespec span;
    span.tv_sec = milliseconds / 1000;
    span.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (nanosleep(&span, &span) != 0 && errno == EINTR) {
    }
}

bool MakeDirectory(const char* path) { return mkdir(path, 0755) == 0 || errno == EEXIST; }

bool ExtendFile(FILE* file, int64_t length) {
    if (!file || std::fflush(file) != 0) return false;
    return ftruncate(fileno(file), static_cast<off_t>(length)) == 0;
}

int64_t OpenFileLength(FILE* file) {
    if (!file) return -1;
    off_t here = ftello(file);
    if (here < 0 || fseeko(file, 0, SEEK_END) != 0) return -1;
    off_t end = ftello(file);
    if (fseeko(file, here, SEEK_SET) != 0) return -1;
    return end;
}

bool SeekFile(FILE* file, int64_t offset) { return file && fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0; }

int64_t TellFile(FILE* file) { return file ? static_cast<int64_t>(ftello(file)) : -1; }

int CompareNoCase(const char* a, const char* b) { return strcasecmp(a, b); }

int CollateNoCase(const char* a, const char* b) { return strcasecmp(a, b); }

CollationScope::CollationScope() {}
CollationScope::~CollationScope() {}

bool ToLocalTime(int64_t utcSeconds, struct tm* out) {
    time_t t = static_cast<time_t>(utcSeconds);
    return localtime_r(&t, out) != nullptr;
}

bool HostTimeIsUnixSeconds() { return true; }

bool SetFileWriteTime(const char* path, int64_t utcSeconds) {
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT; // the access time stays as extraction left it
    times[1].tv_sec = static_cast<time_t>(utcSeconds);
    times[1].tv_nsec = 0;
    return path && utimensat(AT_FDCWD, path, times, 0) == 0;
}

std::vector<std::string> ProgramArguments(int argc, char** argv) { return std::vector<std::string>(argv, argv + argc); }

void* LoadLibraryFile(const char* path, std::string* error) {
    // A bare file name would make dlopen search the library path instead of the current folder.
    std::string file = std::strchr(path, '/') ? path : std::string("./") + path;
    void* lib = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib && error) *error = dlerror();
    return lib;
}

void* LibrarySymbol(void* library, const char* name) { return dlsym(library, name); }

void CloseLibraryFile(void* library) {
    if (library) dlclose(library);
}

std::string ExecutableDirectory() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return ".";
    buf[n] = 0;
    char* slash = std::strrchr(buf, '/');
    if (slash) *slash = 0;
    return buf;
}

const char* PluginFileName() { return "kyrzbk.wcx"; }

bool IsTerminal(FILE* stream) { return isatty(fileno(stream)) != 0; }

bool HasDialogManager() { return false; }

WindowHandle ConsoleWindow() { return nullptr; }

void UseBinaryStandardStreams() {}

int RunCommandLine(const std::string& commandLine) {
    int status = std::system(commandLine.c_str());
    if (status == -1 || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

std::string QuoteArgument(const std::string& arg) {
    std::string out = "'";
    for (char c : arg) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

} // namespace platform

namespace platform {

int AvailableCores() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        int n = CPU_COUNT(&set);
        if (n > 0) return n;
    }
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? static_cast<int>(n) : 1;
}

std::string EnvironmentValue(const char* name) {
    const char* value = name ? std::getenv(name) : nullptr;
    return value ? value : "";
}

bool SetEnvironmentValue(const char* name, const char* value) {
    if (!name) return false;
    return (value ? setenv(name, value, 1) : unsetenv(name)) == 0;
}

uint64_t CopyFileRange(FILE* in, uint64_t inOffset, FILE* out, uint64_t outOffset, uint64_t count) {
    if (!in || !out || std::fflush(out) != 0) return 0;
    off_t from = static_cast<off_t>(inOffset), to = static_cast<off_t>(outOffset);
    uint64_t copied = 0;
    // Any refusal (another file system, a kernel without the call, a file that ends early,
    // an error) ends the kernel's part; the caller's own copy meets and reports a real fault.
    while (copied < count) {
        size_t step = static_cast<size_t>(std::min<uint64_t>(count - copied, 1u << 30));
        ssize_t n = copy_file_range(fileno(in), &from, fileno(out), &to, step, 0);
        if (n <= 0) break;
        copied += static_cast<uint64_t>(n);
    }
    // The explicit offsets leave the descriptors where they were: the stream moves itself.
    if (!SeekFile(out, static_cast<int64_t>(outOffset + copied))) return 0;
    return copied;
}

} // namespace platform
