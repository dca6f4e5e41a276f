#include "packer/solid_blocks.h"

#include <algorithm>

namespace vexa::tool {

std::vector<std::size_t> SolidBlockStarts(std::span<const std::uint64_t> Sizes,
                                          const SolidBlocks& Rule) {
  std::uint64_t total = 0;
  for (const std::uint64_t size : Sizes)
    total += size;
  // With one block to aim for there are no cuts: items fill each block up to the limit.
  std::uint64_t count = 1;
  if (Rule.Balanced) {
    count = std::max<std::uint64_t>(1, total / Rule.Limit + (total % Rule.Limit != 0));
    if (total >= PairedBlocksFrom && count % 2 != 0)
      ++count;
  }
  // The k-th even cut, k * total / count, without the product overflowing.
  const auto cut = [&](std::uint64_t K) { return total / count * K + total % count * K / count; };

  std::vector<std::size_t> starts;
  std::uint64_t before = 0; // the bytes of the items before this one
  std::uint64_t inBlock = 0;
  std::uint64_t nextCut = 1;
  for (std::size_t i = 0; i < Sizes.size(); ++i) {
    // An item goes to the block its middle falls in; an empty one at a cut stays behind it.
    const std::uint64_t middle = before + Sizes[i] / 2;
    const std::uint64_t cutsBefore = nextCut;
    while (nextCut < count && middle > cut(nextCut))
      ++nextCut;
    if (starts.empty() || nextCut != cutsBefore || inBlock + Sizes[i] > Rule.Limit) {
      starts.push_back(i);
      inBlock = 0;
    }
    inBlock += Sizes[i];
    before += Sizes[i];
  }
  return starts;
}

} // namespace vexa::tool
