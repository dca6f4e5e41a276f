#pragma once
// Little-endian fields of PE structures. The readers take an offset that may lie anywhere
// (hostile input) and throw PeFormatError naming the field instead of reading past the end.

#include <cstdint>
#include <span>
#include <string>

#include "pe/pe_image.h"

namespace vexa::pe::detail {

inline std::uint32_t LoadLe(std::span<const std::uint8_t> Bytes, std::uint64_t Offset, int Width,
                            const char* What) {
  if (Offset > Bytes.size() || Bytes.size() - Offset < static_cast<std::uint64_t>(Width))
    throw PeFormatError(std::string("truncated image: the ") + What + " lies past the end");
  std::uint32_t v = 0;
  for (int i = Width - 1; i >= 0; --i)
    v = (v << 8) | Bytes[Offset + i];
  return v;
}

inline std::uint16_t U16(std::span<const std::uint8_t> Bytes, std::uint64_t Offset,
                         const char* What) {
  return static_cast<std::uint16_t>(LoadLe(Bytes, Offset, 2, What));
}

inline std::uint32_t U32(std::span<const std::uint8_t> Bytes, std::uint64_t Offset,
                         const char* What) {
  return LoadLe(Bytes, Offset, 4, What);
}

// Writers for buffers whose size the caller has already established.
inline void Put16(std::uint8_t* At, std::uint16_t V) {
  At[0] = static_cast<std::uint8_t>(V);
  At[1] = static_cast<std::uint8_t>(V >> 8);
}

inline void Put32(std::uint8_t* At, std::uint32_t V) {
  for (int i = 0; i < 4; ++i)
    At[i] = static_cast<std::uint8_t>(V >> (8 * i));
}

} // namespace vexa::pe::detail
