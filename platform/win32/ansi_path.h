#pragma once
// The stub works in ANSI text, but the system names folders in UTF-16: a user name or a
// folder outside the ANSI code page comes back from the ANSI functions with '?' in it,
// a path that names nothing.

#include <string>
#include <string_view>

namespace vexa::win32 {

// Path in the ANSI code page: as it is when the code page holds every character of it,
// else its short (8.3) form; empty when neither spells it (short names disabled on that
// volume).
std::string AnsiPath(const wchar_t* Path);

// Ansi, text in the ANSI code page, in UTF-16: for a path that goes into a message or a log
// whose text is not ANSI.
std::wstring WideFromAnsi(std::string_view Ansi);

// Wide in the ANSI code page, '?' for what it cannot spell: for a message that is ANSI.
std::string AnsiFromWide(const std::wstring& Wide);

} // namespace vexa::win32
