#pragma once
// A .ico file as the resources a program icon is made of: one RT_ICON per image and
// the RT_GROUP_ICON directory that names them.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "pe/resource.h"

namespace vexa::tool {

// The group icon Name and its images, numbered from FirstImageId. Raises ToolError
// naming Path when the file cannot be read or is not an icon file.
std::vector<pe::Resource> IconResources(const std::string& Path, const std::string& Name,
                                        std::uint16_t FirstImageId);

// The RT_ICON ids a group icon directory refers to.
std::vector<std::uint16_t> GroupIconImageIds(std::span<const std::uint8_t> GroupIcon);

} // namespace vexa::tool
