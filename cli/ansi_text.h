#pragma once
// The archive stores 8-bit text in the Windows ANSI code page, and the stub compares
// item names as Windows does. The tool takes UTF-8 (Linux) and writes Windows-1252, the
// ANSI code page of Western-European Windows; characters outside it are refused rather
// than silently replaced. The Windows build converts the same way (its text is UTF-8
// too), so both builds write the same bytes for the same names.

#include <optional>
#include <string>
#include <string_view>

namespace vexa::tool {

// UTF-8 text converted to Windows-1252; nothing when a character has no place in it or
// the input is not valid UTF-8.
std::optional<std::string> ToAnsi(std::string_view Text);

// UTF-8 text as UTF-16, the form of the image's string tables; nothing when the input is
// not valid UTF-8.
std::optional<std::u16string> Utf16FromUtf8(std::string_view Text);

// Windows-1252 back to UTF-8, for showing archive text on a terminal.
std::string FromAnsi(std::string_view Text);

// Upper case as Windows compares file names in this code page.
std::string AnsiUpper(std::string_view Text);

// Why Name (ANSI) cannot be a Windows file name, or nothing when it can: reserved
// characters, control characters, a trailing dot or space, a device name such as CON.
std::optional<std::string> WindowsNameProblem(std::string_view Name);

} // namespace vexa::tool
