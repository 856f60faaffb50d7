// The simulator's own LZHUF codec and CRC-8, used to build and check the compressed
// card files. Kept apart from the module's card layer on purpose: a misreading shared
// by both sides could not show in the tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace cardsim
{

using Bytes = std::vector<unsigned char>;

// CRC-8: polynomial 0x1D, initial value 0xC7, most significant bit first, no reflection,
// no final XOR. Check value 0x99 for "123456789"; 0xC7 for no data.
unsigned char Crc8(const unsigned char *data, size_t length);
inline unsigned char Crc8(const Bytes &data)
{
    return Crc8(data.data(), data.size());
}

// LZHUF bit stream (4096-byte window, 60-byte look-ahead, adaptive Huffman codes for
// literals and lengths, fixed prefix code for positions) without a length header.
// No data packs to no bytes.
Bytes LzhPack(const Bytes &plain);

// Decodes until plainLength bytes are produced. False when the input ends first or
// when a match would run past plainLength (the stored length is then not the one the
// stream was made for); out may then hold a partial result.
bool LzhUnpack(const unsigned char *data, size_t length, size_t plainLength, Bytes &out);

// Stored form of a compressed card file: LZH payload followed by the CRC-8 of the plain
// data.
Bytes PackCardFile(const Bytes &plain);
// Restores the plain data of a stored compressed file; false for a short, corrupt or
// mismatching file.
bool UnpackCardFile(const Bytes &stored, size_t plainLength, Bytes &plain);

} // namespace cardsim
