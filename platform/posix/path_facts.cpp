#include "platform/path_facts.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace vexa::platform {

PathFacts LookAt(const std::filesystem::path& Path) {
  PathFacts facts;
  struct stat entry;
  if (::lstat(Path.c_str(), &entry) != 0) {
    if (errno != ENOENT && errno != ENOTDIR) {
      facts.Leads = PathFacts::Kind::Unreadable;
      facts.Why = std::strerror(errno);
    }
    return facts;
  }
  facts.Link = S_ISLNK(entry.st_mode);
  if (facts.Link && ::stat(Path.c_str(), &entry) != 0)
    return facts; // a link that leads nowhere
  if (S_ISREG(entry.st_mode)) {
    facts.Leads = PathFacts::Kind::File;
    facts.Size = static_cast<std::uint64_t>(entry.st_size);
    facts.Modified = entry.st_mtime;
  } else {
    facts.Leads = S_ISDIR(entry.st_mode) ? PathFacts::Kind::Folder : PathFacts::Kind::Other;
  }
  return facts;
}

bool ListFolder(const std::filesystem::path& Folder, std::vector<std::filesystem::path>& Names,
                std::string& Why) {
  DIR* folder = ::opendir(Folder.c_str());
  if (!folder) {
    Why = std::strerror(errno);
    return false;
  }
  errno = 0;
  while (const dirent* entry = ::readdir(folder)) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..")
      Names.emplace_back(name);
  }
  const int error = errno;
  ::closedir(folder);
  if (error)
    Why = std::strerror(error);
  return error == 0;
}

} // namespace vexa::platform
