#pragma once
// Room at the end of a file being written, mapped for writing: an engine that needs all
// of its output in one place writes it there, and the system writes the pages back to
// the file under memory pressure instead of holding them.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

namespace vexa::platform {

class WritableRegion {
public:
  WritableRegion() = default;
  ~WritableRegion() { Unmap(); }
  WritableRegion(const WritableRegion&) = delete;
  WritableRegion& operator=(const WritableRegion&) = delete;

  // Grows File (open for update, its stdio buffer flushed) to Offset + Length bytes,
  // taking the disk space first where the file system can, so that a full disk is an
  // answer here rather than a fault later, and maps those Length bytes. Returns the empty
  // text on success, otherwise why not (no room on the disk, no room in the address
  // space); nothing is mapped then.
  [[nodiscard]] std::string Map(std::FILE* File, std::uint64_t Offset, std::size_t Length);
  std::span<std::uint8_t> Bytes() const { return {View + Skip, Length}; }
  // Writes nothing back that the system would not; the file keeps its grown length.
  void Unmap();

private:
  std::uint8_t* View = nullptr; // starts on a boundary the system maps from
  std::size_t Skip = 0;         // from the view's start to Offset
  std::size_t Length = 0;
};

// Cuts or grows File (its stdio buffer flushed, no region of it mapped) to Length bytes.
[[nodiscard]] bool SetFileLength(std::FILE* File, std::uint64_t Length);

} // namespace vexa::platform
