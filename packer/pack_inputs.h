#pragma once
// The files an archive is packed from, found and checked before any of them is read.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "archive/item_paths.h"

namespace vexa::tool {

// A file to pack, holding less than 4 GiB.
struct PackInput {
  // In the system's form: a path object would keep every component apart as well, which
  // across thousands of items costs several times the text.
  std::filesystem::path::string_type Path;
  // Where it goes below the destination, folders separated by backslashes.
  std::u16string TreePath;
  // Its FileName, in the archive's code page and at most 32 bytes: its own name when the
  // code page spells it plainly, else a stand-in such as ~17.dll, unique among the items.
  std::string Name;
  std::uint64_t Size = 0;
  std::int64_t ModifiedSeconds = 0;
};

struct PackInputs {
  std::vector<PackInput> Files;
  // The ITEMPATHS resource to write: only when an item lies in a folder, has a stand-in
  // FileName, or the tree has empty folders. Without them the archive is what readers that
  // know only FileName have always read.
  std::optional<TItemPaths> ItemPaths;
};

// The files Paths (UTF-8) name, each folder replaced by the tree below it, its files named
// relative to it and visited in path order; inputs merge in the order given. A name that
// Excludes matches leaves out that file, or that folder whole: a pattern without '/'
// matches any file or folder name, one with '/' the path relative to its input folder;
// '*' stands for any characters but '/', '?' for one. Checked as items of an archive in
// CodePage that asks a welcome question or not (its texts share the resource directory
// with the items). Raises ToolError naming the file that cannot be an item, or the two
// paths that would be one file on Windows, before any file is read.
PackInputs CollectInputs(const std::vector<std::string>& Paths,
                         const std::vector<std::string>& Excludes, bool Welcome, unsigned CodePage);

// Whether Pattern, an --exclude pattern, leaves out the file or folder at Relative, its path
// below its input ('/' between folders).
bool ExcludeMatches(std::string_view Pattern, std::string_view Relative);

} // namespace vexa::tool
