#pragma once
// An archive opened without running it: the file mapped, its resources read through the
// same classes the stub uses on its own module, and its header loaded.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "archive/item_paths.h"
#include "archive/vexa_header.h"
#include "pe/pe_resource_module.h"
#include "pe/version_info.h"
#include "platform/mapped_file.h"

namespace vexa::tool {

class TArchiveFile {
public:
  // Raises ToolError naming Path when it is not a Windows program or carries no archive
  // header the stub could load.
  explicit TArchiveFile(const std::string& Path);

  const std::string& Path() const { return FilePath; }
  const TResourceModule& Module() const { return *Resources; }
  const pe::PeImage& Image() const { return Resources->Image(); }
  const TVexaHeader& Header() const { return Loaded; }
  // What the loader maps in one piece.
  std::uint32_t ImageSize() const { return Resources->Image().Headers().SizeOfImage; }
  // The PE image checksum the header holds (0 for none), and the one the file's bytes
  // give now: they differ when anything in the file changed after it was written.
  std::uint32_t StoredChecksum() const { return Resources->Image().Headers().CheckSum; }
  std::uint32_t ActualChecksum() const;
  // The code page of the archive's 8-bit texts (names, paths, password): the one the packer
  // recorded, else 1252, which archives that record none have always been read in.
  unsigned CodePage() const { return Recorded.value_or(1252); }
  bool CodePageRecorded() const { return Recorded.has_value(); }
  std::string WelcomeText() const;
  std::string WelcomeTitle() const;
  // The version resource Windows shows for the .exe (the author's, or the stub's own);
  // nothing when there is none that can be read.
  std::optional<pe::VersionInfo> VersionInfo() const;
  // The packer's CRC-32 of every item, when the archive has them.
  std::optional<std::vector<std::uint32_t>> Checksums() const;
  // Whether vexa packed the archive, which it tells by its item checksums resource: only
  // vexa writes one, and only vexa promises an image checksum that fits the file. Other
  // builders write the archive's resources into a copy of the stub in place, which keeps
  // the stub's own checksum in the header.
  bool PackedByVexa() const { return ChecksumsEntry() != nullptr; }
  // How many item resources follow the last one the header names, numbered on without a
  // gap: resources the stub and this tool never read.
  std::size_t ItemResourcesPastHeader() const;
  // Whether the archive has an ITEMPATHS resource, which then names every item and the
  // empty folders.
  bool HasItemPaths() const { return PathsFound; }
  // Its paths, as stored: nothing when there is none or it is damaged.
  const std::optional<TItemPathTable>& ItemPaths() const { return Paths; }
  // Why ITEMPATHS cannot name this archive's items, naming those it leaves without a path;
  // empty when it can or there is none.
  const std::string& ItemPathsDamage() const { return PathsDamage; }
  // Item Index's path below the destination (UTF-8, backslashes between folders): from
  // ITEMPATHS when the archive has a usable one, else the item's FileName.
  std::string ItemPath(std::size_t Index) const;
  // The resource name of item Index (from 0).
  static std::string ItemResourceName(std::size_t Index) {
    return "Item" + std::to_string(Index + 1);
  }

private:
  const pe::ResourceEntry* ChecksumsEntry() const;

  std::string FilePath;
  platform::MappedFile File;
  std::unique_ptr<TPeResourceModule> Resources;
  TVexaHeader Loaded;
  std::optional<unsigned> Recorded; // the code page
  bool PathsFound = false;
  std::optional<TItemPathTable> Paths;
  std::string PathsDamage;
};

// Where the password of an encrypted archive comes from: given the archive's code page, the
// password in it. Asked only when the archive is encrypted; may raise ToolError.
using PasswordSource = std::function<std::string(unsigned CodePage)>;

// The password for an encrypted archive, in the archive's code page, checked against its
// check block before any item is read. Raises ToolError for a wrong or missing password.
std::string VerifiedPassword(const TArchiveFile& Archive, const PasswordSource& Source);

} // namespace vexa::tool
