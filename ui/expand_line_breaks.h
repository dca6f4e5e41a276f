#pragma once
// Program paths in the stub's notices may hold a backslash followed by n; the notice
// shows a line break there. Portable, so the native tests check it.

#include <string>

namespace vexa {

// Every backslash-n pair becomes CR LF; a real line feed is left alone. Text is a std::string
// or a std::wstring.
template <typename Text> Text ExpandLineBreaks(Text T) {
  const typename Text::value_type pair[] = {'\\', 'n'};
  for (std::size_t at = T.find(pair, 0, 2); at != Text::npos; at = T.find(pair, at + 2)) {
    T[at] = '\r';
    T[at + 1] = '\n';
  }
  return T;
}

} // namespace vexa
