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

bool IsSafeItemPath(std::string_view Name) {
  // Whether the component read so far holds more than dots and spaces. Starting false
  // refuses the empty name and a leading separator; ending false, a trailing one.
  bool substance = false;
  for (const char ch : Name) {
    if (ch == ':')
      return false;
    if (ch == '\\' || ch == '/') {
      if (!substance)
        return false;
      substance = false;
    } else if (ch != '.' && ch != ' ') {
      substance = true;
    }
  }
  return substance;
}

std::vector<std::string> SplitPath(std::string_view Path, std::string_view Separators) {
  std::vector<std::string> parts;
  for (std::size_t start = 0;;) {
    const std::size_t end = Path.find_first_of(Separators, start);
    parts.emplace_back(Path.substr(start, end - start));
    if (end == std::string_view::npos)
      return parts;
    start = end + 1;
  }
}

} // namespace vexa
