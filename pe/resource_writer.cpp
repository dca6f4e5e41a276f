#include "pe/resource_writer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <utility>

#include "pe/byte_order.h"
#include "pe/pe_checksum.h"
#include "platform/file.h"

namespace vexa::pe {

namespace {

using detail::Put16;
using detail::Put32;

constexpr std::uint32_t SectionHeaderSize = 40;
constexpr std::uint32_t HighBit = 0x80000000u;
constexpr std::uint32_t ResourceSectionCharacteristics = 0x40000040; // initialized data, read
constexpr std::uint64_t DataAlignment = 8;

std::uint64_t AlignUp(std::uint64_t V, std::uint64_t A) { return (V + A - 1) / A * A; }
bool IsPowerOfTwo(std::uint32_t V) { return V != 0 && (V & (V - 1)) == 0; }

std::string Hex(std::uint64_t V) {
  char buffer[24];
  std::snprintf(buffer, sizeof buffer, "0x%llX", static_cast<unsigned long long>(V));
  return buffer;
}

ResourceKey UpperCased(ResourceKey Key) {
  for (char16_t& c : Key.Name)
    if (c >= u'a' && c <= u'z')
      c = static_cast<char16_t>(c - u'a' + u'A');
  return Key;
}

// The loader's order at every level: names first, by ordinal UTF-16 comparison (a prefix
// sorts first), then ids ascending.
bool KeyLess(const ResourceKey& A, const ResourceKey& B) {
  if (A.IsName() != B.IsName())
    return A.IsName();
  return A.IsName() ? A.Name < B.Name : A.Id < B.Id;
}

struct Leaf {
  ResourceKey Type;
  ResourceKey Name;
  std::uint16_t Language = 0;
  std::uint32_t CodePage = 0;
  const ResourceData* Data = nullptr;
  std::uint64_t Size = 0;
  std::uint64_t EntryOffset = 0; // of its data entry, in the section
  std::uint64_t DataOffset = 0;
};

// A directory table: its key in the parent, where it lies, and its children, which are
// either tables (Children) or leaves (first leaf index and count).
struct Table {
  ResourceKey Key;
  std::uint64_t Offset = 0;
  std::uint64_t NameOffset = 0; // of Key's string when it is a name
  std::vector<Table> Children;
  std::size_t FirstLeaf = 0;
  std::size_t LeafCount = 0;
};

std::string Describe(const Leaf& L) {
  return L.Type.ToString() + "/" + L.Name.ToString() + "/" + std::to_string(L.Language);
}

std::vector<Leaf> SortedLeaves(const std::vector<Resource>& Resources) {
  std::vector<Leaf> leaves;
  leaves.reserve(Resources.size());
  for (const Resource& r : Resources) {
    Leaf leaf;
    leaf.Type = UpperCased(r.Type);
    leaf.Name = UpperCased(r.Name);
    leaf.Language = r.Language;
    leaf.CodePage = r.CodePage;
    if (!r.Data)
      throw PeWriteError("resource " + Describe(leaf) + " has no data");
    leaf.Data = r.Data.get();
    leaf.Size = r.Data->Size();
    if (leaf.Size > MaxImageSize)
      throw PeWriteError("resource " + Describe(leaf) + " of " + std::to_string(leaf.Size) +
                         " bytes cannot fit a 32-bit image");
    leaves.push_back(std::move(leaf));
  }
  const auto less = [](const Leaf& A, const Leaf& B) {
    if (!(A.Type == B.Type))
      return KeyLess(A.Type, B.Type);
    if (!(A.Name == B.Name))
      return KeyLess(A.Name, B.Name);
    return A.Language < B.Language;
  };
  std::stable_sort(leaves.begin(), leaves.end(), less);
  for (std::size_t i = 1; i < leaves.size(); ++i)
    if (!less(leaves[i - 1], leaves[i]))
      throw PeWriteError("duplicate resource " + Describe(leaves[i]) +
                         " (names are compared in upper case)");
  return leaves;
}

// A table counts its named and its id entries in 16 bits each.
void CheckCounts(const std::vector<Table>& Children, std::size_t Ids, const std::string& Where) {
  const auto named = std::count_if(Children.begin(), Children.end(),
                                   [](const Table& t) { return t.Key.IsName(); });
  if (named > 0xFFFF || Ids - static_cast<std::size_t>(named) > 0xFFFF)
    throw PeWriteError("too many resources " + Where + ": a directory holds at most 65535 " +
                       "names and 65535 ids");
}

// Groups the sorted leaves into the root's type tables and their name tables.
Table BuildTree(const std::vector<Leaf>& Leaves) {
  Table root;
  for (std::size_t i = 0; i < Leaves.size(); ++i) {
    const Leaf& leaf = Leaves[i];
    if (root.Children.empty() || !(root.Children.back().Key == leaf.Type))
      root.Children.push_back(Table{leaf.Type, 0, 0, {}, 0, 0});
    Table& type = root.Children.back();
    if (type.Children.empty() || !(type.Children.back().Key == leaf.Name))
      type.Children.push_back(Table{leaf.Name, 0, 0, {}, i, 0});
    ++type.Children.back().LeafCount;
  }
  CheckCounts(root.Children, root.Children.size(), "at the top");
  for (const Table& type : root.Children) {
    CheckCounts(type.Children, type.Children.size(), "of type " + type.Key.ToString());
    for (const Table& name : type.Children)
      CheckCounts({}, name.LeafCount, "named " + type.Key.ToString() + "/" + name.Key.ToString());
  }
  return root;
}

std::uint64_t TableSize(std::size_t Entries) { return 16 + 8ull * Entries; }

// Offsets of everything in the section: the tables (root, types, names), the data entries,
// the name strings, then the data. Returns the section's size.
std::uint64_t PlaceSection(Table& Root, std::vector<Leaf>& Leaves, std::uint64_t& DirectorySize) {
  std::uint64_t at = TableSize(Root.Children.size());
  for (Table& type : Root.Children) {
    type.Offset = at;
    at += TableSize(type.Children.size());
  }
  for (Table& type : Root.Children)
    for (Table& name : type.Children) {
      name.Offset = at;
      at += TableSize(name.LeafCount);
    }
  for (Leaf& leaf : Leaves) {
    leaf.EntryOffset = at;
    at += 16;
  }
  for (Table& type : Root.Children) {
    if (type.Key.IsName()) {
      type.NameOffset = at;
      at += 2 + 2ull * type.Key.Name.size();
    }
    for (Table& name : type.Children)
      if (name.Key.IsName()) {
        name.NameOffset = at;
        at += 2 + 2ull * name.Key.Name.size();
      }
  }
  DirectorySize = at = AlignUp(at, DataAlignment);
  std::uint64_t end = at;
  for (Leaf& leaf : Leaves) {
    leaf.DataOffset = at;
    end = at + leaf.Size;
    at = AlignUp(end, DataAlignment);
  }
  return end;
}

void PutTableHeader(std::uint8_t* At, const std::vector<Table>& Children, std::size_t Count) {
  const auto named = std::count_if(Children.begin(), Children.end(),
                                   [](const Table& t) { return t.Key.IsName(); });
  Put16(At + 12, static_cast<std::uint16_t>(named));
  Put16(At + 14, static_cast<std::uint16_t>(Count - static_cast<std::size_t>(named)));
}

void PutKey(std::uint8_t* Bytes, const Table& T) {
  if (!T.Key.IsName())
    return;
  std::uint8_t* at = Bytes + T.NameOffset;
  Put16(at, static_cast<std::uint16_t>(T.Key.Name.size()));
  for (std::size_t i = 0; i < T.Key.Name.size(); ++i)
    Put16(at + 2 + 2 * i, T.Key.Name[i]);
}

std::uint32_t KeyField(const Table& T) {
  return T.Key.IsName() ? HighBit | static_cast<std::uint32_t>(T.NameOffset) : T.Key.Id;
}

// The directory part of the section, everything before the first data byte.
std::vector<std::uint8_t> DirectoryBytes(const Table& Root, const std::vector<Leaf>& Leaves,
                                         std::uint64_t Size, std::uint32_t SectionRva) {
  std::vector<std::uint8_t> bytes(Size);
  std::uint8_t* base = bytes.data();
  PutTableHeader(base, Root.Children, Root.Children.size());
  for (std::size_t t = 0; t < Root.Children.size(); ++t) {
    const Table& type = Root.Children[t];
    Put32(base + 16 + 8 * t, KeyField(type));
    Put32(base + 16 + 8 * t + 4, HighBit | static_cast<std::uint32_t>(type.Offset));
    PutKey(base, type);
    PutTableHeader(base + type.Offset, type.Children, type.Children.size());
    for (std::size_t n = 0; n < type.Children.size(); ++n) {
      const Table& name = type.Children[n];
      std::uint8_t* entry = base + type.Offset + 16 + 8 * n;
      Put32(entry, KeyField(name));
      Put32(entry + 4, HighBit | static_cast<std::uint32_t>(name.Offset));
      PutKey(base, name);
      Put16(base + name.Offset + 14, static_cast<std::uint16_t>(name.LeafCount));
      for (std::size_t l = 0; l < name.LeafCount; ++l) {
        const Leaf& leaf = Leaves[name.FirstLeaf + l];
        Put32(base + name.Offset + 16 + 8 * l, leaf.Language);
        Put32(base + name.Offset + 16 + 8 * l + 4, static_cast<std::uint32_t>(leaf.EntryOffset));
        std::uint8_t* data = base + leaf.EntryOffset;
        Put32(data, SectionRva + static_cast<std::uint32_t>(leaf.DataOffset));
        Put32(data + 4, static_cast<std::uint32_t>(leaf.Size));
        Put32(data + 8, leaf.CodePage);
      }
    }
  }
  return bytes;
}

// Where the new section goes and what the headers become.
struct Placement {
  std::size_t Slot = 0; // index of the section header to write
  std::uint16_t NumberOfSections = 0;
  std::uint32_t VirtualAddress = 0;
  std::uint32_t PointerToRawData = 0;
  std::uint64_t KeptEnd = 0; // stub bytes copied up to here
  std::uint64_t SizeOfImage = 0;
  std::uint64_t RawSize = 0;
  std::uint32_t SizeOfInitializedData = 0;
  bool DropCertificate = false;
};

std::uint64_t MemorySize(const Section& S) {
  return S.VirtualSize != 0 ? S.VirtualSize : S.SizeOfRawData;
}

// The old resource section can be replaced in place only when nothing follows it, in
// memory or in the file, and nothing but the resource directory points into it.
bool CanReplace(const PeImage& Stub, std::size_t R, std::uint64_t LastRawEnd,
                std::uint64_t FileEnd) {
  const auto& sections = Stub.Sections();
  const Section& old = sections[R];
  const PeHeaders& h = Stub.Headers();
  if (R + 1 != sections.size() || std::memcmp(old.Name.data(), ".rsrc\0\0\0", 8) != 0 ||
      old.SizeOfRawData == 0 || old.PointerToRawData < h.SizeOfHeaders ||
      h.SectionTableOffset + std::uint64_t{SectionHeaderSize} * sections.size() >
          old.PointerToRawData ||
      std::uint64_t{old.PointerToRawData} + old.SizeOfRawData != LastRawEnd || FileEnd > LastRawEnd)
    return false;
  for (std::size_t i = 0; i + 1 < sections.size(); ++i) {
    const Section& s = sections[i];
    if (s.VirtualAddress >= old.VirtualAddress ||
        (s.SizeOfRawData != 0 &&
         std::uint64_t{s.PointerToRawData} + s.SizeOfRawData > old.PointerToRawData))
      return false;
  }
  const std::uint64_t oldEnd = old.VirtualAddress + MemorySize(old);
  for (std::size_t d = 0; d < h.Directories.size(); ++d) {
    const DataDirectory& dir = h.Directories[d];
    if (d != ResourceDirectoryIndex && d != CertificateDirectoryIndex && dir.VirtualAddress != 0 &&
        dir.VirtualAddress >= old.VirtualAddress && dir.VirtualAddress < oldEnd)
      return false;
  }
  return true;
}

Placement Place(const PeImage& Stub, std::uint64_t SectionSize) {
  const PeHeaders& h = Stub.Headers();
  const auto& sections = Stub.Sections();
  const auto bytes = Stub.Bytes();
  if (h.Directories.size() <= ResourceDirectoryIndex)
    throw PeWriteError("the stub's optional header has no resource directory entry");
  if (!IsPowerOfTwo(h.FileAlignment) || h.FileAlignment < 0x200 || h.FileAlignment > 0x10000 ||
      !IsPowerOfTwo(h.SectionAlignment) || h.SectionAlignment < 0x1000 ||
      h.SectionAlignment < h.FileAlignment)
    throw PeWriteError("the stub's alignments are not supported (FileAlignment " +
                       Hex(h.FileAlignment) + ", SectionAlignment " + Hex(h.SectionAlignment) +
                       ")");

  std::uint64_t lastRawEnd = h.SizeOfHeaders;
  std::uint64_t firstRaw = h.SizeOfHeaders;
  std::uint64_t memoryEnd = AlignUp(h.SizeOfHeaders, h.SectionAlignment);
  for (const Section& s : sections) {
    if (s.SizeOfRawData != 0) {
      lastRawEnd = std::max<std::uint64_t>(lastRawEnd, s.PointerToRawData + s.SizeOfRawData);
      firstRaw = std::min<std::uint64_t>(firstRaw, s.PointerToRawData);
    }
    memoryEnd = std::max(memoryEnd, AlignUp(s.VirtualAddress + MemorySize(s), h.SectionAlignment));
  }

  Placement p;
  std::uint64_t fileEnd = bytes.size();
  if (Stub.HasCertificate()) {
    p.DropCertificate = true;
    // Cut it only when it is what ends the file; anywhere else its bytes stay, unreferenced.
    const DataDirectory& cert = h.Directories[CertificateDirectoryIndex];
    if (cert.VirtualAddress >= lastRawEnd && cert.VirtualAddress <= fileEnd &&
        AlignUp(std::uint64_t{cert.VirtualAddress} + cert.Size, 8) >= fileEnd)
      fileEnd = cert.VirtualAddress;
  }

  const std::uint32_t oldRva = h.Directories[ResourceDirectoryIndex].VirtualAddress;
  constexpr std::size_t None = static_cast<std::size_t>(-1);
  const std::size_t old = oldRva != 0 ? Stub.SectionOf(oldRva, 0).value_or(None) : None;
  const std::uint64_t rawSize = AlignUp(SectionSize, h.FileAlignment);
  if (old != None && CanReplace(Stub, old, lastRawEnd, fileEnd)) {
    const Section& s = sections[old];
    p.Slot = old;
    p.NumberOfSections = h.NumberOfSections;
    p.VirtualAddress = s.VirtualAddress;
    p.PointerToRawData = s.PointerToRawData;
    p.KeptEnd = s.PointerToRawData;
    p.SizeOfInitializedData =
        h.SizeOfInitializedData - std::min(h.SizeOfInitializedData, s.SizeOfRawData);
  } else {
    if (sections.size() >= 0xFFFF)
      throw PeWriteError("the stub already has the most sections a PE image can have");
    const std::uint64_t header =
        h.SectionTableOffset + std::uint64_t{SectionHeaderSize} * sections.size();
    if (header + SectionHeaderSize > firstRaw)
      throw PeWriteError("no room for another section header: the section table would run "
                         "into the first section's data at " +
                         Hex(firstRaw));
    const auto slot = bytes.subspan(header, SectionHeaderSize);
    if (std::any_of(slot.begin(), slot.end(), [](std::uint8_t b) { return b != 0; }))
      throw PeWriteError("no room for another section header: the bytes after the section "
                         "table are in use");
    if (memoryEnd > MaxImageSize)
      throw PeWriteError("the stub's image is too large to add a section");
    p.Slot = sections.size();
    p.NumberOfSections = static_cast<std::uint16_t>(sections.size() + 1);
    p.VirtualAddress = static_cast<std::uint32_t>(memoryEnd);
    p.KeptEnd = fileEnd;
    const std::uint64_t raw = AlignUp(std::max(lastRawEnd, fileEnd), h.FileAlignment);
    if (raw + rawSize > std::numeric_limits<std::uint32_t>::max())
      throw PeWriteError("the output file would exceed 4 GiB");
    p.PointerToRawData = static_cast<std::uint32_t>(raw);
    p.SizeOfInitializedData = h.SizeOfInitializedData;
  }

  p.RawSize = rawSize;
  p.SizeOfImage = AlignUp(p.VirtualAddress + SectionSize, h.SectionAlignment);
  if (p.SizeOfImage > MaxImageSize)
    throw PeWriteError("the archive does not fit a 32-bit image: its resources take " +
                       std::to_string(SectionSize) + " bytes, and the image has room for " +
                       std::to_string(MaxImageSize - p.VirtualAddress) + " (at most " +
                       Hex(MaxImageSize) + " bytes in all)");
  p.SizeOfInitializedData = static_cast<std::uint32_t>(std::min<std::uint64_t>(
      std::uint64_t{p.SizeOfInitializedData} + rawSize, std::numeric_limits<std::uint32_t>::max()));
  return p;
}

// Writes through a fixed buffer to the output file and sums the checksum on the way.
class FileSink : public OutputSink {
public:
  explicit FileSink(std::string Path)
      : Path(std::move(Path)), Handle(platform::CreateFileExclusive(this->Path)) {
    if (Handle == platform::InvalidFileHandle)
      throw PeWriteError("Cannot create file " + this->Path);
    Buffer.reserve(BufferSize);
  }
  ~FileSink() override {
    if (Handle != platform::InvalidFileHandle)
      platform::CloseFile(Handle);
  }
  FileSink(const FileSink&) = delete;
  FileSink& operator=(const FileSink&) = delete;

