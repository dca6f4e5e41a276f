#include "pe/pe_image.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>

#include "pe/byte_order.h"
#include "pe/resource_data.h"

namespace vexa::pe {

namespace {

using detail::U16;
using detail::U32;

constexpr std::uint16_t Pe32Magic = 0x10B;
constexpr std::uint16_t Pe32PlusMagic = 0x20B;
constexpr std::uint32_t FileHeaderSize = 20;
constexpr std::uint32_t SectionHeaderSize = 40;
constexpr std::uint32_t HighBit = 0x80000000u;

std::string Hex(std::uint64_t V) {
  char buffer[24];
  std::snprintf(buffer, sizeof buffer, "0x%llX", static_cast<unsigned long long>(V));
  return buffer;
}

// The section's bytes that are both in the file and mapped: a VirtualSize below the raw
// size means the rest of the raw data is not loaded.
std::uint32_t ReadableSize(const Section& S) {
  return S.VirtualSize == 0 ? S.SizeOfRawData : std::min(S.VirtualSize, S.SizeOfRawData);
}

// Walks type -> name -> language. Offsets are relative to the root directory, and every
// one of them is checked against View, the resource section's bytes from the root on.
enum class Level { Type, Name, Language };

const char* LevelName(Level L) {
  return L == Level::Type ? "type" : L == Level::Name ? "name" : "language";
}

class TreeWalker {
public:
  TreeWalker(const PeImage& Image, std::span<const std::uint8_t> View) : Image(Image), View(View) {}

  std::vector<ResourceEntry> Walk() {
    std::vector<ResourceEntry> out;
    for (const DirectoryEntry& type : ReadDirectory(0, Level::Type)) {
      for (const DirectoryEntry& name : ReadDirectory(type.Target, Level::Name)) {
        for (const DirectoryEntry& language : ReadDirectory(name.Target, Level::Language)) {
          if (language.IsDirectory)
            throw PeFormatError("resource tree deeper than three levels under " +
                                type.Key.ToString() + "/" + name.Key.ToString());
          if (language.Key.IsName())
            throw PeFormatError("named resource language under " + type.Key.ToString() + "/" +
                                name.Key.ToString());
          out.push_back(ReadLeaf(type.Key, name.Key, language.Key.Id, language.Target));
        }
      }
    }
    return out;
  }

private:
  struct DirectoryEntry {
    ResourceKey Key;
    bool IsDirectory = false;
    std::uint32_t Target = 0;
  };

  std::vector<DirectoryEntry> ReadDirectory(std::uint32_t Offset, Level At) {
    if (!Seen.insert(Offset).second)
      throw PeFormatError("resource directory loops: the table at " + Hex(Offset) +
                          " is reached twice");
    const std::uint32_t count = std::uint32_t{U16(View, Offset + 12ull, "resource directory")} +
                                U16(View, Offset + 14ull, "resource directory");
    const std::uint64_t tableSize = 16ull + 8ull * count;
    if (Offset + tableSize > View.size())
      throw PeFormatError("resource directory table at " + Hex(Offset) + " (" +
                          std::to_string(count) + " entries) runs past the resource section");
    // Tables that do not overlap add up to no more than the section: this bounds the walk
    // for any input, also one whose tables share their entries.
    TableBytes += tableSize;
    if (TableBytes > View.size())
      throw PeFormatError("resource directory tables overlap");
    std::vector<DirectoryEntry> entries;
    entries.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::uint64_t at = Offset + 16ull + 8ull * i;
      const std::uint32_t nameField = U32(View, at, "resource directory entry");
      const std::uint32_t dataField = U32(View, at + 4, "resource directory entry");
      DirectoryEntry entry{ReadKey(nameField, At), (dataField & HighBit) != 0,
                           dataField & ~HighBit};
      if (!entry.IsDirectory && At != Level::Language)
        throw PeFormatError(std::string("resource ") + LevelName(At) + " " + entry.Key.ToString() +
                            " holds data where a directory belongs");
      entries.push_back(std::move(entry));
    }
    return entries;
  }

