#pragma once
// The stub works in ANSI text, but the system names folders in UTF-16: a user name or a
// folder outside the ANSI code page comes back from the ANSI functions with '?' in it,
// a path that names nothing.

#include <string>

namespace vexa::win32 {

// Path in the ANSI code page: as it is when the code page holds every character of it,
// else its short (8.3) form; empty when neither spells it (short names disabled on that
// volume).
std::string AnsiPath(const wchar_t* Path);

} // namespace vexa::win32
