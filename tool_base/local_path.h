#pragma once
// The tool's text is UTF-8 on every platform: its arguments, its messages and the names
// it shows, and the names it hands the platform layer, which reaches files by their wide
// names on Windows. std::filesystem holds a name in the system's own form (UTF-16 on
// Windows); these helpers convert between the two, so that a name that is not ASCII
// reaches the same file either way.

#include <filesystem>
#include <string>
#include <string_view>

namespace vexa::tool {

std::filesystem::path PathFromUtf8(std::string_view Utf8);
std::string Utf8Of(const std::filesystem::path& Path);

// Path as the C runtime's and std::filesystem's file calls take it at any length: on
// Windows in the \\?\ form once it is too long for the others.
std::filesystem::path SystemPath(const std::filesystem::path& Path);

#ifdef _WIN32
// Text from the wide Windows calls (the command line, the environment, the console).
std::string Utf8FromWide(std::wstring_view Wide);
#endif

} // namespace vexa::tool
