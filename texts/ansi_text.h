#pragma once
// The archive stores 8-bit text in one Windows ANSI code page: the one of the systems it is
// made for (1252 for Western-European Windows, 1251 for Russian, ...), in which the stub's
// password field and file functions work. The tool takes and shows UTF-8 (on Windows too),
// converting through the system's converter; characters outside the code page are refused
// rather than silently replaced, so both builds write the same bytes for the same text.

#include <optional>
#include <string>
#include <string_view>

namespace vexa::tool {

// UTF-8 text in CodePage; nothing when a character has no place in it or the input is not
// valid UTF-8.
std::optional<std::string> ToAnsi(std::string_view Utf8, unsigned CodePage);

// Text in CodePage as UTF-8, for showing archive text on a terminal and naming files; a
// byte that spells no character there becomes U+FFFD.
std::string FromAnsi(std::string_view Ansi, unsigned CodePage);

// How messages name a code page: "Windows-1251".
std::string CodePageName(unsigned CodePage);

// UTF-8 text as UTF-16, the form of the image's string tables; nothing when the input is
// not valid UTF-8.
std::optional<std::u16string> Utf16FromUtf8(std::string_view Text);

// UTF-16 text (the image's version strings) as UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf8FromUtf16(std::u16string_view Wide);

// A UTF-8 name in upper case, as Windows file systems fold names to compare them: two names
// with the same key are one file on Windows.
std::string NameKey(std::string_view Utf8);

// Why Name (ANSI or UTF-8: only ASCII decides) cannot be a Windows file name, or nothing
// when it can: reserved characters, control characters, a trailing dot or space, a device
// name such as CON.
std::optional<std::string> WindowsNameProblem(std::string_view Name);

} // namespace vexa::tool
