#include "frame/wcx.h"

namespace {
struct CodeText {
    int code;
    const char* name;
    const char* meaning;
};
const CodeText kCodes[] = {
    {E_SUCCESS, "OK", "success"},
    {E_END_ARCHIVE, "E_END_ARCHIVE", "no more entries"},
    {E_NO_MEMORY, "E_NO_MEMORY", "not enough memory"},
    {E_BAD_DATA, "E_BAD_DATA", "malformed data"},
    {E_BAD_ARCHIVE, "E_BAD_ARCHIVE", "checksum mismatch in extracted data"},
    {E_UNKNOWN_FORMAT, "E_UNKNOWN_FORMAT", "unknown file format"},
    {E_EOPEN, "E_EOPEN", "cannot open file"},
    {E_ECREATE, "E_ECREATE", "cannot create file"},
    {E_ECLOSE, "E_ECLOSE", "cannot close file"},
    {E_EREAD, "E_EREAD", "read error"},
    {E_EWRITE, "E_EWRITE", "write error"},
    {E_SMALL_BUF, "E_SMALL_BUF", "buffer too small"},
    {E_EABORTED, "E_EABORTED", "aborted by the user"},
    {E_NO_FILES, "E_NO_FILES", "no files found"},
    {E_TOO_MANY_FILES, "E_TOO_MANY_FILES", "too many files"},
    {E_NOT_SUPPORTED, "E_NOT_SUPPORTED", "operation not supported"},
};
const CodeText* Lookup(int code) {
    for (const CodeText& c : kCodes)
        if (c.code == code) return &c;
    return nullptr;
}
} // namespace

const char* ResultCodeName(int code) {
    const CodeText* c = Lookup(code);
    return c ? c->name : "UNKNOWN";
}

const char* ResultCodeMeaning(int code) {
    const CodeText* c = Lookup(code);
    return c ? c->meaning : "unknown result code";
}
