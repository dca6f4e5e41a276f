#pragma once
// The version resource (RT_VERSION, one VS_VERSIONINFO block): what Windows shows as a
// program's description, product, maker and version in Properties, Task Manager and the
// consent prompt. The packer writes the author's; `vexa list` reads any archive's back.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace vexa::pe {

inline constexpr std::uint16_t RtVersion = 16;
// The name of the one version resource an image has.
inline constexpr std::uint16_t VersionInfoId = 1;

struct VersionInfo {
  // Major, minor, patch, build: the fixed numbers, which Properties shows as the file version.
  std::array<std::uint16_t, 4> FileVersion{};
  std::array<std::uint16_t, 4> ProductVersion{};
  // The string table's entries in order: {u"FileDescription", u"..."}, ...
  std::vector<std::pair<std::u16string, std::u16string>> Strings;
};

// The block of an application, with one string table in the neutral language and Unicode
// ("000004B0"), as the stub's own. Raises PeWriteError when a string holds a NUL or the
// block would outgrow the 16-bit lengths of its structures.
std::vector<std::uint8_t> BuildVersionInfo(const VersionInfo& Info);

// The fixed numbers and the first string table; nothing when Data is no VS_VERSIONINFO
// block. Reads nothing outside Data, whatever its lengths claim.
std::optional<VersionInfo> ParseVersionInfo(std::span<const std::uint8_t> Data);

} // namespace vexa::pe
