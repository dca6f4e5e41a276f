#include "platform/code_page.h"

#include "platform/win32/windows.h"

namespace vexa::platform {

std::optional<std::string> EncodeInCodePage(std::u16string_view Text, unsigned CodePage) {
  if (Text.empty())
    return ::IsValidCodePage(CodePage) ? std::optional<std::string>("") : std::nullopt;
  const auto* wide = reinterpret_cast<const wchar_t*>(Text.data());
  const int length = static_cast<int>(Text.size());
  // WC_NO_BEST_FIT_CHARS and the default-character flag: a character outside the code
  // page is refused, not replaced by a look-alike or a question mark.
  BOOL usedDefault = FALSE;
  const int size = ::WideCharToMultiByte(CodePage, WC_NO_BEST_FIT_CHARS, wide, length, nullptr, 0,
                                         nullptr, &usedDefault);
  if (size <= 0 || usedDefault)
    return std::nullopt;
  std::string out(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CodePage, WC_NO_BEST_FIT_CHARS, wide, length, out.data(), size, nullptr,
                        nullptr);
  return out;
}

std::u16string DecodeFromCodePage(std::string_view Text, unsigned CodePage) {
  std::u16string out;
  const int length = static_cast<int>(Text.size());
  const int size =
      Text.empty() ? 0 : ::MultiByteToWideChar(CodePage, 0, Text.data(), length, nullptr, 0);
  if (size <= 0) {
    for (const char ch : Text)
      out.push_back(static_cast<unsigned char>(ch) < 0x80 ? char16_t(ch) : u'\uFFFD');
    return out;
  }
  out.resize(static_cast<std::size_t>(size));
  ::MultiByteToWideChar(CodePage, 0, Text.data(), length, reinterpret_cast<wchar_t*>(out.data()),
                        size);
  return out;
}

} // namespace vexa::platform
