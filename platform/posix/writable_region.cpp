#include "platform/writable_region.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace vexa::platform {

namespace {

// "Before N bytesAfter: reason", errno read before anything here can change it.
std::string Failure(const char* Before, std::size_t Size, const char* After) {
  const int error = errno;
  return Before + std::to_string(Size) + " bytes" + After + ": " + std::strerror(error);
}

} // namespace

std::string WritableRegion::Map(std::FILE* File, std::uint64_t Offset, std::size_t Size) {
  Unmap();
  const int fd = ::fileno(File);
  const auto page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
  const std::uint64_t start = Offset / page * page;
  if (!SetFileLength(File, Offset + Size))
    return Failure("cannot grow it by ", Size, "");
#ifdef __linux__
  // Reserves the blocks without writing them; file systems that cannot are left to
  // allocate on write.
  if (Size > 0 && ::fallocate(fd, 0, static_cast<off_t>(Offset), static_cast<off_t>(Size)) != 0 &&
      errno != EOPNOTSUPP)
    return Failure("cannot reserve ", Size, " for it on the disk");
#endif
  const std::size_t skip = static_cast<std::size_t>(Offset - start);
  void* view = ::mmap(nullptr, skip + Size, PROT_READ | PROT_WRITE, MAP_SHARED, fd,
                      static_cast<off_t>(start));
  if (view == MAP_FAILED)
    return Failure("cannot map ", Size, " of it into memory");
  View = static_cast<std::uint8_t*>(view);
  Skip = skip;
  Length = Size;
  return {};
}

void WritableRegion::Unmap() {
  if (View)
    ::munmap(std::exchange(View, nullptr), Skip + Length);
  Skip = Length = 0;
}

bool SetFileLength(std::FILE* File, std::uint64_t Length) {
  return ::ftruncate(::fileno(File), static_cast<off_t>(Length)) == 0;
}

} // namespace vexa::platform
