#pragma once
// A .ico file as the resources a program icon is made of: one RT_ICON per image and
// the RT_GROUP_ICON directory that names them.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "pe/resource.h"

namespace vexa::tool {

// A .ico file, read and checked: its images and what its directory says of each.
class TIconFile {
public:
  // Raises ToolError naming Path when the file cannot be read or is not an icon file.
  static TIconFile Read(const std::string& Path);

  // The group icon Name and its images, numbered from FirstImageId.
  std::vector<pe::Resource> Resources(const std::string& Name, std::uint16_t FirstImageId) const;

private:
  struct Image {
    std::array<std::uint8_t, 12> Entry; // width, height, colours, planes, bits, bytes
    std::vector<std::uint8_t> Bytes;
  };
  std::array<std::uint8_t, 6> Directory{}; // reserved, type (1 = icon), count
  std::vector<Image> Images;
};

// The RT_ICON ids a group icon directory refers to.
std::vector<std::uint16_t> GroupIconImageIds(std::span<const std::uint8_t> GroupIcon);

} // namespace vexa::tool
