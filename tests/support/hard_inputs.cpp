#include "tests/support/hard_inputs.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>

namespace hard_inputs {
namespace {

constexpr size_t kPrefix = 18;

struct Maker {
    std::mt19937 rng;
    explicit Maker(unsigned seed) : rng(seed) {}
    unsigned Pick(unsigned bound) { return unsigned(rng() % bound); }
    unsigned char Byte(unsigned bound = 256) { return static_cast<unsigned char>(Pick(bound)); }

    Bytes Letters(const char* alphabet, size_t n) {
        const unsigned count = unsigned(std::strlen(alphabet));
        Bytes out(n);
        for (auto& b : out) b = static_cast<unsigned char>(alphabet[Pick(count)]);
        return out;
    }

    // Pixels of one colour with a stray pixel now and then, colour areas of thousands
    // of pixels: the textures of one colour that games hold.
    Bytes StrayPixels(size_t n) {
        Bytes out;
        unsigned char colour[4] = {Byte(), Byte(), Byte(), 0xFF};
        while (out.size() < n) {
            if (Pick(6000) == 0)
                for (auto& c : colour) c = Byte();
            for (unsigned char c : colour) out.push_back(Pick(500) == 0 ? Byte() : c);
        }
        return out;
    }

    // A unit repeated with a period of 3 to 40 bytes and a byte changed now and then.
    Bytes BrokenPeriods(size_t n) {
        Bytes out;
        while (out.size() < n) {
            Bytes unit = Letters("abcdefghijklmnop", 3 + Pick(38));
            const size_t length = 2000 + Pick(20000);
            for (size_t k = 0; k < length; ++k) {
                out.push_back(unit[k % unit.size()]);
                if (Pick(300) == 0) out.back() ^= 0x20;
            }
        }
        return out;
    }

    // A unit, another one for most of a window, then the first again with a byte changed
    // now and then: after each change the searches find the first stretch before the
    // one they are in, until it leaves the window.
    Bytes ReturningPeriods(size_t n) {
        Bytes out;
        auto repeat = [&](const Bytes& unit, size_t length, unsigned breakEvery) {
            for (size_t k = 0; k < length; ++k) {
                out.push_back(unit[k % unit.size()]);
                if (breakEvery && Pick(breakEvery) == 0) out.back() ^= 0x20;
            }
        };
        while (out.size() < n) {
            const Bytes unit = Letters("abcdefgh", 3 + Pick(14)), other = Letters("ijklmnop", 3 + Pick(14));
            repeat(unit, 100 + Pick(600), 0);
            repeat(other, 2500 + Pick(1500), 0);
            repeat(unit, 1000 + Pick(3000), 60 + Pick(200));
        }
        return out;
    }

    // Long runs of one byte, then stretches that are almost runs: the byte again and
    // again with another byte every few places.
    Bytes RunsAndNearRuns(size_t n) {
        Bytes out;
        while (out.size() < n) {
            const unsigned char b = Pick(3) ? 0 : Byte(4);
            out.insert(out.end(), 18 + Pick(3000), b);
            const size_t near = 50 + Pick(2000);
            for (size_t k = 0; k < near; ++k) out.push_back(Pick(9) ? b : static_cast<unsigned char>(b + 1 + Pick(3)));
        }
        return out;
    }

    // Short runs of a few bytes, each followed by one of few bytes: many runs alike.
    Bytes ShortRuns(size_t n) {
        Bytes out;
        while (out.size() < n) {
            out.insert(out.end(), 3 + Pick(16), static_cast<unsigned char>(Pick(3)));
            out.push_back(static_cast<unsigned char>(Pick(3)));
        }
        return out;
    }

    // Records that all start with the same key and differ after it: every place in the
    // window is on one chain and none is long.
    Bytes CrowdedKey(size_t n) {
        Bytes out;
        while (out.size() < n) {
            out.insert(out.end(), {'k', 'e', 'y'});
            for (int k = 0; k < 2 + int(Pick(3)); ++k) out.push_back(Byte(64));
        }
        return out;
    }

    // Records that share 17 bytes, so that every place nearly matches all 18.
    Bytes NearlyFull(size_t n) {
        Bytes record = Letters("abcdefghijklmnopqrstuvwxyz", 17);
        Bytes out;
        while (out.size() < n) {
            out.insert(out.end(), record.begin(), record.end());
            out.push_back(Byte());
        }
        return out;
    }

    // Lines of boilerplate that all start alike, far more of them than the searches
    // remember answers for, each back again and again in no order: long walks that end at
    // all 18 bytes, for bytes sought before and forgotten since.
    Bytes ManyRecords(size_t n) {
        std::vector<Bytes> records;
        for (int k = 0; k < 300; ++k) {
            Bytes record = {'#', 'd', 'e', 'f', 'i', 'n', 'e', ' '};
            const Bytes name = Letters("ABCDEFGHIJKLMNOPQRSTUVWXYZ_", 16 + Pick(40));
            record.insert(record.end(), name.begin(), name.end());
            record.push_back('\n');
            records.push_back(record);
        }
        Bytes out;
        while (out.size() < n) {
            const Bytes& record = records[Pick(Pick(2) ? 40 : 300)]; // a few often, most now and then
            out.insert(out.end(), record.begin(), record.end());
        }
        return out;
    }

