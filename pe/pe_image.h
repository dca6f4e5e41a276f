#pragma once
// A parsed PE32 (or PE32+) image: its headers, section table and resource tree, read from bytes that
// the caller keeps alive (a mapped file, the tool's embedded stub). Parsing trusts nothing:
// every offset, count and RVA is checked against the bytes, the tree is walked to its fixed
// depth of three, and a directory table met twice or tables that overlap end the walk, so
// hostile input gets a PeFormatError, never a read out of bounds or an endless walk.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <vector>

#include "pe/resource.h"

namespace vexa::pe {

// The bytes are not a PE image this code can read; the message says what is wrong.
class PeFormatError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

struct Section {
  std::array<char, 8> Name{};
  std::uint32_t VirtualSize = 0;
  std::uint32_t VirtualAddress = 0;
  std::uint32_t SizeOfRawData = 0;
  std::uint32_t PointerToRawData = 0;
  std::uint32_t Characteristics = 0;
};

struct DataDirectory {
  std::uint32_t VirtualAddress = 0; // a file offset for the certificate table
  std::uint32_t Size = 0;
};

inline constexpr std::size_t ResourceDirectoryIndex = 2;
inline constexpr std::size_t CertificateDirectoryIndex = 4;

// The header fields the writer reads or rewrites, with the file offsets it patches.
struct PeHeaders {
  std::uint32_t PeOffset = 0; // e_lfanew: the "PE\0\0" signature
  std::uint32_t OptionalHeaderOffset = 0;
  std::uint32_t DataDirectoriesOffset = 0; // from the optional header: 96 (PE32), 112 (PE32+)
  std::uint32_t SectionTableOffset = 0;
  std::uint16_t NumberOfSections = 0;
  std::uint32_t SizeOfInitializedData = 0;
  std::uint32_t SectionAlignment = 0;
  std::uint32_t FileAlignment = 0;
  std::uint32_t SizeOfImage = 0;
  std::uint32_t SizeOfHeaders = 0;
  std::uint32_t CheckSum = 0;
  std::uint64_t CheckSumOffset() const { return OptionalHeaderOffset + 64; }
  // As many entries as NumberOfRvaAndSizes names and the optional header holds.
  std::vector<DataDirectory> Directories;
};

// One leaf of the resource tree, in the order the image stores them.
struct ResourceEntry {
  ResourceKey Type;
  ResourceKey Name;
  std::uint16_t Language = 0;
  std::uint32_t CodePage = 0;
  std::span<const std::uint8_t> Data; // inside the image's bytes
};

class PeImage {
public:
  // Bytes must outlive the image and everything taken from it.
  static PeImage Parse(std::span<const std::uint8_t> Bytes);
  // An image over a temporary would dangle at once.
  static PeImage Parse(std::vector<std::uint8_t>&&) = delete;

  std::span<const std::uint8_t> Bytes() const { return Image; }
  const PeHeaders& Headers() const { return Header; }
  const std::vector<Section>& Sections() const { return SectionTable; }
  const std::vector<ResourceEntry>& Entries() const { return ResourceEntries; }
  // The entries in the writer's form; their data refers to Bytes().
  std::vector<Resource> Resources() const;

  // Whether the security directory names a certificate table (an Authenticode signature).
  bool HasCertificate() const;
  // The section whose bytes hold Rva and the Length bytes after it; none when no section
  // has them in the file.
  std::optional<std::size_t> SectionOf(std::uint32_t Rva, std::uint32_t Length) const;
  // The file offset of Rva; only for an RVA that SectionOf accepts.
  std::uint64_t FileOffsetOf(std::size_t SectionIndex, std::uint32_t Rva) const;

private:
  std::span<const std::uint8_t> Image;
  PeHeaders Header;
  std::vector<Section> SectionTable;
  std::vector<ResourceEntry> ResourceEntries;
};

} // namespace vexa::pe
