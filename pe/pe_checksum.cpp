#include "pe/pe_checksum.h"

#include <algorithm>

namespace vexa::pe {

void PeChecksum::Add(std::span<const std::uint8_t> Bytes) {
  std::size_t i = 0;
  if (!Bytes.empty() && (Count & 1) != 0) // finish the word a previous call began
    Sum += std::uint64_t{Bytes[i++]} << 8;
  std::uint64_t sum = 0;
  for (; i + 1 < Bytes.size(); i += 2)
    sum += Bytes[i] | (std::uint32_t{Bytes[i + 1]} << 8);
  if (i < Bytes.size())
    sum += Bytes[i];
  Sum += sum;
  Count += Bytes.size();
}

std::uint32_t PeChecksum::Value() const {
  std::uint64_t folded = Sum;
  while (folded > 0xFFFF)
    folded = (folded & 0xFFFF) + (folded >> 16);
  return static_cast<std::uint32_t>(folded + Count);
}

std::uint32_t FileChecksum(std::span<const std::uint8_t> File, std::uint64_t CheckSumOffset,
                           const std::function<void(std::span<const std::uint8_t>)>& Summed) {
  constexpr std::size_t PieceSize = std::size_t{1} << 20;
  constexpr std::uint8_t zero[4] = {};
  const auto at =
      static_cast<std::size_t>(std::min<std::uint64_t>(CheckSumOffset, File.size()));
  const std::size_t field = std::min<std::size_t>(4, File.size() - at);
  PeChecksum sum;
  const auto add = [&](std::span<const std::uint8_t> Part) {
    for (std::size_t begin = 0; begin < Part.size(); begin += PieceSize) {
      const std::span<const std::uint8_t> piece =
          Part.subspan(begin, std::min(PieceSize, Part.size() - begin));
      sum.Add(piece);
      if (Summed)
        Summed(piece);
    }
  };
  add(File.first(at));
  sum.Add(std::span(zero, field));
  add(File.subspan(at + field));
  return sum.Value();
}

} // namespace vexa::pe
