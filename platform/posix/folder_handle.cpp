#include "platform/folder_handle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace vexa::platform {

namespace {

constexpr int FolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

int Fd(FileHandle Handle) { return static_cast<int>(Handle); }

FolderHandle::Outcome Failure(std::string& Why) {
  Why = std::strerror(errno);
  return FolderHandle::Outcome::Failed;
}

bool IsLink(int Folder, const char* Name) {
  struct stat entry;
  return ::fstatat(Folder, Name, &entry, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(entry.st_mode);
}

} // namespace

FolderHandle::Outcome FolderHandle::Open(const std::filesystem::path& Path, std::string& Why) {
  Close();
  const int fd = ::open(Path.c_str(), FolderFlags);
  if (fd < 0)
    return Failure(Why);
  Handle = fd;
  Reached = Path;
  return Outcome::Done;
}

FolderHandle::Outcome FolderHandle::OpenIn(const FolderHandle& Parent,
                                           const std::filesystem::path& Name, std::string& Why) {
  Close();
  const int parent = Fd(Parent.Handle);
  // O_NOFOLLOW refuses a link at the last component, and there is no other: Name is one.
  int fd = ::openat(parent, Name.c_str(), FolderFlags | O_NOFOLLOW);
  if (fd < 0 && errno == ENOENT) {
    // mkdirat makes nothing where a link stands, dangling or not.
    if (::mkdirat(parent, Name.c_str(), 0777) != 0 && errno != EEXIST)
      return Failure(Why);
    fd = ::openat(parent, Name.c_str(), FolderFlags | O_NOFOLLOW);
  }
  if (fd < 0) {
    // Which error a link gives differs between systems; what stands there tells.
    const int error = errno;
    if (IsLink(parent, Name.c_str()))
      return Outcome::Link;
    errno = error;
    return Failure(Why);
  }
  Handle = fd;
  Reached = Parent.Reached / Name;
  return Outcome::Done;
}

void FolderHandle::Close() {
  if (Handle != InvalidFileHandle)
    ::close(Fd(std::exchange(Handle, InvalidFileHandle)));
}

FolderHandle::Outcome FolderHandle::OpenNewFile(const std::filesystem::path& Name, bool Replace,
                                                FileHandle& File, std::string& Why) const {
  // O_EXCL: never an existing file, so never one that is also linked from elsewhere, and
  // never through a link.
  const auto create = [&] {
    return ::openat(Fd(Handle), Name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    0644);
  };
  int fd = create();
  if (fd < 0 && errno == EEXIST) {
    if (!Replace)
      return Outcome::Exists;
    if (::unlinkat(Fd(Handle), Name.c_str(), 0) != 0)
      return Failure(Why);
    fd = create();
  }
  if (fd < 0)
    return errno == EEXIST ? Outcome::Exists : Failure(Why);
  File = fd;
  return Outcome::Done;
}

bool FolderHandle::RemoveFile(const std::filesystem::path& Name) const {
  return ::unlinkat(Fd(Handle), Name.c_str(), 0) == 0;
}

bool MakeFolders(const std::filesystem::path& Path, std::string& Why) {
  std::error_code error;
  std::filesystem::create_directories(Path, error);
  if (error)
    Why = error.message();
  return !error;
}

} // namespace vexa::platform
