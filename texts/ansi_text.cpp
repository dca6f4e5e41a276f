#include "texts/ansi_text.h"

#include "platform/code_page.h"

namespace vexa::tool {

namespace {

// The next code point of UTF-8 text; nothing for malformed input.
std::optional<char32_t> NextCodePoint(std::string_view Text, std::size_t& At) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(Text[i]); };
  const unsigned char lead = byte(At);
  const int length = lead < 0x80         ? 1
                     : (lead >> 5) == 6  ? 2
                     : (lead >> 4) == 14 ? 3
                     : (lead >> 3) == 30 ? 4
                                         : 0;
  if (length == 0 || At + length > Text.size())
    return std::nullopt;
  char32_t c = length == 1 ? lead : lead & (0x7F >> length);
  for (int i = 1; i < length; ++i) {
    if ((byte(At + i) & 0xC0) != 0x80)
      return std::nullopt;
    c = (c << 6) | (byte(At + i) & 0x3F);
  }
  At += static_cast<std::size_t>(length);
  return c;
}

void AppendUtf8(std::string& Out, char32_t c) {
  if (c < 0x80) {
    Out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    Out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    Out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    Out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    Out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    Out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    Out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    Out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    Out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    Out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// The upper case of a letter that an ANSI code page can hold: Latin, Greek, Cyrillic, and
// the full-width letters and Roman numerals of the East Asian code pages. Dotless i and
// long s keep their case, as the upper-case table of Windows file systems has them.
char32_t UpperCase(char32_t c) {
  const auto pairedWithOddLower = [c](char32_t First, char32_t Last) {
    return c >= First && c <= Last && (c - First) % 2 == 1;
  };
  if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7) ||
      (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) || (c >= 0x430 && c <= 0x44F) ||
      (c >= 0xFF41 && c <= 0xFF5A))
    return c - 0x20;
  if (c >= 0x450 && c <= 0x45F)
    return c - 0x50;
  if (c >= 0x3AD && c <= 0x3AF)
    return c - 0x25;
  if (c >= 0x2170 && c <= 0x217F)
    return c - 0x10;
  if (c >= 0x24D0 && c <= 0x24E9)
    return c - 0x1A;
  switch (c) {
  case 0xB5:
    return 0x39C;
  case 0xFF:
    return 0x178;
  case 0x192:
    return 0x191;
  case 0x3AC:
    return 0x386;
  case 0x3C2:
    return 0x3A3;
  case 0x3CC:
    return 0x38C;
  case 0x3CD:
  case 0x3CE:
    return c - 0x3F;
  case 0x4CF:
    return 0x4C0;
  }
  if (pairedWithOddLower(0x100, 0x12F) || pairedWithOddLower(0x132, 0x137) ||
      pairedWithOddLower(0x139, 0x148) || pairedWithOddLower(0x14A, 0x177) ||
      pairedWithOddLower(0x179, 0x17E) || pairedWithOddLower(0x1A0, 0x1A1) ||
      pairedWithOddLower(0x1AF, 0x1B0) || pairedWithOddLower(0x460, 0x481) ||
      pairedWithOddLower(0x48A, 0x4BF) || pairedWithOddLower(0x4C1, 0x4CE) ||
      pairedWithOddLower(0x4D0, 0x52F) || pairedWithOddLower(0x1E00, 0x1E95) ||
      pairedWithOddLower(0x1EA0, 0x1EFF))
    return c - 1;
  return c;
}

} // namespace

std::optional<std::string> ToAnsi(std::string_view Utf8, unsigned CodePage) {
  const std::optional<std::u16string> wide = Utf16FromUtf8(Utf8);
  return wide ? platform::EncodeInCodePage(*wide, CodePage) : std::nullopt;
}

std::string FromAnsi(std::string_view Ansi, unsigned CodePage) {
  return Utf8FromUtf16(platform::DecodeFromCodePage(Ansi, CodePage));
}

std::string Utf8FromUtf16(std::u16string_view Wide) {
  std::string out;
  for (std::size_t at = 0; at < Wide.size(); ++at) {
    char32_t c = Wide[at];
    if (c >= 0xD800 && c < 0xDC00 && at + 1 < Wide.size() && Wide[at + 1] >= 0xDC00 &&
        Wide[at + 1] < 0xE000)
      c = 0x10000 + ((c - 0xD800) << 10) + (Wide[++at] - 0xDC00);
    else if (c >= 0xD800 && c < 0xE000)
      c = 0xFFFD;
    AppendUtf8(out, c);
  }
  return out;
}

std::string CodePageName(unsigned CodePage) { return "Windows-" + std::to_string(CodePage); }

std::optional<std::u16string> Utf16FromUtf8(std::string_view Text) {
  std::u16string out;
  for (std::size_t at = 0; at < Text.size();) {
    const std::optional<char32_t> c = NextCodePoint(Text, at);
    if (!c || *c > 0x10FFFF || (*c >= 0xD800 && *c < 0xE000))
      return std::nullopt;
    if (*c < 0x10000) {
      out.push_back(static_cast<char16_t>(*c));
    } else {
      out.push_back(static_cast<char16_t>(0xD800 + ((*c - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((*c - 0x10000) & 0x3FF)));
    }
  }
  return out;
}

std::string NameKey(std::string_view Utf8) {
  std::string key;
  for (std::size_t at = 0; at < Utf8.size();) {
    if (const std::optional<char32_t> c = NextCodePoint(Utf8, at))
      AppendUtf8(key, UpperCase(*c));
    else
      key.push_back(Utf8[at++]);
  }
  return key;
}

std::optional<std::string> WindowsNameProblem(std::string_view Name) {
  if (Name.empty())
    return "an empty name";
  for (const char ch : Name) {
    const auto b = static_cast<unsigned char>(ch);
    if (b < 0x20)
      return "a control character";
    if (std::string_view("<>:\"/\\|?*").find(ch) != std::string_view::npos)
      return std::string("the character '") + ch + "', which Windows does not allow in file names";
  }
  if (Name.back() == '.' || Name.back() == ' ')
    return "a trailing dot or space, which Windows removes";
  std::string stem(Name.substr(0, Name.find('.')));
  for (char& ch : stem)
    if (ch >= 'a' && ch <= 'z')
      ch = static_cast<char>(ch - 0x20);
  static constexpr std::string_view devices[] = {"CON", "PRN", "AUX", "NUL"};
  for (const std::string_view device : devices)
    if (stem == device)
      return "the device name " + stem;
  if (stem.size() == 4 && (stem.starts_with("COM") || stem.starts_with("LPT")) && stem[3] >= '1' &&
      stem[3] <= '9')
    return "the device name " + stem;
  return std::nullopt;
}

} // namespace vexa::tool
