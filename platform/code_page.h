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

// Text in CodePage as UTF-16, never refused: archives from elsewhere must still be shown.
// What iconv cannot read there (an unused byte, half of a two-byte character) becomes
// U+FFFD; Windows puts what its own file functions would make of it. Without any converter
// for CodePage, every byte above ASCII becomes U+FFFD.
std::u16string DecodeFromCodePage(std::string_view Text, unsigned CodePage);

} // namespace vexa::platform
