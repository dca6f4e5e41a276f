#pragma once
// A whole file mapped read-only into memory: how the tool reads a stub or an archive
// without copying it. An empty file maps to no bytes at all.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>

namespace vexa::platform {

class MappedFile {
public:
  MappedFile() = default;
  ~MappedFile() { Close(); }
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  MappedFile(MappedFile&& Other) noexcept
      : Base(std::exchange(Other.Base, nullptr)), Length(std::exchange(Other.Length, 0)) {}
  MappedFile& operator=(MappedFile&& Other) noexcept {
    if (this != &Other) {
      Close();
      Base = std::exchange(Other.Base, nullptr);
      Length = std::exchange(Other.Length, 0);
    }
    return *this;
  }

  // Maps Path, replacing any earlier mapping. Returns the empty text on success, otherwise
  // a message that names the file and the reason; the object is then empty.
  [[nodiscard]] std::string Open(const std::string& Path);
  void Close();

  // Null when nothing is mapped (also for an empty file).
  const std::uint8_t* Data() const { return Base; }
  std::size_t Size() const { return Length; }
  std::span<const std::uint8_t> Bytes() const { return {Base, Length}; }

  // Lets the pages from the one holding Begin to the one holding Begin + Count (not
  // included) leave this process's memory, so that a reader that has gone past them
  // keeps a flat footprint however large the file. They stay valid and are read from the
  // file again if touched; the first page may hold bytes before Begin, which then cost
  // one more read, while the last one, which a reader is still in, stays.
  void Release(const std::uint8_t* Begin, std::size_t Count) const;

private:
  const std::uint8_t* Base = nullptr;
  std::size_t Length = 0;
};

} // namespace vexa::platform
