#include "platform/win32/ansi_path.h"

#include <cwchar>
#include <vector>

#include "platform/win32/wide_file.h"
#include "platform/win32/windows.h"

namespace vexa::win32 {

namespace {

std::string ToAnsi(const wchar_t* Wide) {
  const int bytes = ::WideCharToMultiByte(CP_ACP, 0, Wide, -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 1)
    return {};
  std::string ansi(static_cast<std::size_t>(bytes - 1), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, Wide, -1, ansi.data(), bytes, nullptr, nullptr);
  return ansi;
}

// Ansi reads back as the same path: best-fit replacements ("ł" as "l") and '?' for the
// unmappable fail that test.
bool Spelled(const wchar_t* Wide, std::string& Ansi) {
  Ansi = ToAnsi(Wide);
  const int chars = ::MultiByteToWideChar(CP_ACP, 0, Ansi.c_str(), -1, nullptr, 0);
  std::vector<wchar_t> back(static_cast<std::size_t>(chars > 0 ? chars : 1), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, Ansi.c_str(), -1, back.data(), chars);
  return std::wcscmp(back.data(), Wide) == 0;
}

} // namespace

std::string AnsiFromWide(const std::wstring& Wide) { return ToAnsi(Wide.c_str()); }

std::string AnsiPath(const wchar_t* Path) {
  std::string ansi;
  if (Spelled(Path, ansi))
    return ansi;
  const DWORD needed = ::GetShortPathNameW(Path, nullptr, 0);
  if (needed == 0)
    return {};
  std::vector<wchar_t> shortPath(needed, L'\0');
  const DWORD length = ::GetShortPathNameW(Path, shortPath.data(), needed);
  if (length == 0 || length >= needed || !Spelled(shortPath.data(), ansi))
    return {};
  return ansi;
}

std::wstring WideFromAnsi(std::string_view Ansi) { return WideFromCodePage(Ansi, CP_ACP); }

} // namespace vexa::win32
