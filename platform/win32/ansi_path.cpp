#include "platform/win32/ansi_path.h"

#include <optional>

#include "platform/win32/windows.h"

namespace vexa::win32 {

namespace {

std::string ToAnsi(const std::wstring& Wide) {
  const int size = static_cast<int>(Wide.size());
  const int bytes = ::WideCharToMultiByte(CP_ACP, 0, Wide.data(), size, nullptr, 0, nullptr,
                                          nullptr);
  std::string ansi(static_cast<std::size_t>(bytes > 0 ? bytes : 0), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, Wide.data(), size, ansi.data(), bytes, nullptr, nullptr);
  return ansi;
}

// A conversion that reads back as the same path; best-fit replacements ("ł" as "l") and
// '?' for the unmappable fail that test.
std::optional<std::string> Spelled(const std::wstring& Wide) {
  std::string ansi = ToAnsi(Wide);
  const int size = static_cast<int>(ansi.size());
  const int chars = ::MultiByteToWideChar(CP_ACP, 0, ansi.data(), size, nullptr, 0);
  std::wstring back(static_cast<std::size_t>(chars > 0 ? chars : 0), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, ansi.data(), size, back.data(), chars);
  if (back != Wide)
    return std::nullopt;
  return ansi;
}

} // namespace

std::string AnsiPath(const std::wstring& Path) {
  if (std::optional<std::string> ansi = Spelled(Path))
    return *ansi;
  const DWORD needed = ::GetShortPathNameW(Path.c_str(), nullptr, 0);
  if (needed == 0)
    return {};
  std::wstring shortPath(needed, L'\0');
  const DWORD length = ::GetShortPathNameW(Path.c_str(), shortPath.data(), needed);
  if (length == 0 || length >= needed)
    return {};
  shortPath.resize(length);
  return Spelled(shortPath).value_or(std::string());
}

std::string ShownPath(const std::wstring& Path) { return ToAnsi(Path); }

} // namespace vexa::win32
