#include "cli/work_file.h"

#include <cerrno>
#include <stdexcept>
#include <utility>

#include "cli/local_path.h"
#include "cli/tool_error.h"
#include "platform/random.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace vexa::tool {

namespace fs = std::filesystem;

fs::path WorkPath(const fs::path& Output, const std::string& Suffix) {
  for (;;) {
    std::uint8_t random[4];
    platform::FillRandom(random, sizeof random);
    char tag[16];
    std::snprintf(tag, sizeof tag, ".%02x%02x%02x%02x", random[0], random[1], random[2], random[3]);
    fs::path path = Output;
    path += PathFromUtf8(tag + Suffix);
    std::error_code error;
    if (!fs::exists(fs::symlink_status(path, error)))
      return path;
  }
}

TRemoveOnExit::~TRemoveOnExit() {
  std::error_code ignored;
  if (!Path.empty())
    fs::remove(Path, ignored);
}

TWorkFile::TWorkFile(fs::path Path) : Path(std::move(Path)), Remover(this->Path) {
  File = std::fopen(SystemName(this->Path).c_str(), "w+b");
  if (!File)
    throw ToolError("cannot create the work file " + Utf8Of(this->Path));
}

TWorkFile::~TWorkFile() {
#ifndef _WIN32
  if (Mapped)
    ::munmap(Mapped, MappedLength);
#endif
  if (File)
    std::fclose(File);
}

void TWorkFile::Failed() const {
  throw ToolError("cannot write the work file " + Utf8Of(Path) + " (is the disk full?)");
}

void TWorkFile::Append(std::span<const std::uint8_t> Bytes) {
  if (!Bytes.empty() && std::fwrite(Bytes.data(), 1, Bytes.size(), File) != Bytes.size())
    Failed();
  End += Bytes.size();
}

void TWorkFile::Rewind(std::uint64_t Offset) {
#ifdef _WIN32
  const int moved = ::_fseeki64(File, static_cast<long long>(Offset), SEEK_SET);
#else
  const int moved = ::fseeko(File, static_cast<off_t>(Offset), SEEK_SET);
#endif
  if (moved != 0)
    Failed();
  End = Offset;
}

#ifndef _WIN32
std::span<std::uint8_t> TWorkFile::MapEnd(std::size_t Capacity) {
  if (std::fflush(File) != 0)
    Failed();
  const int fd = ::fileno(File);
  const auto page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
  const std::uint64_t start = End / page * page;
  MappedOffset = static_cast<std::size_t>(End - start);
  MappedLength = MappedOffset + Capacity;
  if (::ftruncate(fd, static_cast<off_t>(End + Capacity)) != 0)
    Failed();
#ifdef __linux__
  // Reserves the blocks without writing them; file systems that cannot are left to
  // allocate on write.
  if (Capacity > 0 && ::fallocate(fd, 0, static_cast<off_t>(End), static_cast<off_t>(Capacity)) != 0 &&
      errno != EOPNOTSUPP)
    Failed();
#endif
  void* p = ::mmap(nullptr, MappedLength, PROT_READ | PROT_WRITE, MAP_SHARED, fd,
                   static_cast<off_t>(start));
  if (p == MAP_FAILED)
    Failed();
  Mapped = p;
  return {static_cast<std::uint8_t*>(p) + MappedOffset, Capacity};
}

void TWorkFile::UnmapEnd(std::size_t Count) {
  ::munmap(std::exchange(Mapped, nullptr), MappedLength);
  // The unused room goes, so the file takes only what it holds.
  if (::ftruncate(::fileno(File), static_cast<off_t>(End + Count)) != 0)
    Failed();
  Rewind(End + Count);
}

#else
std::span<std::uint8_t> TWorkFile::MapEnd(std::size_t) {
  throw std::logic_error("the Windows build maps no work file");
}

void TWorkFile::UnmapEnd(std::size_t) {
  throw std::logic_error("the Windows build maps no work file");
}
#endif

void TWorkFile::Close() {
  if (std::fclose(std::exchange(File, nullptr)) != 0)
    Failed();
}

std::string TWorkFile::Name() const { return SystemName(Path); }

} // namespace vexa::tool
