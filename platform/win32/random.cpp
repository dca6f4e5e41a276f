#include "platform/random.h"

#include <stdexcept>

#include "platform/win32/windows.h"

#include <bcrypt.h>

namespace vexa::platform {

void FillRandom(void* Buffer, std::size_t Count) {
  if (!BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, static_cast<PUCHAR>(Buffer),
                                        static_cast<ULONG>(Count), BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
    throw std::runtime_error("the system's random source failed");
}

} // namespace vexa::platform
