#pragma once
// The files an archive is packed from, found and checked before any of them is read.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace vexa::tool {

// A file to pack: its name is a plain Windows name of at most 32 bytes in the archive's
// code page, and it holds less than 4 GiB.
struct PackInput {
  std::filesystem::path Path;
  std::string Name; // as stored: in the archive's code page
  std::uint64_t Size = 0;
  std::int64_t ModifiedSeconds = 0;
};

// The files Paths (UTF-8) name, folders replaced by the files directly in them in name
// order, checked as items of an archive in CodePage that asks a welcome question or not
// (its texts share the resource directory with the items). Raises ToolError naming the
// file that cannot be an item, or the two that would be one file on Windows.
std::vector<PackInput> CollectInputs(const std::vector<std::string>& Paths, bool Welcome,
                                     unsigned CodePage);

} // namespace vexa::tool
