// The host's packer plug-in interface: records, callbacks, result codes and flags,
// laid out as the host publishes them.
#pragma once

#include <cstdint>

#include "platform/platform.h"

enum {
    E_SUCCESS = 0,
    E_END_ARCHIVE = 10,
    E_NO_MEMORY = 11,
    E_BAD_DATA = 12,
    E_BAD_ARCHIVE = 13,
    E_UNKNOWN_FORMAT = 14,
    E_EOPEN = 15,
    E_ECREATE = 16,
    E_ECLOSE = 17,
    E_EREAD = 18,
    E_EWRITE = 19,
    E_SMALL_BUF = 20,
    E_EABORTED = 21,
    E_NO_FILES = 22,
    E_TOO_MANY_FILES = 23,
    E_NOT_SUPPORTED = 24,
};

enum { PK_OM_LIST = 0, PK_OM_EXTRACT = 1 };
enum { PK_SKIP = 0, PK_TEST = 1, PK_EXTRACT = 2 };
enum {
    PK_CAPS_NEW = 1,
    PK_CAPS_MODIFY = 2,
    PK_CAPS_MULTIPLE = 4,
    PK_CAPS_DELETE = 8,
    PK_CAPS_OPTIONS = 16,
    PK_CAPS_MEMPACK = 32,
    PK_CAPS_BY_CONTENT = 64,
};
enum { PK_PACK_MOVE_FILES = 1, PK_PACK_SAVE_PATHS = 2 };

constexpr int kHostPathMax = 260;

// Progress counts as the hosts read them: a positive count is bytes processed since the
// last call, added up towards the operation's total; -1 to -100 set the current item's
// percentage and -1000 to -1100 the whole operation's. A host may divide a byte count by a
// total of 0 (a deletion has none), so operations without bytes report percentages only.
constexpr int kWholeOperationPercent = -1000;
// A long item reports at least every this many bytes, so that the host's bar moves and a
// stop is heard while it is worked on.
constexpr uint64_t kLongItemReportBytes = 8u << 20;
inline int WholeOperationProgress(uint64_t done, uint64_t total) {
    uint64_t percent = total == 0 || done >= total ? 100 : done * 100 / total;
    return kWholeOperationPercent - static_cast<int>(percent);
}

typedef int(KYR_CALL* tChangeVolProc)(char* ArcName, int Mode);
typedef int(KYR_CALL* tProcessDataProc)(char* FileName, int Size);

struct tOpenArchiveData {
    char* ArcName;
    int OpenMode;
    int OpenResult;
    char* CmtBuf;
    int CmtBufSize;
    int CmtSize;
    int CmtState;
};

struct tHeaderData {
    char ArcName[kHostPathMax];
    char FileName[kHostPathMax];
    int Flags;
    int PackSize;
    int UnpSize;
    int HostOS;
    int FileCRC;
    int FileTime;
    int UnpVer;
    int Method;
    int FileAttr;
    char* CmtBuf;
    int CmtBufSize;
    int CmtSize;
    int CmtState;
};

struct PackDefaultParamStruct {
    int size;
    uint32_t PluginInterfaceVersionLow;
    uint32_t PluginInterfaceVersionHi;
    char DefaultIniName[kHostPathMax];
};

// The interface's wide and 64-bit records. The host's WCHAR is a 16-bit UTF-16 code unit on
// every platform, also where the compiler's wchar_t has 32 bits (Linux).
using WideChar = char16_t;
constexpr int kHostLongNameMax = 1024;

typedef int(KYR_CALL* tChangeVolProcW)(WideChar* ArcName, int Mode);
typedef int(KYR_CALL* tProcessDataProcW)(WideChar* FileName, int Size);

struct tOpenArchiveDataW {
    WideChar* ArcName;
    int OpenMode;
    int OpenResult;
    WideChar* CmtBuf;
    int CmtBufSize;
    int CmtSize;
    int CmtState;
};

// The fields after the two names, shared by the ANSI and the wide form.
#define KYR_HEADER_EX_FIELDS \
    int Flags;               \
    unsigned int PackSize;   \
    unsigned int PackSizeHigh; \
    unsigned int UnpSize;    \
    unsigned int UnpSizeHigh; \
    int HostOS;              \
    int FileCRC;             \
    int FileTime;            \
    int UnpVer;              \
    int Method;              \
    int FileAttr;            \
    char* CmtBuf;            \
    int CmtBufSize;          \
    int CmtSize;             \
    int CmtState;            \
    char Reserved[1024];

struct tHeaderDataEx {
    char ArcName[kHostLongNameMax];
    char FileName[kHostLongNameMax];
    KYR_HEADER_EX_FIELDS
};

struct tHeaderDataExW {
    WideChar ArcName[kHostLongNameMax];
    WideChar FileName[kHostLongNameMax];
    KYR_HEADER_EX_FIELDS
};
#undef KYR_HEADER_EX_FIELDS

// Record sizes fill a host record of either width. The older record's fields are signed:
// a size of 2 GiB or more shows as the largest they hold, never as a negative size, and
// the wide and Ex records carry the whole value.
inline int ClampedHeaderSize(uint64_t size) { return size > INT32_MAX ? INT32_MAX : static_cast<int>(size); }
inline void SetHeaderSizes(tHeaderData* h, uint64_t pack, uint64_t unp) {
    h->PackSize = ClampedHeaderSize(pack);
    h->UnpSize = ClampedHeaderSize(unp);
}
inline void SetHeaderSizes(tHeaderDataEx* h, uint64_t pack, uint64_t unp) {
    h->PackSize = static_cast<unsigned int>(pack);
    h->PackSizeHigh = static_cast<unsigned int>(pack >> 32);
    h->UnpSize = static_cast<unsigned int>(unp);
    h->UnpSizeHigh = static_cast<unsigned int>(unp >> 32);
}

static_assert(sizeof(PackDefaultParamStruct) == 272, "host record layout");
static_assert(sizeof(void*) != 4 || sizeof(tOpenArchiveDataW) == 28, "host record layout");
static_assert(sizeof(void*) != 4 || sizeof(tHeaderDataEx) == 3132, "host record layout");
static_assert(sizeof(void*) != 4 || sizeof(tHeaderDataExW) == 5180, "host record layout");
static_assert(sizeof(void*) != 8 || sizeof(tHeaderDataExW) == 5192, "host record layout");
static_assert(sizeof(void*) != 4 || sizeof(tOpenArchiveData) == 28, "host record layout");
static_assert(sizeof(void*) != 4 || sizeof(tHeaderData) == 572, "host record layout");
static_assert(sizeof(void*) != 8 || sizeof(tHeaderData) == 584, "host record layout");

// Human-readable meaning of a result code, for messages.
const char* ResultCodeName(int code);
const char* ResultCodeMeaning(int code);
