#include "platform/large_pages.h"

#include <sys/mman.h>

#include <cstdlib>

namespace vexa::platform {

namespace {

// The large page of x86-64 and of 64-bit ARM with 4 KiB pages. A block smaller than one
// gains nothing from asking.
constexpr std::size_t LargePage = std::size_t{2} << 20;

} // namespace

void* AllocateLargePaged(std::size_t Size) {
  if (Size < LargePage)
    return std::malloc(Size);
  void* block = nullptr;
  if (::posix_memalign(&block, LargePage, Size) != 0)
    return nullptr;
#ifdef MADV_HUGEPAGE
  // Only whole large pages: a partly used one at the end would cost memory that small
  // pages spare. The system may decline; the block then works as it is.
  ::madvise(block, Size / LargePage * LargePage, MADV_HUGEPAGE);
#endif
  return block;
}

void FreeLargePaged(void* Block) { std::free(Block); }

} // namespace vexa::platform
