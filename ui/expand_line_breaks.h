#pragma once
// Program paths in the stub's notices may hold a backslash followed by n; the notice
// shows a line break there. Portable, so the native tests check it.

#include <string>

namespace vexa {

// Every backslash-n pair becomes CR LF; a real line feed is left alone.
inline std::string ExpandLineBreaks(std::string Text) {
  for (std::size_t at = Text.find("\\n"); at != std::string::npos; at = Text.find("\\n", at + 2))
    Text.replace(at, 2, "\r\n");
  return Text;
}

} // namespace vexa
