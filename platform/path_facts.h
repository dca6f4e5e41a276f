#pragma once
// What the tool asks of the file system by a path, answered by the system's own calls. On
// Windows they take the \\?\ form, so that a tree deeper than MAX_PATH is read whole, and
// they tell a link or a junction from what it leads to, which the C runtime cannot.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace vexa::platform {

struct PathFacts {
  enum class Kind { Missing, File, Folder, Other, Unreadable };
  Kind Leads = Kind::Missing; // what the path leads to, every link followed
  bool Link = false;          // the last component is itself a link or a junction
  std::uint64_t Size = 0;     // of a file
  std::int64_t Modified = 0;  // of a file: seconds since 1970 (UTC)
  std::string Why;            // for Unreadable: the system's words
};

PathFacts LookAt(const std::filesystem::path& Path);

// The names in Folder, without . and .., in the system's order; false with Why when the
// folder cannot be read.
bool ListFolder(const std::filesystem::path& Folder, std::vector<std::filesystem::path>& Names,
                std::string& Why);

} // namespace vexa::platform
