#include "pe/resource.h"

namespace vexa::pe {

ResourceKey ResourceKey::FromId(std::uint16_t Id) { return ResourceKey{Id, {}}; }

ResourceKey ResourceKey::FromName(std::string_view Name) {
  ResourceKey key;
  for (const char c : Name)
    key.Name.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
  return key;
}

std::string ResourceKey::ToString() const {
  if (!IsName())
    return std::to_string(Id);
  static constexpr char Hex[] = "0123456789ABCDEF";
  std::string s;
  for (const char16_t c : Name) {
    if (c >= 0x20 && c < 0x7F) {
      s.push_back(static_cast<char>(c));
      continue;
    }
    s += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4)
      s.push_back(Hex[(c >> shift) & 0xF]);
  }
  return s;
}

} // namespace vexa::pe
