#pragma once
// The tool's text is UTF-8 on every platform: its arguments, its messages and the names
// it shows. Files are reached three ways, each wanting its own form of a name:
// std::filesystem (a path built from UTF-8), and the platform layer, fopen and ifstream,
// which take narrow names: the bytes themselves on POSIX, the ANSI code page on Windows
// (the A functions). These helpers convert between them, so that a name that is not
// ASCII reaches the same file on both.

#include <filesystem>
#include <string>
#include <string_view>

namespace vexa::tool {

std::filesystem::path PathFromUtf8(std::string_view Utf8);
std::string Utf8Of(const std::filesystem::path& Path);

// The narrow name the platform layer opens Path by. Raises ToolError naming Path when
// Windows has no ANSI spelling of it.
std::string SystemName(const std::filesystem::path& Path);

#ifdef _WIN32
// Text from the wide Windows calls (the command line, the environment, the console).
std::string Utf8FromWide(std::wstring_view Wide);
#endif

} // namespace vexa::tool
