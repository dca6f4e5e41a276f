#pragma once
// How the packer groups consecutive items into solid blocks: one LZMA2 stream each, and the
// unit the threads compress side by side.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vexa::tool {

// The default limit of a solid block's bytes. Within a block LZMA2 finds repeats as far back
// as its dictionary reaches (64 MiB at the default level), so a block twice that size loses
// little to the fresh start of the next one. The limit is a fixed number, never derived from
// the threads, so that the archive is the same whatever --jobs is.
inline constexpr std::uint64_t DefaultBlockSize = std::uint64_t{128} << 20;

// From this many bytes of items on, the default makes an even number of blocks. LZMA2 packs
// one stream on one processor, so a single block would leave the second processor of even
// the smallest packing machine idle for the whole pack, at half the speed of a peer that
// runs one stream's match finder on two. Two blocks cost 2 to 4 % in size (measured on
// programs); below this size the whole pack takes seconds, and the size matters more.
inline constexpr std::uint64_t PairedBlocksFrom = std::uint64_t{8} << 20;

struct SolidBlocks {
  std::uint64_t Limit = DefaultBlockSize; // the most bytes of items in one block
  // The default's grouping: as few blocks as the limit allows, in an even count from
  // PairedBlocksFrom on, cut where the bytes divide most evenly, so that the threads finish
  // together. Otherwise (a limit the author chose) items fill each block up to the limit.
  bool Balanced = true;
};

// The first item of each block, in item order, for items of these sizes. A single item
// larger than the limit is a block alone. From the sizes and the rule alone, never the
// threads, so that the archive is the same whatever their number.
std::vector<std::size_t> SolidBlockStarts(std::span<const std::uint64_t> Sizes,
                                          const SolidBlocks& Rule);

} // namespace vexa::tool
