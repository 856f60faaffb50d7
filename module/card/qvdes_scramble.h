// The scrambled form in which the DES key storage holds a 16-byte two-key
// triple-DES key: a 35-byte value whose bytes 0-3, 8-11, 16-19 and 24-27 carry the
// key bytes, each XORed with a fixed byte and with one bit whose position depends
// on the key byte's index; the other bytes are filler. The build's key generator
// and the storage share these rules, so they cannot drift apart.
#pragma once

enum : unsigned { QVDES_SCRAMBLED_LENGTH = 35, QVDES_SCRAMBLED_KEY_LENGTH = 16 };

// Where key byte k (0-15) sits in the stored value.
constexpr unsigned QVDES_ScrambledOffset(unsigned k)
{
    return k / 4 * 8 + k % 4;
}

// What key byte k is XORed with.
constexpr unsigned char QVDES_ScrambleMask(unsigned k)
{
    return static_cast<unsigned char>(0x6B ^ (1u << (k * 3 + 5) % 8));
}
