#include "tool_base/item_checksums.h"

#include <algorithm>

#include <libdeflate.h>

namespace vexa::tool {

namespace {
constexpr std::uint8_t Magic[4] = {'V', 'X', 'C', '1'};
} // namespace

std::vector<std::uint8_t> EncodeChecksums(const std::vector<std::uint32_t>& Crcs) {
  std::vector<std::uint8_t> out(std::begin(Magic), std::end(Magic));
  for (const std::uint32_t crc : Crcs)
    for (int i = 0; i < 4; ++i)
      out.push_back(static_cast<std::uint8_t>(crc >> (8 * i)));
  return out;
}

std::optional<std::vector<std::uint32_t>> DecodeChecksums(std::span<const std::uint8_t> Bytes) {
  if (Bytes.size() < 4 || !std::equal(std::begin(Magic), std::end(Magic), Bytes.begin()) ||
      (Bytes.size() - 4) % 4 != 0)
    return std::nullopt;
  std::vector<std::uint32_t> crcs;
  for (std::size_t at = 4; at < Bytes.size(); at += 4)
    crcs.push_back(std::uint32_t{Bytes[at]} | std::uint32_t{Bytes[at + 1]} << 8 |
                   std::uint32_t{Bytes[at + 2]} << 16 | std::uint32_t{Bytes[at + 3]} << 24);
  return crcs;
}

std::uint32_t Crc32(std::uint32_t Crc, std::span<const std::uint8_t> Bytes) {
  return libdeflate_crc32(Crc, Bytes.data(), Bytes.size());
}

} // namespace vexa::tool