  void Write(std::span<const std::uint8_t> Bytes) override {
    Sum.Add(Bytes);
    while (!Bytes.empty()) {
      const std::size_t n = std::min(Bytes.size(), BufferSize - Buffer.size());
      Buffer.insert(Buffer.end(), Bytes.begin(), Bytes.begin() + static_cast<std::ptrdiff_t>(n));
      Bytes = Bytes.subspan(n);
      if (Buffer.size() == BufferSize)
        Flush();
    }
  }

  void WriteZeros(std::uint64_t Count) {
    static constexpr std::uint8_t Zeros[4096] = {};
    while (Count > 0) {
      const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(Count, sizeof Zeros));
      Write(std::span(Zeros, n));
      Count -= n;
    }
  }

  std::uint64_t Written() const { return Sum.Length(); }

  // Flushes, then stores the checksum of everything written at CheckSumOffset.
  void Finish(std::uint32_t CheckSumOffset) {
    Flush();
    std::uint8_t value[4];
    Put32(value, Sum.Value());
    const auto offset = static_cast<std::int32_t>(CheckSumOffset);
    if (platform::SeekFile(Handle, offset, 0) != offset ||
        platform::WriteFile(Handle, value, 4) != 4)
      throw PeWriteError("Cannot write file " + Path);
    platform::CloseFile(std::exchange(Handle, platform::InvalidFileHandle));
  }