  ResourceKey ReadKey(std::uint32_t Field, Level At) const {
    const std::string level = LevelName(At);
    if ((Field & HighBit) == 0) {
      if (Field > 0xFFFF)
        throw PeFormatError("resource " + level + " id " + Hex(Field) + " is out of range");
      return ResourceKey::FromId(static_cast<std::uint16_t>(Field));
    }
    const std::uint64_t at = Field & ~HighBit;
    const std::uint16_t length = U16(View, at, "resource name");
    if (length == 0)
      throw PeFormatError("resource " + level + " name at " + Hex(at) + " is empty");
    if (at + 2 + 2ull * length > View.size())
      throw PeFormatError("resource " + level + " name at " + Hex(at) +
                          " runs past the resource section");
    ResourceKey key;
    key.Name.resize(length);
    for (std::uint16_t i = 0; i < length; ++i)
      key.Name[i] = static_cast<char16_t>(U16(View, at + 2 + 2ull * i, "resource name"));
    return key;
  }

  ResourceEntry ReadLeaf(const ResourceKey& Type, const ResourceKey& Name, std::uint16_t Language,
                         std::uint32_t Offset) const {
    const std::uint32_t rva = U32(View, Offset + 0ull, "resource data entry");
    const std::uint32_t size = U32(View, Offset + 4ull, "resource data entry");
    const std::uint32_t codePage = U32(View, Offset + 8ull, "resource data entry");
    const auto section = Image.SectionOf(rva, size);
    if (!section)
      throw PeFormatError("resource " + Type.ToString() + "/" + Name.ToString() + "/" +
                          std::to_string(Language) + ": its " + std::to_string(size) +
                          " bytes at RVA " + Hex(rva) + " lie outside the image's sections");
    return ResourceEntry{Type, Name, Language, codePage,
                         Image.Bytes().subspan(Image.FileOffsetOf(*section, rva), size)};
  }

  const PeImage& Image;
  std::span<const std::uint8_t> View;
  std::set<std::uint32_t> Seen;
  std::uint64_t TableBytes = 0;
};

} // namespace

