// Configuration text parser and encoder: kyrzbk encode, and packing an edited entry back,
// on arbitrary text. Whatever text is accepted must encode to a file that decodes, and
// whose text encodes again to the same bytes, in both layouts.
#include <string>
#include <vector>

#include "config/config_encoder.h"
#include "config/kyr_bin_manager.h"
#include "config/tesk_bin_manager.h"
#include "fuzz/config_fuzz.h"

namespace {

std::string ReadAll(const std::string& path) {
    std::string text;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) std::abort();
    char buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) text.append(buffer, n);
    std::fclose(f);
    return text;
}

// The file's text as extraction writes it; aborts when the decoder refuses the file.
template <typename Manager>
std::string DecodeFile(const std::vector<uint8_t>& bytes) {
    static const std::string& in = fuzz::ScratchPath("kyrzbk-fuzz-text");
    static const std::string out = in + ".cpp";
    fuzz::WriteAll(in, bytes.data(), bytes.size());
    Manager m;
    tOpenArchiveData open = {};
    open.ArcName = const_cast<char*>(in.c_str());
    open.OpenMode = PK_OM_EXTRACT;
    m.OpenArchive(&open);
    tHeaderData h = {};
    if (open.OpenResult != 0 || m.ReadHeader(&h) != 0) std::abort();
    if (m.ProcessFile(PK_EXTRACT, nullptr, const_cast<char*>(out.c_str())) != 0) std::abort();
    std::string text = ReadAll(out);
    std::remove(out.c_str());
    return text;
}

template <typename Manager>
void Check(const uint8_t* data, size_t size, ConfigLayout layout) {
    std::vector<uint8_t> first, second;
    ConfigTextError error;
    if (!EncodeConfigText(reinterpret_cast<const char*>(data), size, layout, &first, &error)) {
        if (error.line < 1 || error.column < 1 || error.message.empty()) std::abort();
        return;
    }
    std::string text = DecodeFile<Manager>(first);
    if (!EncodeConfigText(text.data(), text.size(), layout, &second, &error)) std::abort();
    if (second != first) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    PluginSettings.WriteCppComments = size % 2 == 0;
    Check<CTeskBinManager>(data, size, ConfigLayout::kTesk);
    Check<CKyrBinManager>(data, size, ConfigLayout::kKyr);
    return 0;
}
