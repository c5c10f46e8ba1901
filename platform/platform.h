// The one seam between the plug-in and the operating system. Everything that differs
// between the Windows runtime and POSIX is declared here and implemented twice.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#if defined(_WIN32)
#define KYR_CALL __stdcall
// The Windows exports are named by the module-definition file.
#define KYR_EXPORT extern "C"
#else
#define KYR_CALL
#define KYR_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace platform {

// Host window and module handles travel through the plug-in as opaque values.
using WindowHandle = void*;
using ModuleHandle = void*;

// The directory bit of a directory search result, as the Windows runtime reports it.
constexpr uint32_t kAttrDirectory = 0x10;

// What a directory search tells about one file.
struct FoundFile {
    std::string name;      // last path component
    uint64_t size = 0;     // bytes
    int64_t writeTime = 0; // seconds since 1970 UTC
    uint32_t attrib = 0;   // kAttrDirectory for folders
    // False when the system's name has no exact form in the text in force (an ANSI request
    // on Windows meeting a name outside the code page): such a file cannot be opened by
    // `name`, nor stored under it.
    bool exact = true;
};

// The text of a request. The wide functions of the host interface hand the plug-in UTF-8
// (converted from the host's UTF-16) while they run, the ANSI functions the system's ANSI
// code page; every path given to the functions here is read in the text in force. On POSIX
// both are the bytes of the file system, taken to be UTF-8.
class WideTextScope {
public:
    WideTextScope();
    ~WideTextScope();
    WideTextScope(const WideTextScope&) = delete;
    WideTextScope& operator=(const WideTextScope&) = delete;

private:
    bool m_previous;
};
bool HostTextIsWide();

// Entry names in archives are bytes in the form a host of the ANSI functions shows: the
// ANSI code page on Windows, UTF-8 on POSIX. Host text (a file or entry name as a request
// gives it) -> stored bytes; false when a character has no exact form there.
bool ToArchiveText(const std::string& hostText, std::string* out);
// Stored bytes -> host text, for names shown, reported or turned into paths.
std::string FromArchiveText(const char* archiveText);

// FileAttr value handed to the host for every entry: the archive attribute on Windows,
// a regular file with mode 0644 for the POSIX file managers.
uint32_t HostFileAttribute();

// Separator that host paths use; archives always store '\'.
char HostSeparator();
// Host name -> archive name ('/' becomes '\' where the host uses '/').
void ToArchiveSeparators(char* name);
// Archive name -> host name.
void ToHostSeparators(char* name);
bool IsSeparator(char c);
// Whether a file's name (one path component, or a relative path in host form) can be
// stored in an archive and come back unchanged. On POSIX a '\' is an ordinary character of
// a name, which archives would take for a folder separator.
bool CanStoreName(const char* hostName);

// Opens a file with a C library mode ("rb", "wb", "ab").
FILE* OpenFile(const char* path, const char* mode);
// Opens a file for binary reading while other programs may read and write it.
FILE* OpenSharedRead(const char* path);

// Looks up one path; false when it does not exist.
bool FindFile(const char* path, FoundFile* out);
// Lists a folder's entries without "." and ".."; false when it cannot be read.
bool ListDirectory(const char* dir, std::vector<FoundFile>* out);

// Creates a new file that did not exist before, in `dir` (or the current folder when empty),
// named prefix + serial number, opened for binary writing; null when impossible.
FILE* CreateUniqueFile(const std::string& dir, const std::string& prefix, std::string* nameOut);
// Replaces `to` by `from` in one step; the old `to` stays when it fails.
bool ReplaceFileAtomically(const char* from, const char* to);
bool DeleteFileAt(const char* path);
// The hold that one change of a file keeps against changes of the same file by other
// processes. POSIX: an advisory lock (flock) on the file itself, or on its folder while the
// file does not exist yet. Windows: a mutex named after the file's full path, for this
// machine, and a lock on a byte range far beyond the file's end, against other machines;
// the file handle behind the latter is closed when the file is replaced, since Windows
// replaces no open file. Nothing is created in the user's folders, and readers are never
// blocked. Threads of one process are told apart only on some systems: the caller keeps
// its own table for them.
class FileChangeLock {
public:
    enum Attempt {
        kTaken,       // held until Release or destruction
        kBusy,        // another change holds it; nothing is held
        kUnsupported, // the system keeps no such locks here; nothing is held
    };
    FileChangeLock() = default;
    ~FileChangeLock();
    FileChangeLock(const FileChangeLock&) = delete;
    FileChangeLock& operator=(const FileChangeLock&) = delete;

