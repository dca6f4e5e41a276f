#pragma once
// The archive's identity as the command line gives it: --description, --product-name,
// --product-version, --company and --copyright, or a --version-info file of the same
// fields, resolved into the version resource that Windows shows for the .exe.
//
// The file is UTF-8, one `key=value` a line, the keys being the options' names without
// their dashes (description=My App Setup); blank lines and lines that begin with # are
// skipped. An option given beside the file goes over the file's line.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "pe/version_info.h"

namespace vexa::tool {

struct VersionOptions {
  std::optional<std::string> File;
  std::optional<std::string> Description;
  std::optional<std::string> ProductName;
  std::optional<std::string> ProductVersion;
  std::optional<std::string> Company;
  std::optional<std::string> Copyright;
};

// Nothing when no field is given: the archive keeps the stub's resource. Otherwise a
// resource of exactly the given fields (and FileVersion beside ProductVersion). A text
// that is empty, not UTF-8, holds a control character or is longer than MaxVersionText is
// refused: as UsageError for an option, as ToolError "FILE:LINE: why" for a line of the
// file, which is refused too for an unknown or repeated key or a missing '=', and so is a
// file that gives no field.
std::optional<pe::VersionInfo> ResolveVersionInfo(const VersionOptions& Options);

// The fixed version numbers a product version gives: up to four dot-separated numbers of
// 0 to 65535 ("2.1" is 2.1.0.0); any other text gives 0.0.0.0.
std::array<std::uint16_t, 4> VersionNumbers(std::string_view ProductVersion);

// UTF-16 code units in one field: more than enough for any name, and the whole resource
// stays within the 16-bit lengths of its blocks.
inline constexpr std::size_t MaxVersionText = 1024;

} // namespace vexa::tool
