#pragma once
// The vocabulary shared by the PE reader and writer: keys of the resource tree, and
// resource data that knows its size and writes itself, so that no item is ever held whole.

#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

namespace vexa::pe {

// Writing an image was refused (before anything was written) or failed; the message names
// the problem.
class PeWriteError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

inline constexpr std::uint16_t RtIcon = 3;
inline constexpr std::uint16_t RtDialog = 5;
inline constexpr std::uint16_t RtString = 6;
inline constexpr std::uint16_t RtRcData = 10;
inline constexpr std::uint16_t RtGroupIcon = 14;

// One level of the resource tree (type, name): a numeric id, or a name as the image stores
// it (UTF-16). A non-empty Name makes it a named key and Id is then ignored.
struct ResourceKey {
  std::uint16_t Id = 0;
  std::u16string Name;

  static ResourceKey FromId(std::uint16_t Id);
  // 8-bit text widened byte for byte (ASCII as is, other bytes as Latin-1).
  static ResourceKey FromName(std::string_view Name);

  bool IsName() const { return !Name.empty(); }
  // For messages and listings: the id in decimal, or the name with non-ASCII code units
  // written as \uXXXX.
  std::string ToString() const;

  friend bool operator==(const ResourceKey& A, const ResourceKey& B) {
    return A.IsName() == B.IsName() && (A.IsName() ? A.Name == B.Name : A.Id == B.Id);
  }
};

// Where the writer sends bytes. Write takes all of them or throws.
class OutputSink {
public:
  virtual ~OutputSink() = default;
  virtual void Write(std::span<const std::uint8_t> Bytes) = 0;
};

// A resource's bytes. WriteTo must deliver exactly Size() bytes; the writer checks, and a
// source that fails or changed its size throws (PeWriteError for those defined here).
class ResourceData {
public:
  virtual ~ResourceData() = default;
  virtual std::uint64_t Size() const = 0;
  virtual void WriteTo(OutputSink& Out) const = 0;
};

// One resource as the writer takes it.
struct Resource {
  ResourceKey Type;
  ResourceKey Name;
  std::uint16_t Language = 0;
  std::uint32_t CodePage = 0;
  std::shared_ptr<const ResourceData> Data;
};

} // namespace vexa::pe
