#include "platform/code_page.h"

#include <cerrno>
#include <iconv.h>
#include <vector>

namespace vexa::platform {

namespace {

std::string IconvName(unsigned CodePage) { return "CP" + std::to_string(CodePage); }

const iconv_t Unusable = reinterpret_cast<iconv_t>(-1);

} // namespace

std::optional<std::string> EncodeInCodePage(std::u16string_view Text, unsigned CodePage) {
  // No //TRANSLIT: a character outside the code page fails the conversion.
  const iconv_t converter = ::iconv_open(IconvName(CodePage).c_str(), "UTF-16LE");
  if (converter == Unusable)
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

std::u16string DecodeFromCodePage(std::string_view Text, unsigned CodePage) {
  std::u16string out;
  const iconv_t converter = ::iconv_open("UTF-16LE", IconvName(CodePage).c_str());
  if (converter == Unusable) {
    for (const char ch : Text)
      out.push_back(static_cast<unsigned char>(ch) < 0x80 ? char16_t(ch) : u'\uFFFD');
    return out;
  }
  // Every byte of an ANSI code page gives at most one UTF-16 unit, and a character held
  // back (1258 composes a letter with the accent that may follow it) one more.
  std::vector<char> units(Text.size() * 2 + 4);
  const auto convert = [&](char** From, std::size_t* FromLeft) {
    char* to = units.data();
    std::size_t toLeft = units.size();
    const std::size_t result = ::iconv(converter, From, FromLeft, &to, &toLeft);
    for (const char* unit = units.data(); unit < to; unit += 2)
      out.push_back(static_cast<char16_t>(static_cast<unsigned char>(unit[0]) |
                                          static_cast<unsigned char>(unit[1]) << 8));
    return result != static_cast<std::size_t>(-1);
  };
  std::vector<char> in(Text.begin(), Text.end());
  char* from = in.data();
  std::size_t fromLeft = in.size();
  while (!convert(&from, &fromLeft)) {
    // A byte the code page has no character for, or a lead byte without its second: what
    // came before it is written out first.
    convert(nullptr, nullptr);
    out.push_back(u'\uFFFD');
    ++from;
    --fromLeft;
  }
  convert(nullptr, nullptr);
  ::iconv_close(converter);
  return out;
}

} // namespace vexa::platform