  // Closes and deletes the partial output.
  void Discard() {
    platform::CloseFile(std::exchange(Handle, platform::InvalidFileHandle));
    platform::RemoveFile(Path);
  }

private:
  static constexpr std::size_t BufferSize = 1 << 16;

  void Flush() {
    const auto n = static_cast<std::int32_t>(Buffer.size());
    if (platform::WriteFile(Handle, Buffer.data(), n) != n)
      throw PeWriteError("Cannot write file " + Path);
    Buffer.clear();
  }

  std::string Path;
  platform::FileHandle Handle;
  std::vector<std::uint8_t> Buffer;
  PeChecksum Sum;
};

std::vector<std::uint8_t> PatchedHeaders(const PeImage& Stub, const Placement& P,
                                         std::uint64_t SectionSize) {
  const PeHeaders& h = Stub.Headers();
  const std::uint64_t end =
      h.SectionTableOffset + std::uint64_t{SectionHeaderSize} * P.NumberOfSections;
  std::vector<std::uint8_t> bytes(Stub.Bytes().begin(),
                                  Stub.Bytes().begin() + static_cast<std::ptrdiff_t>(end));
  std::uint8_t* optional = bytes.data() + h.OptionalHeaderOffset;
  Put16(bytes.data() + h.PeOffset + 6, P.NumberOfSections);
  Put32(optional + 8, P.SizeOfInitializedData);
  Put32(optional + 56, static_cast<std::uint32_t>(P.SizeOfImage));
  Put32(optional + 64, 0); // summed as zero; Finish stores the real value
  std::uint8_t* directories = optional + h.DataDirectoriesOffset;
  Put32(directories + 8 * ResourceDirectoryIndex, P.VirtualAddress);
  Put32(directories + 8 * ResourceDirectoryIndex + 4, static_cast<std::uint32_t>(SectionSize));
  if (P.DropCertificate) {
    Put32(directories + 8 * CertificateDirectoryIndex, 0);
    Put32(directories + 8 * CertificateDirectoryIndex + 4, 0);
  }
  std::uint8_t* header = bytes.data() + h.SectionTableOffset + SectionHeaderSize * P.Slot;
  std::memset(header, 0, SectionHeaderSize);
  std::memcpy(header, ".rsrc", 5);
  Put32(header + 8, static_cast<std::uint32_t>(SectionSize));
  Put32(header + 12, P.VirtualAddress);
  Put32(header + 16, static_cast<std::uint32_t>(P.RawSize));
  Put32(header + 20, P.PointerToRawData);
  Put32(header + 36, ResourceSectionCharacteristics);
  return bytes;
}

} // namespace

