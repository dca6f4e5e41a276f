#include "cli/ansi_text.h"

#include <array>
#include <cstdint>

namespace vexa::tool {

namespace {

// Code points of Windows-1252 bytes 0x80-0x9F; 0 marks the five unused bytes.
constexpr std::array<char16_t, 32> High1252 = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

std::optional<unsigned char> To1252(char32_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
    return static_cast<unsigned char>(c);
  for (std::size_t i = 0; i < High1252.size(); ++i)
    if (High1252[i] != 0 && High1252[i] == c)
      return static_cast<unsigned char>(0x80 + i);
  return std::nullopt;
}

char32_t From1252(unsigned char b) {
  if (b >= 0x80 && b < 0xA0)
    return High1252[b - 0x80] ? High1252[b - 0x80] : 0xFFFD;
  return b;
}

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
  } else {
    Out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    Out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    Out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

} // namespace

std::optional<std::string> ToAnsi(std::string_view Text) {
  std::string out;
  for (std::size_t at = 0; at < Text.size();) {
    const std::optional<char32_t> c = NextCodePoint(Text, at);
    if (!c)
      return std::nullopt;
    const std::optional<unsigned char> b = To1252(*c);
    if (!b)
      return std::nullopt;
    out.push_back(static_cast<char>(*b));
  }
  return out;
}

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

std::string FromAnsi(std::string_view Text) {
  std::string out;
  for (const char ch : Text)
    AppendUtf8(out, From1252(static_cast<unsigned char>(ch)));
  return out;
}

std::string AnsiUpper(std::string_view Text) {
  std::string out(Text);
  for (char& ch : out) {
    const auto b = static_cast<unsigned char>(ch);
    if ((b >= 'a' && b <= 'z') || (b >= 0xE0 && b <= 0xFE && b != 0xF7))
      ch = static_cast<char>(b - 0x20);
    else if (b == 0x9A || b == 0x9C || b == 0x9E) // š œ ž
      ch = static_cast<char>(b - 0x10);
    else if (b == 0xFF) // ÿ
      ch = static_cast<char>(0x9F);
  }
  return out;
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
  const std::string stem = AnsiUpper(Name.substr(0, Name.find('.')));
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
