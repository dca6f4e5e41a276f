#pragma once
// Random bytes from the operating system's cryptographic source.

#include <cstddef>

namespace vexa::platform {

// Fills Buffer completely; raises std::runtime_error when the system cannot.
void FillRandom(void* Buffer, std::size_t Count);

} // namespace vexa::platform
