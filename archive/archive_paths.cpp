#include "archive/archive_paths.h"

namespace vexa {

std::string PathJoin(const std::string& Folder, const std::string& Name) {
  if (!Folder.empty() && Folder.back() == '\\')
    return Folder + Name;
  return Folder + '\\' + Name;
}

std::string FolderPart(const std::string& Path) {
  const std::size_t last = Path.find_last_of("\\:");
  return last == std::string::npos ? std::string() : Path.substr(0, last + 1);
}

bool IsSafeItemFileName(std::string_view Name) {
  if (Name.empty() || Name.find_first_of(":\\/") != std::string_view::npos)
    return false;
  return Name.find_first_not_of(". ") != std::string_view::npos;
}

} // namespace vexa
