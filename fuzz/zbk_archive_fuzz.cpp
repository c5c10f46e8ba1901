// Bytes as an archive file: recognise, open, list and extract every entry through the
// exported functions, as the file manager would.
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
    if (handle) {
        SetProcessDataProc(handle, Progress);
        tHeaderData header;
        for (int i = 0; i < 100000 && ReadHeader(handle, &header) == 0; ++i)
            ProcessFile(handle, i % 3 == 2 ? PK_SKIP : PK_EXTRACT, nullptr, &target[0]);
        CloseArchive(handle);
    }
    std::remove(target.c_str());
    return 0;
}