    // Records of 33 to 4,000 bytes, each repeated for a few windows, with a byte changed
    // in `breakPercent` of the records.
    Bytes Records(size_t n, unsigned breakPercent) {
        Bytes out;
        while (out.size() < n) {
            const size_t period = 33 + Pick(3968);
            const Bytes table = RepeatedRecords(period, breakPercent, 4 * period + Pick(40000), unsigned(rng()));
            out.insert(out.end(), table.begin(), table.end());
        }
        return out;
    }

    // Records of 33 to 1,000 bytes over three symbols, zero one of them, with a byte
    // changed in 20 % of the records, to one of them or to any byte: every key comes back
    // dozens of times within a record, zeros make runs, and a changed byte makes a key as
    // common as the others or a rare one, so the chains a record's search follows are as
    // long as they get.
    Bytes CrowdedRecords(size_t n) {
        Bytes out;
        while (out.size() < n) {
            static const unsigned char kSymbols[] = {'a', 'b', 0};
            Bytes record(33 + Pick(968));
            for (auto& b : record) b = kSymbols[Pick(3)];
            Bytes table;
            for (size_t k = 0; k < 4 + Pick(40); ++k) table.insert(table.end(), record.begin(), record.end());
            for (size_t at = 0; at < table.size(); at += record.size())
                if (Pick(5) == 0) table[at + Pick(unsigned(record.size()))] = Pick(2) ? kSymbols[Pick(3)] : Byte();
            out.insert(out.end(), table.begin(), table.end());
        }
        return out;
    }

    // Spaces with a letter now and then, which keep meeting the prefix.
    Bytes Indentation(size_t n) {
        Bytes out;
        while (out.size() < n) {
            out.insert(out.end(), 4 * Pick(8), ' ');
            Bytes word = Letters("abcdefgh", 1 + Pick(8));
            out.insert(out.end(), word.begin(), word.end());
            out.push_back('\n');
        }
        return out;
    }
};

} // namespace

std::vector<Input> Adversarial(size_t n) {
    Maker m(2026);
    std::vector<Input> inputs = {
        {"two letters", m.Letters("ab", n)},
        {"four letters", m.Letters("acgt", n)},
        {"stray pixels", m.StrayPixels(n)},
        {"broken periods", m.BrokenPeriods(n)},
        {"returning periods", m.ReturningPeriods(n)},
        {"runs and near runs", m.RunsAndNearRuns(n)},
        {"short runs alike", m.ShortRuns(n)},
        {"crowded key", m.CrowdedKey(n)},
        {"nearly full matches", m.NearlyFull(n)},
        {"indentation", m.Indentation(n)},
        {"many records", m.ManyRecords(n)},
        {"forgotten runs", ForgottenRuns(n / 7, 5)},
        {"repeated records", m.Records(n, 0)},
        {"repeated records with breaks", m.Records(n, 2)},
        {"repeated records often broken", m.Records(n, 20)},
        {"crowded records", m.CrowdedRecords(n)},
    };
    for (Input& input : inputs)
        if (input.bytes.size() > n) input.bytes.resize(n);
    return inputs;
}

Bytes ForgottenRuns(size_t runs, unsigned seed) {
    Maker m(seed);
    constexpr unsigned char kRare = 6;
    Bytes out;
    for (size_t k = 0; k < runs; ++k) {
        unsigned char b = m.Byte();
        if (b == kRare) b = kRare + 1;
        out.insert(out.end(), 3 + m.Pick(5), b);
        out.push_back(m.Byte());
    }
    out.insert(out.end(), 5, 5);
    out.insert(out.end(), 15, kRare);
    out.push_back(7);
    return out;
}

Bytes RepeatedRecords(size_t period, unsigned breakPercent, size_t n, unsigned seed) {
    Maker m(seed);
    static const char kFields[] = "0123456789 ,;:()$.-_abcdefxyz\t\n";
    Bytes record(period);
    for (auto& b : record) b = m.Pick(8) == 0 ? 0 : static_cast<unsigned char>(kFields[m.Pick(sizeof kFields - 1)]);
    Bytes out;
    out.reserve(n + period);
    while (out.size() < n) {
        const size_t start = out.size();
        out.insert(out.end(), record.begin(), record.end());
        if (m.Pick(100) < breakPercent) out[start + m.Pick(unsigned(period))] ^= static_cast<unsigned char>(1 + m.Pick(255));
    }
    out.resize(n);
    return out;
}

std::string CorpusDir() {
    const char* dir = std::getenv("KYRZBK_CORPUS");
    return dir ? dir : "";
}

const std::vector<std::string>& CorpusKinds() {
    static const std::vector<std::string> kinds = {"headers", "libraries", "text", "images", "meshes", "textures", "records"};
    return kinds;
}

Bytes ReadCorpus(const std::string& dir, const std::string& kind, size_t limit) {
    std::ifstream in(dir + "/" + kind + ".dat", std::ios::binary);
    Bytes bytes(limit);
    in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(limit));
    bytes.resize(size_t(in.gcount()));
    return bytes;
}

Bytes Compress(Compressor compress, const Bytes& file, double* seconds) {
    const size_t n = kPrefix + file.size();
    auto* data = static_cast<unsigned char*>(std::malloc(n));
    std::memset(data, 0x20, kPrefix);
    if (!file.empty()) std::memcpy(data + kPrefix, file.data(), file.size());
    int32_t size = int32_t(n);
    const auto start = std::chrono::steady_clock::now();
    const int result = compress(&data, &size, nullptr, nullptr);
    if (seconds) *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    Bytes stream;
    if (result == 0) stream.assign(data, data + size);
    std::free(data);
    return stream;
}

} // namespace hard_inputs