WriteReport WriteImageWithResources(const PeImage& Stub, const std::vector<Resource>& Resources,
                                    const std::string& OutputPath) {
  std::vector<Leaf> leaves = SortedLeaves(Resources);
  Table root = BuildTree(leaves);
  std::uint64_t directorySize = 0;
  const std::uint64_t sectionSize = PlaceSection(root, leaves, directorySize);
  if (sectionSize > MaxImageSize)
    throw PeWriteError("the archive does not fit a 32-bit image: its resources take " +
                       std::to_string(sectionSize) + " bytes, more than " + Hex(MaxImageSize));
  const Placement p = Place(Stub, sectionSize);
  const std::vector<std::uint8_t> headers = PatchedHeaders(Stub, p, sectionSize);
  const std::vector<std::uint8_t> directory =
      DirectoryBytes(root, leaves, directorySize, p.VirtualAddress);

  FileSink out(OutputPath);
  try {
    out.Write(headers);
    out.Write(Stub.Bytes().subspan(headers.size(), p.KeptEnd - headers.size()));
    out.WriteZeros(p.PointerToRawData - p.KeptEnd);
    out.Write(directory);
    for (const Leaf& leaf : leaves) {
      out.WriteZeros(p.PointerToRawData + leaf.DataOffset - out.Written());
      const std::uint64_t start = out.Written();
      leaf.Data->WriteTo(out);
      if (out.Written() - start != leaf.Size)
        throw PeWriteError("resource " + Describe(leaf) + " delivered " +
                           std::to_string(out.Written() - start) + " bytes instead of " +
                           std::to_string(leaf.Size));
    }
    out.WriteZeros(p.PointerToRawData + p.RawSize - out.Written());
    out.Finish(Stub.Headers().CheckSumOffset());
  } catch (...) {
    out.Discard();
    throw;
  }
  return WriteReport{p.DropCertificate, static_cast<std::uint32_t>(p.SizeOfImage)};
}

} // namespace vexa::pe
