#include "reader/archive_file.h"

#include <cstring>

#include "crypto/password_check.h"
#include "pe/pe_checksum.h"
#include "streams/resource_stream.h"
#include "texts/ansi_text.h"
#include "texts/archive_texts.h"
#include "texts/stub_texts.h"
#include "tool_base/item_checksums.h"
#include "tool_base/tool_error.h"

namespace vexa::tool {

namespace {
// The loader reports through a plain function; the message waits here for the caller.
std::string LoadProblem;
void RememberLoadProblem(unsigned TextId) { LoadProblem = FindStubText(TextId)->English; }

// Why Bytes cannot be the ITEMPATHS resource of ItemCount items, for a reader that has
// found it damaged: the items it leaves without a path are named.
std::string ItemPathsDamageOf(const std::uint8_t* Bytes, std::size_t Size, std::size_t ItemCount) {
  std::size_t paths = 0;
  for (std::size_t at = 0; at + 1 < Size; at += 2)
    paths += Bytes[at] == 0 && Bytes[at + 1] == 0;
  std::string why = "ITEMPATHS is damaged: ";
  if (paths < ItemCount)
    return why + "it holds paths for " + std::to_string(paths) + " of the " +
           std::to_string(ItemCount) + " items, none for item " + std::to_string(paths + 1) +
           (paths + 1 < ItemCount ? " to " + std::to_string(ItemCount) : "");
  return why + (Size % 2 ? "its length is odd" : "its last path has no end");
}
} // namespace

TArchiveFile::TArchiveFile(const std::string& Path) : FilePath(Path) {
  if (const std::string problem = File.Open(Path); !problem.empty())
    throw ToolError(problem);
  try {
    Resources = std::make_unique<TPeResourceModule>(pe::PeImage::Parse(File.Bytes()), &File);
  } catch (const pe::PeFormatError& e) {
    throw ToolError(Path + " is not a Windows program that vexa can read: " + e.what());
  }
  LoadProblem.clear();
  if (!Loaded.LoadFromResource(*Resources, "Header", RememberLoadProblem))
    throw ToolError(Path + " holds no usable archive: the extractor would say \"" + LoadProblem +
                    "\"");
  Recorded = RecordedCodePage(Resources->Image());
  if (const TResourceModule::Found found = Resources->Find(ItemPathsResourceName)) {
    PathsFound = true;
    const std::uint8_t* bytes = Resources->Lock(Resources->Load(found));
    const std::size_t size = Resources->SizeOf(found);
    Paths = TItemPathTable::Decode(bytes, size, Loaded.Items.size());
    if (!Paths)
      PathsDamage = ItemPathsDamageOf(bytes, size, Loaded.Items.size());
  }
  // The resource tree, the header and the paths are copied out of the file now, and with
  // thousands of items their pages are as large as the copies: they leave memory.
  File.Release(File.Data(), File.Size());
}

std::string TArchiveFile::ItemPath(std::size_t Index) const {
  if (Paths)
    return Utf8FromUtf16(Paths->Item(Index));
  return FromAnsi(FileName(*Loaded.Items[Index]), CodePage());
}

std::uint32_t TArchiveFile::ActualChecksum() const {
  // Each piece leaves memory once summed, as the items' bytes do once read: extract sums
  // the whole archive first, and keeps the footprint flat however large it is.
  return pe::FileChecksum(
      File.Bytes(), Resources->Image().Headers().CheckSumOffset(),
      [this](std::span<const std::uint8_t> Piece) { File.Release(Piece.data(), Piece.size()); });
}

std::string TArchiveFile::WelcomeText() const {
  return LoadResourceText(*Resources, "WelcomeText");
}
std::string TArchiveFile::WelcomeTitle() const {
  return LoadResourceText(*Resources, "WelcomeTitle");
}

std::optional<pe::VersionInfo> TArchiveFile::VersionInfo() const {
  for (const pe::ResourceEntry& entry : Resources->Image().Entries())
    if (entry.Type == pe::ResourceKey::FromId(pe::RtVersion))
      return pe::ParseVersionInfo(entry.Data);
  return std::nullopt;
}

const pe::ResourceEntry* TArchiveFile::ChecksumsEntry() const {
  const pe::ResourceKey type = pe::ResourceKey::FromName(ChecksumsType);
  const pe::ResourceKey name = pe::ResourceKey::FromName(ChecksumsName);
  for (const pe::ResourceEntry& entry : Resources->Image().Entries())
    if (entry.Type == type && entry.Name == name)
      return &entry;
  return nullptr;
}

std::optional<std::vector<std::uint32_t>> TArchiveFile::Checksums() const {
  if (const pe::ResourceEntry* entry = ChecksumsEntry()) {
    auto crcs = DecodeChecksums(entry->Data);
    if (crcs && crcs->size() == Loaded.Items.size())
      return crcs;
  }
  return std::nullopt;
}

std::size_t TArchiveFile::ItemResourcesPastHeader() const {
  std::size_t count = 0;
  while (Resources->Find(ItemResourceName(Loaded.Items.size() + count).c_str()))
    ++count;
  return count;
}

std::string VerifiedPassword(const TArchiveFile& Archive, const PasswordSource& Source) {
  if (!(Archive.Header().Flags() & hfEncrypted))
    return {};
  if (!Source)
    throw ToolError(Archive.Path() + " is encrypted: give its password");
  const std::string password = Source(Archive.CodePage());
  char buffer[PasswordCheckSize] = {};
  std::memcpy(buffer, password.data(), password.size());
  if (!CheckPassword(Archive.Header().PasswordCheck(), buffer))
    throw ToolError("wrong password for " + Archive.Path());
  return password;
}

} // namespace vexa::tool
