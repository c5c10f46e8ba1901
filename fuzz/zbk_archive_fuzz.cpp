// Bytes as an archive file: recognise, open, list, extract and test every entry through
// the exported functions, as the file manager would, then delete the first entry.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "frame/exports.h"
#include "platform/platform.h"

namespace {

std::string ScratchPath(const char* what) {
    static const std::string base = [] {
        const char* tmp = std::getenv("TMPDIR");
        return std::string(tmp && *tmp ? tmp : "/tmp") + "/kyrzbk-fuzz-" + std::to_string(reinterpret_cast<uintptr_t>(&base) & 0xFFFFFF);
    }();
    return base + "-" + what;
}

int KYR_CALL Progress(char*, int) { return 1; }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string archive = ScratchPath("archive.zbk");
    std::string target = ScratchPath("entry.out");
    FILE* f = std::fopen(archive.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);

    CanYouHandleThisFile(&archive[0]);
    tOpenArchiveData open = {};
    open.ArcName = &archive[0];
    open.OpenMode = PK_OM_EXTRACT;
    void* handle = OpenArchive(&open);
    std::string firstName;
    if (handle) {
        SetProcessDataProc(handle, Progress);
        tHeaderData header;
        for (int i = 0; i < 100000 && ReadHeader(handle, &header) == 0; ++i) {
            if (i == 0) firstName = header.FileName;
            ProcessFile(handle, i % 3 == 2 ? PK_SKIP : PK_EXTRACT, nullptr, &target[0]);
        }
        CloseArchive(handle);
    }
    // The file manager's test checks the integrity block with the last entry.
    if ((handle = OpenArchive(&open))) {
        tHeaderData header;
        for (int i = 0; i < 100000 && ReadHeader(handle, &header) == 0; ++i) ProcessFile(handle, PK_TEST, nullptr, nullptr);
        CloseArchive(handle);
    }
    // A deletion rewrites the rest: header block kept, integrity block checked and renewed.
    if (!firstName.empty()) {
        firstName.push_back(0);
        SetProcessDataProc(reinterpret_cast<void*>(-1), Progress);
        DeleteFiles(&archive[0], &firstName[0]);
    }
    std::remove(target.c_str());
    return 0;
}
