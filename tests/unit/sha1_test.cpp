// The digest of the integrity block, on the published test vectors, through the processor's
// instructions where it has them and through the portable path, fed whole and in pieces.
#include <gtest/gtest.h>

#include <string>

#include "common/sha1.h"

namespace {

std::string Hex(const Sha1Digest& d) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : d) out += {digits[c >> 4], digits[c & 15]};
    return out;
}

std::string DigestInPieces(const std::string& data, size_t piece) {
    Sha1 sha;
    for (size_t at = 0; at < data.size(); at += piece) sha.Update(data.data() + at, std::min(piece, data.size() - at));
    return Hex(sha.Final());
}

TEST(Sha1, PublishedVectorsOnEveryPathAndPieceSize) {
    struct Vector {
        std::string data;
        const char* digest;
    } vectors[] = {
        {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
        {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
         "a49b2446a02c645bf419f995b67091253a04a259"},
        {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
    };
    for (bool portable : {true, false}) {
        Sha1::UsePortableOnly(portable);
        if (!portable && !Sha1::Accelerated()) continue; // this processor has no SHA instructions
        for (const Vector& v : vectors) {
            for (size_t piece : {size_t(1), size_t(55), size_t(64), size_t(65), size_t(1) << 20}) {
                SCOPED_TRACE(std::string(portable ? "portable" : "instructions") + ", " +
                             std::to_string(v.data.size()) + " bytes in pieces of " + std::to_string(piece));
                EXPECT_EQ(DigestInPieces(v.data, piece), v.digest);
            }
        }
    }
    Sha1::UsePortableOnly(false);
}

} // namespace
