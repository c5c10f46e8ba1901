// SHA-1 digests, fed in pieces of any size. Archives of the second game end with a digest
// of every byte before it; nothing here is used for security.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

using Sha1Digest = std::array<unsigned char, 20>;

class Sha1 {
public:
    Sha1();
    void Update(const void* bytes, size_t n);
    // The digest of everything given; the object must not be fed afterwards.
    Sha1Digest Final();

    // Whether the processor's SHA instructions are used (checked once, at run time).
    static bool Accelerated();
    // Tests turn the instructions off to check the portable path on the same machine.
    static void UsePortableOnly(bool portable);

private:
    void Blocks(const unsigned char* data, size_t blocks);

    uint32_t m_state[5];
    uint64_t m_length = 0; // bytes given
    unsigned char m_pending[64];
    size_t m_pendingLength = 0;
};
