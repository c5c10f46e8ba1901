// Shared body of the two configuration decoder fuzz targets: every input is opened as the
// host would, listed and extracted, and the two must agree.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "frame/wcx.h"
#include "platform/platform.h"
#include "settings/settings_store.h"

namespace fuzz {

// A scratch file of this process, removed at exit.
inline const std::string& ScratchPath(const char* prefix) {
    static std::string path;
    if (path.empty()) {
        std::error_code ec;
        std::string folder = std::filesystem::temp_directory_path(ec).string();
        FILE* f = platform::CreateUniqueFile(folder, prefix, &path);
        if (!f) std::abort();
        std::fclose(f);
        std::atexit([] { platform::DeleteFileAt(path.c_str()); });
    }
    return path;
}

inline void WriteAll(const std::string& path, const uint8_t* data, size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(data, 1, size, f) != size) std::abort();
    std::fclose(f);
}

inline long FileLength(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return -1;
    std::fseek(f, 0, SEEK_END);
    long n = std::ftell(f);
    std::fclose(f);
    return n;
}

int KYR_CALL GoOn(char*, int) { return 1; }

template <typename Manager>
int RunConfigInput(const uint8_t* data, size_t size) {
    static const std::string& in = ScratchPath("kyrzbk-fuzz-in");
    static const std::string out = in + ".cpp";
    WriteAll(in, data, size);
    PluginSettings.WriteCppComments = size % 2 == 0;

    int listResult = -1, listSize = -1;
    {
        Manager m;
        tOpenArchiveData open = {};
        open.ArcName = const_cast<char*>(in.c_str());
        open.OpenMode = PK_OM_LIST;
        m.OpenArchive(&open);
        if (open.OpenResult != 0) return 0;
        tHeaderData h = {};
        listResult = m.ReadHeader(&h);
        listSize = h.UnpSize;
    }
    Manager m;
    tOpenArchiveData open = {};
    open.ArcName = const_cast<char*>(in.c_str());
    open.OpenMode = PK_OM_EXTRACT;
    m.OpenArchive(&open);
    if (open.OpenResult != 0) std::abort(); // accepted once, accepted always
    m.SetProcessDataProc(GoOn);
    tHeaderData h = {};
    if (m.ReadHeader(&h) != 0) std::abort();
    std::remove(out.c_str());
    int extractResult = m.ProcessFile(PK_EXTRACT, nullptr, const_cast<char*>(out.c_str()));
    // Listing and extracting decode the same file: same verdict, and the listed size is what
    // extraction writes.
    if (extractResult != listResult) std::abort();
    long written = FileLength(out);
    if (extractResult == 0 && written != listSize) std::abort();
    if (extractResult != 0 && written != -1) std::abort();
    std::remove(out.c_str());
    return 0;
}

} // namespace fuzz
