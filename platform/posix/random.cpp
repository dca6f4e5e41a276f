#include "platform/random.h"

#include <sys/random.h>

#include <cerrno>
#include <stdexcept>

namespace vexa::platform {

void FillRandom(void* Buffer, std::size_t Count) {
  auto* p = static_cast<unsigned char*>(Buffer);
  while (Count > 0) {
    const ssize_t n = ::getrandom(p, Count, 0);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      throw std::runtime_error("the system's random source failed");
    }
    p += n;
    Count -= static_cast<std::size_t>(n);
  }
}

} // namespace vexa::platform
