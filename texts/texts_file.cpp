#include "texts/texts_file.h"

#include <cstdio>

#include "platform/code_page.h"
#include "resources/fill_placeholder.h"
#include "texts/ansi_text.h"
#include "texts/stub_texts.h"
#include "tool_base/tool_error.h"

namespace vexa::tool {

namespace {

// The first character of Text (UTF-16) that CodePage cannot hold, as UTF-8.
std::string FirstUnencodable(const std::u16string& Text, unsigned CodePage) {
  for (std::size_t at = 0; at < Text.size(); ++at) {
    const std::size_t length = (Text[at] >= 0xD800 && Text[at] < 0xDC00) ? 2 : 1;
    const std::u16string_view one(Text.data() + at, length);
    if (!platform::EncodeInCodePage(one, CodePage)) {
      char32_t c = one[0];
      if (length == 2)
        c = 0x10000 + ((c - 0xD800) << 10) + (one[1] - 0xDC00);
      char buffer[16];
      std::snprintf(buffer, sizeof buffer, "U+%04X", static_cast<unsigned>(c));
      return buffer;
    }
    at += length - 1;
  }
  return "?";
}

} // namespace

TextTable ParseTexts(std::string_view Content, const std::string& Source, unsigned CodePage) {
  if (Content.starts_with("\xEF\xBB\xBF"))
    Content.remove_prefix(3);
  TextTable texts;
  std::size_t number = 0;
  while (!Content.empty()) {
    ++number;
    const std::size_t end = Content.find('\n');
    std::string_view line = Content.substr(0, end);
    Content.remove_prefix(end == std::string_view::npos ? Content.size() : end + 1);
    if (line.ends_with('\r'))
      line.remove_suffix(1);
    if (line.empty() || line.front() == '#')
      continue;

    const auto refuse = [&](const std::string& Why) {
      return ToolError(Source + ":" + std::to_string(number) + ": " + Why);
    };
    const std::size_t equals = line.find('=');
    const std::string_view idText = line.substr(0, equals);
    unsigned id = 0;
    for (const char c : idText)
      id = (c >= '0' && c <= '9' && id < 100000) ? id * 10 + static_cast<unsigned>(c - '0') : ~0u;
    if (equals == std::string_view::npos || idText.empty() || id == ~0u)
      throw refuse("expected ID=text");
    const StubText* known = FindStubText(id);
    if (!known)
      throw refuse("the stub has no text " + std::string(idText) + " (it has " +
                   std::to_string(StubTexts().front().Id) + " to " +
                   std::to_string(StubTexts().back().Id) + ")");
    if (texts.contains(known->Id))
      throw refuse(std::string(idText) + " is given twice");

    std::string text(line.substr(equals + 1));
    for (std::size_t at = text.find("\\n"); at != std::string::npos; at = text.find("\\n", at + 2))
      text.replace(at, 2, "\r\n");
    if (text.empty())
      throw refuse("the text is empty (the stub would show nothing)");
    for (const char c : text)
      if (static_cast<unsigned char>(c) < 0x20 && c != '\r' && c != '\n')
        throw refuse("the text holds a control character");
    if (!known->Multiline && text.find_first_of("\r\n") != std::string::npos)
      throw refuse("text " + std::string(idText) + " is one line: it cannot hold a line break");
    const std::size_t wanted = CountPlaceholders(known->English);
    const std::size_t given = CountPlaceholders(text);
    if (given != wanted)
      throw refuse(wanted == 0
                       ? "text " + std::string(idText) + " has no %s: the stub fills in nothing"
                   : given == 0 ? "the %s is missing: the stub puts the path there"
                                : "only one %s: the stub fills in one path");
    const std::optional<std::u16string> wide = Utf16FromUtf8(text);
    if (!wide)
      throw refuse("the text is not valid UTF-8");
    const std::optional<std::string> ansi = platform::EncodeInCodePage(*wide, CodePage);
    if (!ansi)
      throw refuse("code page " + std::to_string(CodePage) + " has no place for the character " +
                   FirstUnencodable(*wide, CodePage));
    if (ansi->size() >= known->Buffer)
      throw refuse("the text is " + std::to_string(ansi->size()) + " bytes in code page " +
                   std::to_string(CodePage) + "; the stub reads at most " +
                   std::to_string(known->Buffer - 1) + " for text " + std::string(idText));
    texts.emplace(known->Id, *wide);
  }
  return texts;
}

} // namespace vexa::tool
