#include "tool_base/local_path.h"

#ifdef _WIN32
#include "platform/win32/wide_file.h"
#include "platform/win32/windows.h"
#endif

namespace vexa::tool {

namespace fs = std::filesystem;

fs::path PathFromUtf8(std::string_view Utf8) {
  return fs::path(std::u8string(reinterpret_cast<const char8_t*>(Utf8.data()), Utf8.size()));
}

std::string Utf8Of(const fs::path& Path) {
  const std::u8string text = Path.u8string();
  return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

fs::path SystemPath(const fs::path& Path) {
#ifdef _WIN32
  return win32::LongPathForm(Path.native());
#else
  return Path;
#endif
}

#ifdef _WIN32
std::string Utf8FromWide(std::wstring_view Wide) {
  if (Wide.empty())
    return {};
  const int size = static_cast<int>(Wide.size());
  const int length =
      ::WideCharToMultiByte(CP_UTF8, 0, Wide.data(), size, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, Wide.data(), size, text.data(), length, nullptr, nullptr);
  return text;
}
#endif

} // namespace vexa::tool
