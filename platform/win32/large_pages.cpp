#include "platform/large_pages.h"

#include <cstdlib>

namespace vexa::platform {

// Windows grants large pages only to accounts given the right to lock memory, which
// hardly any user has: the heap serves.
void* AllocateLargePaged(std::size_t Size) { return std::malloc(Size); }

void FreeLargePaged(void* Block) { std::free(Block); }

} // namespace vexa::platform
