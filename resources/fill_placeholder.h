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
// Text is a std::string or a std::wstring, Value a view of the same characters.
template <typename Text>
Text FillPlaceholder(Text T, std::basic_string_view<typename Text::value_type> Value) {
  const typename Text::value_type mark[] = {'%', 's'};
  if (const std::size_t at = T.find(mark, 0, Placeholder.size()); at != Text::npos)
    T.replace(at, Placeholder.size(), Value);
  return T;
}

} // namespace vexa
