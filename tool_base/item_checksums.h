#pragma once
// The format keeps no checksum of a stored item, so a flipped byte in one could not be
// noticed. The packer therefore adds a resource of its own type, "VEXA" / "CHECKSUMS",
// with the CRC-32 of every item's original bytes; the stub never reads it, and `vexa
// verify` checks it when an archive has it. It stays out of RCDATA, whose 16-bit count
// of named entries the items need.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace vexa::tool {

inline constexpr char ChecksumsType[] = "VEXA";
inline constexpr char ChecksumsName[] = "CHECKSUMS";

std::vector<std::uint8_t> EncodeChecksums(const std::vector<std::uint32_t>& Crcs);

// Nothing when the bytes are not a checksum table.
std::optional<std::vector<std::uint32_t>> DecodeChecksums(std::span<const std::uint8_t> Bytes);

// Continues a CRC-32 (start from 0) over Bytes of any size.
std::uint32_t Crc32(std::uint32_t Crc, std::span<const std::uint8_t> Bytes);

} // namespace vexa::tool
