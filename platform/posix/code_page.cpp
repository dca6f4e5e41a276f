#include "platform/code_page.h"

#include <cerrno>
#include <iconv.h>
#include <vector>

namespace vexa::platform {

std::optional<std::string> EncodeInCodePage(std::u16string_view Text, unsigned CodePage) {
  // No //TRANSLIT: a character outside the code page fails the conversion.
  const iconv_t converter = ::iconv_open(("CP" + std::to_string(CodePage)).c_str(), "UTF-16LE");
  if (converter == reinterpret_cast<iconv_t>(-1))
    return std::nullopt;
  std::vector<char> in;
  for (const char16_t unit : Text) {
    in.push_back(static_cast<char>(unit & 0xFF));
    in.push_back(static_cast<char>(unit >> 8));
  }
  // Four bytes per UTF-16 unit is more than any ANSI code page needs.
  std::string out(in.size() * 2 + 4, '\0');
  char* from = in.data();
  std::size_t fromLeft = in.size();
  char* to = out.data();
  std::size_t toLeft = out.size();
  const std::size_t result = ::iconv(converter, &from, &fromLeft, &to, &toLeft);
  const bool complete =
      result != static_cast<std::size_t>(-1) &&
      ::iconv(converter, nullptr, nullptr, &to, &toLeft) != static_cast<std::size_t>(-1);
  ::iconv_close(converter);
  if (!complete || result != 0)
    return std::nullopt;
  out.resize(out.size() - toLeft);
  return out;
}

} // namespace vexa::platform
