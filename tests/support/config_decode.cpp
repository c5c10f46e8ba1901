#include "tests/support/config_decode.h"

#include <cstring>

#include "config/kyr_bin_manager.h"
#include "config/tesk_bin_manager.h"
#include "tests/support/temp_dir.h"

namespace cfg {

namespace {

std::vector<std::pair<std::string, int>>* g_progress = nullptr;
int g_abortAt = 0;

int KYR_CALL RecordProgress(char* text, int count) {
    g_progress->emplace_back(text ? text : "<null>", count);
    return static_cast<int>(g_progress->size()) == g_abortAt ? 0 : 1;
}

DecodeRun Run(Variant variant, const Bytes& bytes, const std::string& fileName, int mode, int abortAt) {
    TempDir dir;
    std::string path = dir.File(fileName);
    SaveConfig(path, bytes);
    DecodeRun run;
    g_progress = &run.progress;
    g_abortAt = abortAt;
    auto manager = MakeConfigManager(variant);
    std::vector<char> arcName(path.begin(), path.end());
    arcName.push_back(0);
    tOpenArchiveData open = {};
    open.ArcName = arcName.data();
    open.OpenMode = mode;
    manager->OpenArchive(&open);
    run.openResult = open.OpenResult;
    if (run.openResult == 0) {
        manager->SetProcessDataProc(RecordProgress);
        run.headerResult = manager->ReadHeader(&run.header);
        if (mode == PK_OM_EXTRACT && run.headerResult == 0) {
            std::string out = dir.File("out.cpp");
            std::vector<char> dest(out.begin(), out.end());
            dest.push_back(0);
            run.processResult = manager->ProcessFile(PK_EXTRACT, nullptr, dest.data());
            run.written = FileExists(out);
            if (run.written) run.text = ReadFileText(out);
        }
    }
    g_progress = nullptr;
    return run;
}

} // namespace

std::unique_ptr<CKyrArchiveManager> MakeConfigManager(Variant variant) {
    if (variant == Variant::kTesk) return std::make_unique<CTeskBinManager>();
    return std::make_unique<CKyrBinManager>();
}

DecodeRun ExtractConfig(Variant variant, const Bytes& bytes, const std::string& fileName, int abortAt) {
    return Run(variant, bytes, fileName, PK_OM_EXTRACT, abortAt);
}

DecodeRun ListConfig(Variant variant, const Bytes& bytes, const std::string& fileName) {
    return Run(variant, bytes, fileName, PK_OM_LIST, 0);
}

} // namespace cfg
