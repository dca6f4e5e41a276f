#include "tool_base/local_path.h"

#include "tool_base/tool_error.h"

#ifdef _WIN32
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

std::string SystemName(const fs::path& Path) {
#ifdef _WIN32
  const std::wstring& wide = Path.native();
  if (wide.empty())
    return {};
  // A UTF-8 code page spells every name, and takes neither flags nor a default character.
  const bool utf8 = ::GetACP() == CP_UTF8;
  BOOL lossy = FALSE;
  const auto convert = [&](char* Out, int Room) {
    return ::WideCharToMultiByte(CP_ACP, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, wide.data(),
                                 static_cast<int>(wide.size()), Out, Room, nullptr,
                                 utf8 ? nullptr : &lossy);
  };
  const int length = convert(nullptr, 0);
  std::string name(static_cast<std::size_t>(length), '\0');
  if (length > 0)
    convert(name.data(), length);
  if (length == 0 || lossy)
    throw ToolError(Utf8Of(Path) + ": this name has characters outside the system's code page");
  return name;
#else
  return Path.string();
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
