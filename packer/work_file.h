#pragma once
// Files a pack writes beside its output before the output itself: they share the
// output's disk, so they are renamed or copied there without crossing file systems, and
// no work file is left behind on any way out.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <span>
#include <string>

#include "platform/writable_region.h"

namespace vexa::tool {

// A name beside Output that no file has yet, ending in Suffix.
std::filesystem::path WorkPath(const std::filesystem::path& Output, const std::string& Suffix);

// Removes a file on every way out unless it was kept.
class TRemoveOnExit {
public:
  explicit TRemoveOnExit(std::filesystem::path Path) : Path(std::move(Path)) {}
  ~TRemoveOnExit();
  TRemoveOnExit(const TRemoveOnExit&) = delete;
  TRemoveOnExit& operator=(const TRemoveOnExit&) = delete;
  void Keep() { Path.clear(); }

private:
  std::filesystem::path Path;
};

// Item data on its way into the image, appended by one thread. The image writer copies
// regions of it by name, so no item is ever held whole in memory.
class TWorkFile {
public:
  // Creates the file; raises ToolError when it cannot.
  explicit TWorkFile(std::filesystem::path Path);
  ~TWorkFile();
  TWorkFile(const TWorkFile&) = delete;
  TWorkFile& operator=(const TWorkFile&) = delete;

  void Append(std::span<const std::uint8_t> Bytes);
  // Where the next byte goes.
  std::uint64_t Size() const { return End; }
  // Forgets what was appended from Offset on; later bytes are written over it.
  void Rewind(std::uint64_t Offset);
  // Writable room for Capacity bytes at the end, mapped from the file so that the kernel
  // writes it back under pressure instead of holding it in memory. Disk space for it is
  // taken first where the file system can, so a full disk is a message, not a fault.
  std::span<std::uint8_t> MapEnd(std::size_t Capacity);
  // Unmaps the room and keeps its first Count bytes as appended.
  void UnmapEnd(std::size_t Count);
  // Ends the writing; the image writer then reads the file by name, which Windows
  // allows only once no handle writes to it.
  void Close();
  std::string Name() const;

private:
  [[noreturn]] void Failed() const;

  std::filesystem::path Path;
  TRemoveOnExit Remover; // removes the file after the destructor closed it
  std::FILE* File = nullptr;
  std::uint64_t End = 0;
  platform::WritableRegion Room;
};

} // namespace vexa::tool
