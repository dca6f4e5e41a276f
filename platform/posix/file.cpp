#include "platform/file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace vexa::platform {

FileHandle CreateFileExclusive(const std::string& Path) {
  // O_NOFOLLOW: a planted symbolic link must not redirect the write outside its folder.
  const int fd = ::open(Path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
  return fd < 0 ? InvalidFileHandle : fd;
}

FileHandle OpenFileForReading(const std::string& Path) {
  const int fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC);
  return fd < 0 ? InvalidFileHandle : fd;
}

void RemoveFile(const std::string& Path) { ::unlink(Path.c_str()); }

std::int32_t ReadFile(FileHandle Handle, void* Buffer, std::int32_t Count) {
  ssize_t n;
  do
    n = ::read(static_cast<int>(Handle), Buffer, static_cast<size_t>(Count));
  while (n < 0 && errno == EINTR);
  return n < 0 ? 0 : static_cast<std::int32_t>(n);
}

std::int32_t WriteFile(FileHandle Handle, const void* Buffer, std::int32_t Count) {
  // A single write may be partial on some file systems; keep going so that a short
  // count really means the medium refused the rest.
  const char* p = static_cast<const char*>(Buffer);
  std::int32_t done = 0;
  while (done < Count) {
    const ssize_t n =
        ::write(static_cast<int>(Handle), p + done, static_cast<size_t>(Count - done));
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      break;
    done += static_cast<std::int32_t>(n);
  }
  return done;
}

std::int32_t SeekFile(FileHandle Handle, std::int32_t Offset, std::uint16_t Origin) {
  const int whence = Origin == 0 ? SEEK_SET : Origin == 1 ? SEEK_CUR : SEEK_END;
  const off_t r = ::lseek(static_cast<int>(Handle), Offset, whence);
  return static_cast<std::int32_t>(r);
}

bool SetEndOfFile(FileHandle Handle) {
  const off_t here = ::lseek(static_cast<int>(Handle), 0, SEEK_CUR);
  return here >= 0 && ::ftruncate(static_cast<int>(Handle), here) == 0;
}

void CloseFile(FileHandle Handle) { ::close(static_cast<int>(Handle)); }

} // namespace vexa::platform
