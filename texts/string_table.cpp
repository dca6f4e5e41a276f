#include "texts/string_table.h"

#include <array>
#include <memory>

#include "pe/resource_data.h"

namespace vexa::tool {

namespace {

using Block = std::array<std::u16string, 16>;

// A block cut short leaves its remaining strings empty.
Block DecodeBlock(std::span<const std::uint8_t> Data) {
  Block block;
  std::size_t at = 0;
  const auto unit = [&](std::size_t i) {
    return static_cast<char16_t>(Data[i] | (Data[i + 1] << 8));
  };
  for (std::u16string& text : block) {
    if (at + 2 > Data.size())
      break;
    const std::size_t length = unit(at);
    at += 2;
    if (at + 2 * length > Data.size())
      break;
    for (std::size_t i = 0; i < length; ++i)
      text.push_back(unit(at + 2 * i));
    at += 2 * length;
  }
  return block;
}

std::vector<std::uint8_t> EncodeBlock(const Block& Strings) {
  std::vector<std::uint8_t> bytes;
  const auto put = [&](char16_t Unit) {
    bytes.push_back(static_cast<std::uint8_t>(Unit));
    bytes.push_back(static_cast<std::uint8_t>(Unit >> 8));
  };
  for (const std::u16string& text : Strings) {
    put(static_cast<char16_t>(text.size()));
    for (const char16_t unit : text)
      put(unit);
  }
  return bytes;
}

bool IsBlock(const pe::ResourceKey& Type, const pe::ResourceKey& Name) {
  return !Type.IsName() && Type.Id == pe::RtString && !Name.IsName() && Name.Id > 0;
}

} // namespace

void ReplaceStrings(const pe::PeImage& Image, std::vector<pe::Resource>& Resources,
                    const TextTable& Texts) {
  for (const pe::ResourceEntry& entry : Image.Entries()) {
    if (!IsBlock(entry.Type, entry.Name))
      continue;
    const unsigned first = (entry.Name.Id - 1u) * 16u;
    Block block = DecodeBlock(entry.Data);
    bool changed = false;
    for (unsigned i = 0; i < 16; ++i)
      if (const auto text = Texts.find(static_cast<std::uint16_t>(first + i));
          text != Texts.end()) {
        block[i] = text->second;
        changed = true;
      }
    if (!changed)
      continue;
    for (pe::Resource& resource : Resources)
      if (resource.Type == entry.Type && resource.Name == entry.Name &&
          resource.Language == entry.Language)
        resource.Data = std::make_shared<pe::BytesData>(EncodeBlock(block));
  }
}

TextTable ReadStrings(const pe::PeImage& Image) {
  TextTable strings;
  for (const pe::ResourceEntry& entry : Image.Entries()) {
    if (!IsBlock(entry.Type, entry.Name))
      continue;
    const Block block = DecodeBlock(entry.Data);
    for (unsigned i = 0; i < 16; ++i)
      if (!block[i].empty())
        strings.emplace(static_cast<std::uint16_t>((entry.Name.Id - 1u) * 16u + i), block[i]);
  }
  return strings;
}

} // namespace vexa::tool
