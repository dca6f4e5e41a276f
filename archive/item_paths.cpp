#include "archive/item_paths.h"

#include <array>

namespace vexa {

namespace {

char16_t AsciiUpper(char16_t Unit) { return Unit >= u'a' && Unit <= u'z' ? Unit - 32 : Unit; }

bool IsDeviceName(std::u16string_view Component) {
  // Windows reads NUL.txt and "NUL " as NUL too: the name up to its first dot, without
  // trailing spaces, decides.
  std::u16string_view base = Component.substr(0, Component.find(u'.'));
  while (!base.empty() && base.back() == u' ')
    base.remove_suffix(1);
  std::u16string upper;
  for (const char16_t unit : base)
    upper += AsciiUpper(unit);
  static constexpr std::array<std::u16string_view, 6> plain = {u"CON", u"PRN",    u"AUX",
                                                               u"NUL", u"CONIN$", u"CONOUT$"};
  for (const std::u16string_view device : plain)
    if (upper == device)
      return true;
  if (upper.size() != 4 || (upper.compare(0, 3, u"COM") != 0 && upper.compare(0, 3, u"LPT") != 0))
    return false;
  // The superscript digits count as digits here.
  const char16_t digit = upper[3];
  return (digit >= u'0' && digit <= u'9') || digit == u'\u00B9' || digit == u'\u00B2' ||
         digit == u'\u00B3';
}

bool IsSafeComponent(std::u16string_view Component) {
  if (Component.empty() || Component.size() > MaxPathComponentUnits)
    return false;
  bool substance = false;
  for (const char16_t unit : Component) {
    if (unit < 0x20 || std::u16string_view(u"<>:\"/|?*").find(unit) != std::u16string_view::npos)
      return false;
    if (unit != u'.' && unit != u' ')
      substance = true;
  }
  return substance && !IsDeviceName(Component);
}

} // namespace

std::vector<std::uint8_t> EncodeItemPaths(const TItemPaths& Paths) {
  // Sized first: the resource lives until the archive is written, and a doubled buffer
  // would keep half as much again beside it.
  std::size_t units = 0;
  for (const auto* list : {&Paths.Items, &Paths.EmptyFolders})
    for (const std::u16string& path : *list)
      units += path.size() + 1;
  std::vector<std::uint8_t> bytes;
  bytes.reserve(2 * units);
  const auto put = [&bytes](std::u16string_view Path) {
    for (const char16_t unit : Path) {
      bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
      bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    bytes.push_back(0);
    bytes.push_back(0);
  };
  for (const std::u16string& path : Paths.Items)
    put(path);
  for (const std::u16string& folder : Paths.EmptyFolders)
    put(folder);
  return bytes;
}

std::optional<TItemPathTable> TItemPathTable::Decode(const std::uint8_t* Data, std::size_t Size,
                                                     std::size_t ItemCount) {
  if (Size % 2 != 0 || (Size != 0 && (Data[Size - 2] != 0 || Data[Size - 1] != 0)))
    return std::nullopt;
  const auto unitAt = [Data](std::size_t At) {
    return static_cast<char16_t>(Data[At] | (Data[At + 1] << 8));
  };
  // Sized first: a doubled buffer would keep half as much again unused.
  std::size_t paths = 0;
  std::size_t nameUnits = 0;
  for (std::size_t at = 0, name = 0; at < Size; at += 2) {
    const char16_t unit = unitAt(at);
    if (unit == 0) {
      ++paths;
      nameUnits += name;
    }
    name = unit == 0 || unit == u'\\' ? 0 : name + 1;
  }
  if (paths < ItemCount)
    return std::nullopt;
  TItemPathTable table;
  table.ItemCount = ItemCount;
  table.Names.reserve(nameUnits);
  table.NameEnds.reserve(paths);
  table.FolderOf.reserve(paths);
  std::u16string path;
  for (std::size_t at = 0; at < Size; at += 2) {
    if (const char16_t unit = unitAt(at); unit != 0) {
      path += unit;
      continue;
    }
    table.Add(path);
    path.clear();
  }
  return table;
}

void TItemPathTable::Add(std::u16string_view Path) {
  const std::size_t separator = Path.rfind(u'\\');
  const std::size_t split = separator == std::u16string_view::npos ? 0 : separator + 1;
  const std::u16string_view folder = Path.substr(0, split);
  const std::size_t last = FolderEnds.size() - 1;
  const std::size_t lastBegin = last == 0 ? 0 : FolderEnds[last - 1];
  if (std::u16string_view(Folders).substr(lastBegin) != folder) {
    Folders += folder;
    FolderEnds.push_back(static_cast<std::uint32_t>(Folders.size()));
  }
  FolderOf.push_back(static_cast<std::uint32_t>(FolderEnds.size() - 1));
  Names += Path.substr(split);
  NameEnds.push_back(static_cast<std::uint32_t>(Names.size()));
}

std::u16string TItemPathTable::Path(std::size_t Index) const {
  const std::size_t folder = FolderOf[Index];
  const std::size_t folderBegin = folder == 0 ? 0 : FolderEnds[folder - 1];
  const std::size_t nameBegin = Index == 0 ? 0 : NameEnds[Index - 1];
  return Folders.substr(folderBegin, FolderEnds[folder] - folderBegin) +
         Names.substr(nameBegin, NameEnds[Index] - nameBegin);
}

bool IsSafeTreePath(std::u16string_view Path) {
  if (Path.size() > MaxItemPathUnits)
    return false;
  for (;;) {
    const std::size_t separator = Path.find(u'\\');
    if (!IsSafeComponent(Path.substr(0, separator)))
      return false;
    if (separator == std::u16string_view::npos)
      return true;
    Path.remove_prefix(separator + 1);
  }
}

std::vector<std::u16string_view> FoldersOf(std::u16string_view Path) {
  std::vector<std::u16string_view> folders;
  for (std::size_t separator = Path.find(u'\\'); separator != std::u16string_view::npos;
       separator = Path.find(u'\\', separator + 1))
    folders.push_back(Path.substr(0, separator));
  return folders;
}

} // namespace vexa
