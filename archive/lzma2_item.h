#pragma once
// The data of an LZMA2 item (docs/format.md): a two-byte prefix, one raw LZMA2 stream
// (liblzma's raw format, ending with its end marker) of the item's bytes and of the bytes
// of the items that continue it, and the Adler-32 of those bytes, most significant byte
// first, as zlib's trailer: raw LZMA2 has no check of its own.

#include <cstdint>

namespace vexa::Lzma2Item {

inline constexpr int PrefixSize = 2;
inline constexpr int FilterOffset = 0;
inline constexpr int DictionaryOffset = 1;
inline constexpr int TrailerSize = 4;

// The filter the plain bytes went through before LZMA2, undone after it.
enum Filter : std::uint8_t { NoFilter = 0, X86Filter = 1 };

// LZMA2's dictionary byte: 4 KiB, 6 KiB, 8 KiB, 12 KiB, ... The largest that an encoder
// writes is 37, 1.5 GiB.
inline constexpr std::uint8_t LargestDictionaryByte = 37;

inline std::uint64_t DictionarySize(std::uint8_t Byte) {
  return std::uint64_t{2u | (Byte & 1u)} << (Byte / 2 + 11);
}

// The dictionary byte of the smallest dictionary that holds PlainSize bytes: a larger one
// buys nothing, so a reader refuses it rather than reserve its memory.
inline std::uint8_t SmallestDictionaryByte(std::uint64_t PlainSize) {
  std::uint8_t byte = 0;
  while (byte < LargestDictionaryByte && DictionarySize(byte) < PlainSize)
    ++byte;
  return byte;
}

} // namespace vexa::Lzma2Item