PeImage PeImage::Parse(std::span<const std::uint8_t> Bytes) {
  PeImage image;
  image.Image = Bytes;
  PeHeaders& h = image.Header;

  if (Bytes.size() < 64 || Bytes[0] != 'M' || Bytes[1] != 'Z')
    throw PeFormatError("not a PE image: no MZ header");
  h.PeOffset = U32(Bytes, 0x3C, "DOS header");
  if (U32(Bytes, h.PeOffset, "PE signature") != 0x00004550)
    throw PeFormatError("not a PE image: no PE signature at " + Hex(h.PeOffset));
  const std::uint64_t fileHeader = h.PeOffset + 4ull;
  h.NumberOfSections = U16(Bytes, fileHeader + 2, "file header");
  const std::uint16_t optionalSize = U16(Bytes, fileHeader + 16, "file header");
  const std::uint64_t optional = fileHeader + FileHeaderSize;
  h.OptionalHeaderOffset = static_cast<std::uint32_t>(optional);

  const std::uint16_t magic = U16(Bytes, optional, "optional header");
  if (magic != Pe32Magic && magic != Pe32PlusMagic)
    throw PeFormatError("not a PE32 or PE32+ image: optional header magic " + Hex(magic));
  // PE32+ widens ImageBase and the stack and heap sizes, which moves the data directories
  // back by 16 bytes; the fields the writer touches lie before them, in the same place.
  h.DataDirectoriesOffset = magic == Pe32Magic ? 96 : 112;
  if (optionalSize < h.DataDirectoriesOffset)
    throw PeFormatError("optional header of " + std::to_string(optionalSize) +
                        " bytes is too small for its kind");
  if (optional + optionalSize > Bytes.size())
    throw PeFormatError("truncated image: the optional header lies past the end");
  h.SizeOfInitializedData = U32(Bytes, optional + 8, "optional header");
  h.SectionAlignment = U32(Bytes, optional + 32, "optional header");
  h.FileAlignment = U32(Bytes, optional + 36, "optional header");
  h.SizeOfImage = U32(Bytes, optional + 56, "optional header");
  h.SizeOfHeaders = U32(Bytes, optional + 60, "optional header");
  h.CheckSum = U32(Bytes, optional + 64, "optional header");
  if (h.SizeOfHeaders > Bytes.size())
    throw PeFormatError("truncated image: SizeOfHeaders " + Hex(h.SizeOfHeaders) +
                        " lies past the end");
  const std::uint32_t declared = U32(Bytes, optional + h.DataDirectoriesOffset - 4, "optional header");
  const std::uint32_t room = (optionalSize - h.DataDirectoriesOffset) / 8;
  h.Directories.resize(std::min(declared, room));
  for (std::size_t i = 0; i < h.Directories.size(); ++i) {
    const std::uint64_t at = optional + h.DataDirectoriesOffset + 8ull * i;
    h.Directories[i] = {U32(Bytes, at, "data directory"), U32(Bytes, at + 4, "data directory")};
  }

  const std::uint64_t table = optional + optionalSize;
  h.SectionTableOffset = static_cast<std::uint32_t>(table);
  if (table + std::uint64_t{SectionHeaderSize} * h.NumberOfSections > Bytes.size())
    throw PeFormatError("truncated image: the section table lies past the end");
  image.SectionTable.resize(h.NumberOfSections);
  for (std::size_t i = 0; i < h.NumberOfSections; ++i) {
    const std::uint64_t at = table + std::uint64_t{SectionHeaderSize} * i;
    Section& s = image.SectionTable[i];
    std::copy_n(Bytes.begin() + static_cast<std::ptrdiff_t>(at), 8, s.Name.begin());
    s.VirtualSize = U32(Bytes, at + 8, "section header");
    s.VirtualAddress = U32(Bytes, at + 12, "section header");
    s.SizeOfRawData = U32(Bytes, at + 16, "section header");
    s.PointerToRawData = U32(Bytes, at + 20, "section header");
    s.Characteristics = U32(Bytes, at + 36, "section header");
    if (std::uint64_t{s.PointerToRawData} + s.SizeOfRawData > Bytes.size())
      throw PeFormatError("truncated image: section " + std::to_string(i + 1) +
                          "'s data lies past the end");
  }

  if (h.Directories.size() > ResourceDirectoryIndex) {
    const DataDirectory& rsrc = h.Directories[ResourceDirectoryIndex];
    if (rsrc.VirtualAddress != 0) {
      const auto section = image.SectionOf(rsrc.VirtualAddress, 0);
      if (!section)
        throw PeFormatError("the resource directory's RVA " + Hex(rsrc.VirtualAddress) +
                            " lies outside the image's sections");
      const Section& s = image.SectionTable[*section];
      const std::uint32_t into = rsrc.VirtualAddress - s.VirtualAddress;
      const auto view =
          Bytes.subspan(image.FileOffsetOf(*section, rsrc.VirtualAddress), ReadableSize(s) - into);
      image.ResourceEntries = TreeWalker(image, view).Walk();
    }
  }
  return image;
}

std::vector<Resource> PeImage::Resources() const {
  std::vector<Resource> out;
  out.reserve(ResourceEntries.size());
  for (const ResourceEntry& e : ResourceEntries)
    out.push_back({e.Type, e.Name, e.Language, e.CodePage, std::make_shared<SpanData>(e.Data)});
  return out;
}

bool PeImage::HasCertificate() const {
  if (Header.Directories.size() <= CertificateDirectoryIndex)
    return false;
  const DataDirectory& d = Header.Directories[CertificateDirectoryIndex];
  return d.VirtualAddress != 0 || d.Size != 0;
}

std::optional<std::size_t> PeImage::SectionOf(std::uint32_t Rva, std::uint32_t Length) const {
  for (std::size_t i = 0; i < SectionTable.size(); ++i) {
    const Section& s = SectionTable[i];
    if (Rva >= s.VirtualAddress &&
        std::uint64_t{Rva - s.VirtualAddress} + Length <= ReadableSize(s))
      return i;
  }
  return std::nullopt;
}

std::uint64_t PeImage::FileOffsetOf(std::size_t SectionIndex, std::uint32_t Rva) const {
  const Section& s = SectionTable[SectionIndex];
  return std::uint64_t{s.PointerToRawData} + (Rva - s.VirtualAddress);
}

} // namespace vexa::pe
