#pragma once
// Where each item goes below the destination, and the clean-up of what the run put there.
// An archive of a folder tree names its items' paths in ITEMPATHS (archive/item_paths.h):
// the folders they lie in are made, and the tree's empty folders. Without it each item
// goes where its FileName says, as it always has, and no folder is made. Either way the
// paths go through the wide file functions, in the \\?\ form once they are too long for
// the others, and nothing is written through a link or junction planted in the
// destination.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/item_paths.h"
#include "archive/vexa_header.h"
#include "streams/resource_module.h"
#include "streams/stream.h"

namespace vexa {

class TItemTree {
public:
  // Reads the archive's ITEMPATHS; false when it is there and damaged (so is the archive).
  bool Load(const TResourceModule& Module, const TVexaHeader& Archive);

  // The destination as the run settled it, in the ANSI code page.
  void SetDestination(const std::string& Folder);

  // Where item Index is to be written, the folders it lies in made; nothing when its path
  // is unsafe or leads through a link, which the caller reports as an invalid archive.
  std::optional<std::wstring> Target(std::size_t Index);
  // Creates (or empties) the file at Target's Path; null when it is there as a link that
  // leads outside (refused as Target refuses), EFCreateError when it cannot be created.
  std::unique_ptr<TStream> CreateItemFile(const std::wstring& Path) const;
  // The item at Path was written whole: the clean-up deletes it.
  void Written(const std::wstring& Path);

  // The tree's empty folders; an unsafe one is skipped.
  void MakeEmptyFolders();

  // Relative (a path below the destination, such as the program's) joined to it.
  std::wstring Joined(std::wstring_view Relative) const;

  // Deletes the files written, raising TFileException at the first that cannot be; then
  // the folders made, deepest first, each only when it is empty.
  void DeleteWritten();

private:
  bool EnsureFolder(std::wstring_view Relative);
  bool EnsureFoldersOf(std::wstring_view Relative);
  bool LeadsOutside(const std::wstring& Path) const;

  const TVexaHeader* Archive = nullptr;
  std::optional<TItemPathTable> Paths;
  std::wstring Destination;                 // a full path
  std::wstring FinalDestination;            // where it really is, upper case; empty when unknown
  std::vector<std::wstring> CheckedFolders; // sorted; a tree has few folders for its files
  std::vector<std::wstring> MadeFolders;    // outermost first
  std::vector<std::wstring> WrittenFiles;
};

} // namespace vexa
