#pragma once
// Texts of the string table that name a path hold %s where the path goes; a translation
// may put it anywhere in the sentence. The stub fills them; the tool counts them the same
// way when it checks a translation, so the rule sits where both programs may include it.

#include <cstddef>
#include <string>
#include <string_view>

namespace vexa {

inline constexpr std::string_view Placeholder = "%s";

inline std::size_t CountPlaceholders(std::string_view Text) {
  std::size_t count = 0;
  for (std::size_t at = Text.find(Placeholder); at != std::string_view::npos;
       at = Text.find(Placeholder, at + Placeholder.size()))
    ++count;
  return count;
}

// Text with its first %s replaced by Value, which is taken as it is (a %s in a path stays).
inline std::string FillPlaceholder(std::string Text, std::string_view Value) {
  if (const std::size_t at = Text.find(Placeholder); at != std::string::npos)
    Text.replace(at, Placeholder.size(), Value);
  return Text;
}

} // namespace vexa