    // One attempt, without waiting. A file replaced while it was being locked is locked
    // again under its new identity, so the hold is always on what the path names now.
    Attempt TryTake(const char* path);
    void Release();

private:
    intptr_t m_file = -1;  // descriptor or handle of the locked file (or folder)
    intptr_t m_guard = -1; // Windows: the named mutex
};
// The name under which a path is held inside this process: the same for every spelling of
// one file's path that names it through the same folder.
std::string ChangeLockKey(const char* path);
void SleepMilliseconds(int milliseconds);

bool MakeDirectory(const char* path);

// Sets an open file's length, extending with zero bytes.
bool ExtendFile(FILE* file, int64_t length);
// Moves to an absolute offset; false on failure.
bool SeekFile(FILE* file, int64_t offset);
// The absolute offset of an open file, or -1.
int64_t TellFile(FILE* file);
// Length of an open file, or -1.
int64_t OpenFileLength(FILE* file);

// Case-insensitive comparison of the runtime, and the collation used to order names.
int CompareNoCase(const char* a, const char* b);
int CollateNoCase(const char* a, const char* b);
// Puts the user's ANSI code page locale in force while it lives (Windows), restoring the
// previous one afterwards, for the calling thread only; on POSIX collation is byte-wise
// and this does nothing.
class CollationScope {
public:
    CollationScope();
    ~CollationScope();
    CollationScope(const CollationScope&) = delete;
    CollationScope& operator=(const CollationScope&) = delete;

private:
    std::string m_previous;
    int m_previousThreadMode = 0; // Windows: whether this thread had a locale of its own
};

// Local calendar time of a UTC time stamp; false when it cannot be represented.
bool ToLocalTime(int64_t utcSeconds, struct tm* out);
// How the host reads a header's FileTime: the file managers on POSIX take it as Unix
// seconds, the Windows file manager as the MS-DOS packed local date and time.
bool HostTimeIsUnixSeconds();
// Gives a file its last-write time (UTC seconds); false when the system refuses.
bool SetFileWriteTime(const char* path, int64_t utcSeconds);

// The program's arguments as UTF-8: Windows hands a console program its arguments in the
// ANSI code page, so they are read from the wide command line instead.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Dynamic loading, used by the command-line host.
void* LoadLibraryFile(const char* path, std::string* error);
void* LibrarySymbol(void* library, const char* name);
void CloseLibraryFile(void* library);
std::string ExecutableDirectory();
// File name of the plug-in binary this build makes.
const char* PluginFileName();
bool IsTerminal(FILE* stream);
// Whether a plug-in can show dialogs here: only the Windows builds have a dialog manager.
bool HasDialogManager();
// The window that owns dialogs a console program opens: its console window, or null.
WindowHandle ConsoleWindow();
// Makes stdout and stderr pass bytes through unchanged, so that a listing or an entry
// written to a pipe is the same on every platform (no CR inserted before LF).
void UseBinaryStandardStreams();
// Runs a command line through the system's shell; returns its exit status, or -1.
int RunCommandLine(const std::string& commandLine);
// Quotes one argument for RunCommandLine.
std::string QuoteArgument(const std::string& arg);

// Processors this process may run on; at least 1.
int AvailableCores();
// The process environment as the system keeps it, so that the host and the plug-in see
// one value even where each has a runtime library of its own. Empty when unset.
std::string EnvironmentValue(const char* name);
bool SetEnvironmentValue(const char* name, const char* value);
// Copies `count` bytes at `inOffset` of `in` to `outOffset` of `out` inside the kernel, with
// `out`'s buffered bytes written first and `out` left positioned after what was copied.
// Returns the bytes so copied: fewer, or 0, wherever the system refuses or stops, and
// always 0 where there is no such copy; the caller copies the rest itself.
uint64_t CopyFileRange(FILE* in, uint64_t inOffset, FILE* out, uint64_t outOffset, uint64_t count);

} // namespace platform
