// Windows of the real-file corpus (bench/make_corpus.py; KYRZBK_CORPUS names its folder),
// changed in small ways, through the compressor with the same oracle as compress_fuzz:
// real data of every kind is where the searches' costs hide, and random bytes rarely
// look like it.
//
// Input: byte 0 picks the corpus file, bytes 1-4 the window's start, bytes 5-7 its length
// (up to 4 MiB); every 4 bytes after that change the window: set a byte, write a run,
// copy a stretch from elsewhere in the window, or flip bits.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/compress_check.h"

namespace {

using Bytes = std::vector<unsigned char>;

constexpr size_t kMaxWindow = size_t(4) << 20;

std::vector<Bytes> LoadCorpus() {
    const char* dir = std::getenv("KYRZBK_CORPUS");
    std::string root = dir && *dir ? dir : KYRZBK_DEFAULT_CORPUS;
    std::vector<Bytes> files;
    for (const char* kind : {"headers", "libraries", "text", "images", "meshes", "textures", "records"}) {
        std::ifstream in(root + "/" + kind + ".dat", std::ios::binary);
        Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (bytes.size() >= 64) files.push_back(std::move(bytes));
    }
    if (files.empty()) {
        std::fprintf(stderr, "no corpus in %s: run bench/make_corpus.py, or set KYRZBK_CORPUS\n", root.c_str());
        std::exit(1);
    }
    return files;
}

uint32_t Read(const uint8_t* p, int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) v |= uint32_t(p[i]) << (8 * i);
    return v;
}

// A place in the window from two bytes of a change.
size_t Place(const uint8_t* p, size_t size) { return size_t((uint64_t(p[0] | p[1] << 8) * size) >> 16); }

void Change(Bytes& window, const uint8_t* op) {
    const size_t at = Place(op + 1, window.size());
    switch (op[0] & 3) {
    case 0:
        window[at] = op[3];
        break;
    case 1: { // a run of one byte, up to 255 long
        const size_t n = std::min<size_t>(op[3], window.size() - at);
        std::fill(window.begin() + long(at), window.begin() + long(at + n), static_cast<unsigned char>(op[0] >> 2));
        break;
    }
    case 2: { // a copy of up to 255 bytes from up to 8 KiB before
        const size_t from = at > size_t(op[3]) * 32 ? at - size_t(op[3]) * 32 : 0;
        const size_t n = std::min<size_t>(op[0] | 3, window.size() - at);
        for (size_t k = 0; k < n; ++k) window[at + k] = window[from + k];
        break;
    }
    default:
        window[at] ^= static_cast<unsigned char>(op[3] | 1);
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t length) {
    static const std::vector<Bytes> files = LoadCorpus();
    if (length < 8) return 0;
    const Bytes& file = files[bytes[0] % files.size()];
    const size_t start = Read(bytes + 1, 4) % file.size();
    const size_t wanted = std::min<size_t>(3 + Read(bytes + 5, 3) % kMaxWindow, file.size() - start);
    if (wanted < 3) return 0;
    Bytes input(kWindowPrefixLength, 0x20);
    input.insert(input.end(), file.begin() + long(start), file.begin() + long(start + wanted));
    Bytes window(input.begin() + kWindowPrefixLength, input.end());
    for (size_t k = 8; k + 4 <= length; k += 4) Change(window, bytes + k);
    std::copy(window.begin(), window.end(), input.begin() + kWindowPrefixLength);
    fuzz::CheckCompression(input, true);
    return 0;
}
