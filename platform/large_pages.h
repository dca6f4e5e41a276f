#pragma once
// Memory for large tables read at scattered places, such as an LZMA encoder's match
// finder: where the system backs memory with large pages for the asking, these blocks ask
// for them, so that the processor finds their addresses in a few translation entries
// instead of walking the page tables on nearly every access (the walks took a sixth of
// the LZMA2 encoder's time where it was measured, on a virtual machine). Elsewhere, or
// when the system declines, they are ordinary heap memory; either way they hold the same
// bytes.

#include <cstddef>

namespace vexa::platform {

// Size bytes, uninitialised; nullptr when there is no room.
void* AllocateLargePaged(std::size_t Size);
// Frees a block from AllocateLargePaged; nullptr is ignored.
void FreeLargePaged(void* Block);

} // namespace vexa::platform
