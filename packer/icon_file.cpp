#include "packer/icon_file.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>

#include "pe/resource_data.h"
#include "tool_base/local_path.h"
#include "tool_base/tool_error.h"

namespace vexa::tool {

namespace {

constexpr std::size_t DirHeader = 6;       // reserved, type (1 = icon), count
constexpr std::size_t FileEntrySize = 16;  // ... bytes in image, file offset
constexpr std::size_t GroupEntrySize = 14; // ... bytes in image, resource id

std::uint16_t U16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t U32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}

} // namespace

TIconFile TIconFile::Read(const std::string& Path) {
  std::ifstream in(SystemPath(PathFromUtf8(Path)), std::ios::binary);
  if (!in)
    throw ToolError("cannot read the icon file " + Path);
  const std::vector<std::uint8_t> file((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
  const auto bad = [&](const std::string& why) {
    return ToolError(Path + " is not a usable .ico file: " + why);
  };
  if (file.size() < DirHeader || U16(&file[0]) != 0 || U16(&file[2]) != 1)
    throw bad("it does not start with an icon directory");
  const std::size_t count = U16(&file[4]);
  if (count == 0)
    throw bad("it holds no images");
  if (file.size() < DirHeader + count * FileEntrySize)
    throw bad("its directory is cut short");

  TIconFile icon;
  std::memcpy(icon.Directory.data(), file.data(), DirHeader);
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* entry = &file[DirHeader + i * FileEntrySize];
    const std::uint32_t size = U32(entry + 8);
    const std::uint32_t offset = U32(entry + 12);
    if (size == 0 || offset > file.size() || file.size() - offset < size)
      throw bad("image " + std::to_string(i + 1) + " lies outside the file");
    Image& image = icon.Images.emplace_back();
    std::memcpy(image.Entry.data(), entry, image.Entry.size());
    image.Bytes.assign(file.begin() + offset, file.begin() + offset + size);
  }
  return icon;
}

std::vector<pe::Resource> TIconFile::Resources(const std::string& Name,
                                               std::uint16_t FirstImageId) const {
  std::vector<pe::Resource> resources;
  std::vector<std::uint8_t> group(DirHeader + Images.size() * GroupEntrySize);
  std::memcpy(group.data(), Directory.data(), DirHeader);
  for (std::size_t i = 0; i < Images.size(); ++i) {
    const auto id = static_cast<std::uint16_t>(FirstImageId + i);
    resources.push_back({pe::ResourceKey::FromId(pe::RtIcon), pe::ResourceKey::FromId(id), 0, 0,
                         std::make_shared<pe::BytesData>(Images[i].Bytes)});
    std::uint8_t* out = &group[DirHeader + i * GroupEntrySize];
    std::memcpy(out, Images[i].Entry.data(), Images[i].Entry.size());
    out[12] = static_cast<std::uint8_t>(id);
    out[13] = static_cast<std::uint8_t>(id >> 8);
  }
  resources.push_back({pe::ResourceKey::FromId(pe::RtGroupIcon), pe::ResourceKey::FromName(Name), 0,
                       0, std::make_shared<pe::BytesData>(std::move(group))});
  return resources;
}

std::vector<std::uint16_t> GroupIconImageIds(std::span<const std::uint8_t> GroupIcon) {
  std::vector<std::uint16_t> ids;
  if (GroupIcon.size() < DirHeader)
    return ids;
  const std::size_t count = U16(&GroupIcon[4]);
  for (std::size_t i = 0; i < count && DirHeader + (i + 1) * GroupEntrySize <= GroupIcon.size();
       ++i)
    ids.push_back(U16(&GroupIcon[DirHeader + i * GroupEntrySize + 12]));
  return ids;
}

} // namespace vexa::tool
