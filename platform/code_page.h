#pragma once
// Text in a Windows ANSI code page, for the archive texts that the stub reads as 8-bit
// text: the system's converter (iconv on POSIX, the code-page tables on Windows), so both
// builds of the tool write the same bytes, and a character without a place in the code
// page is refused instead of becoming a question mark or a look-alike.

#include <optional>
#include <string>
#include <string_view>

namespace vexa::platform {

// Text in CodePage; nothing when a character has no place in it or the system cannot
// convert to CodePage at all.
std::optional<std::string> EncodeInCodePage(std::u16string_view Text, unsigned CodePage);

} // namespace vexa::platform
