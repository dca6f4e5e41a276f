#include "archive/vexa_header.h"

#include <cstring>

#include "resources/resource_ids.h"

namespace vexa {

namespace {

using namespace ArchiveLayout;

std::uint16_t ReadU16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

std::uint32_t ReadU32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}

// Text up to the first NUL, or the whole field when it has none.
std::string BoundedText(const std::uint8_t* p, std::size_t Width) {
  const void* nul = std::memchr(p, 0, Width);
  const std::size_t n = nul ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - p) : Width;
  return std::string(reinterpret_cast<const char*>(p), n);
}

// Lines end at CR, LF or CR LF; a last line without an ending still counts.
std::vector<std::string> SplitLines(const char* Text, std::size_t Length) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < Length; ++i) {
    if (Text[i] != '\r' && Text[i] != '\n')
      continue;
    lines.emplace_back(Text + start, i - start);
    if (Text[i] == '\r' && i + 1 < Length && Text[i + 1] == '\n')
      ++i;
    start = i + 1;
  }
  if (start < Length)
    lines.emplace_back(Text + start, Length - start);
  return lines;
}

// Releases a loaded resource on every path out of the loader.
class LoadedResource {
public:
  LoadedResource(const TResourceModule& Module, TResourceModule::Loaded Handle)
      : Module(Module), Handle(Handle) {}
  ~LoadedResource() { Module.Free(Handle); }
  LoadedResource(const LoadedResource&) = delete;
  LoadedResource& operator=(const LoadedResource&) = delete;

private:
  const TResourceModule& Module;
  TResourceModule::Loaded Handle;
};

} // namespace

std::string FileName(const TItemRecord& Item) {
  return BoundedText(&Item[FileNameOffset], NameFieldSize);
}
std::uint8_t Compressed(const TItemRecord& Item) { return Item[CompressedOffset]; }
double FileTime(const TItemRecord& Item) {
  double t;
  std::memcpy(&t, &Item[FileTimeOffset], sizeof t);
  return t;
}
std::uint32_t OriginalSize(const TItemRecord& Item) { return ReadU32(&Item[OriginalSizeOffset]); }
std::uint32_t StoredSize(const TItemRecord& Item) { return ReadU32(&Item[StoredSizeOffset]); }

std::uint16_t TVexaHeader::ItemCount() const { return ReadU16(&Block[ItemCountOffset]); }

std::string TVexaHeader::DestinationPath() const {
  return BoundedText(&Block[DestinationPathOffset], PathFieldSize);
}

std::string TVexaHeader::ProgramPath() const {
  return BoundedText(&Block[ProgramPathOffset], PathFieldSize);
}

void TVexaHeader::Clear() {
  Items.clear();
  Texts.clear();
}

bool TVexaHeader::LoadFromResource(const TResourceModule& Module, const std::string& Name,
                                   ErrorReporter Report) {
  Clear();
  Block.fill(0);

  const TResourceModule::Found found = Module.Find(Name.c_str());
  if (!found) {
    Report(IDS_HEADER_MISSING);
    return false;
  }
  const TResourceModule::Loaded handle = Module.Load(found);
  if (!handle) {
    Report(IDS_HEADER_UNREADABLE);
    return false;
  }
  const LoadedResource release(Module, handle);
  const std::uint8_t* data = Module.Lock(handle);
  if (!data) {
    Report(IDS_OUT_OF_MEMORY);
    return false;
  }

  const std::size_t size = Module.SizeOf(found);
  const std::uint16_t count = size >= BlockSize ? ReadU16(data + ItemCountOffset) : 0;
  const std::size_t textStart = BlockSize + ItemRecordSize * count;
  const void* textEnd = size > textStart ? std::memchr(data + textStart, 0, size - textStart) : nullptr;
  const bool programPathEnds = size >= BlockSize && std::memchr(data + ProgramPathOffset, 0, PathFieldSize);
  if (!textEnd || !programPathEnds) {
    Report(IDS_HEADER_UNREADABLE);
    return false;
  }

  std::memcpy(Block.data(), data, BlockSize);
  Items.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    auto record = std::make_unique<TItemRecord>();
    std::memcpy(record->data(), data + BlockSize + ItemRecordSize * i, ItemRecordSize);
    Items.push_back(std::move(record));
  }
  const char* text = reinterpret_cast<const char*>(data + textStart);
  Texts = SplitLines(text, static_cast<std::size_t>(static_cast<const char*>(textEnd) - text));
  return true;
}

} // namespace vexa
