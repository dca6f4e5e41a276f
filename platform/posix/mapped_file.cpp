#include "platform/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>

namespace vexa::platform {

namespace {

std::string Failure(const std::string& Path, int Error) {
  return "Cannot map file " + Path + ": " + std::strerror(Error);
}

} // namespace

std::string MappedFile::Open(const std::string& Path) {
  Close();
  const int fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return Failure(Path, errno);
  struct stat st {};
  std::string error;
  if (::fstat(fd, &st) != 0) {
    error = Failure(Path, errno);
  } else if (!S_ISREG(st.st_mode)) {
    error = "Cannot map file " + Path + ": not a regular file";
  } else if (static_cast<std::uintmax_t>(st.st_size) > std::numeric_limits<std::size_t>::max()) {
    error = Failure(Path, EFBIG);
  } else if (st.st_size > 0) {
    const auto size = static_cast<std::size_t>(st.st_size);
    void* p = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (p == MAP_FAILED) {
      error = Failure(Path, errno);
    } else {
      Base = static_cast<const std::uint8_t*>(p);
      Length = size;
    }
  }
  ::close(fd); // the mapping holds its own reference to the file
  return error;
}

void MappedFile::Release(const std::uint8_t* Begin, std::size_t Count) const {
  const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const auto begin = reinterpret_cast<std::uintptr_t>(Begin);
  const std::uintptr_t first = begin / page * page;
  const std::uintptr_t end = (begin + Count) / page * page;
  // The mapping is private and never written, so dropping its pages loses nothing.
  if (first < end)
    ::madvise(reinterpret_cast<void*>(first), end - first, MADV_DONTNEED);
}

void MappedFile::Close() {
  if (Base != nullptr)
    ::munmap(const_cast<std::uint8_t*>(Base), Length);
  Base = nullptr;
  Length = 0;
}

} // namespace vexa::platform
