#include "pe/pe_resource_module.h"

#include <algorithm>

namespace vexa {

namespace {

char16_t AsciiUpper(char16_t C) { return C >= u'a' && C <= u'z' ? C - u'a' + u'A' : C; }

const pe::ResourceEntry& Entry(const void* Handle) {
  return *static_cast<const pe::ResourceEntry*>(Handle);
}

bool UpperLess(std::u16string_view A, std::u16string_view B) {
  return std::lexicographical_compare(
      A.begin(), A.end(), B.begin(), B.end(),
      [](char16_t X, char16_t Y) { return AsciiUpper(X) < AsciiUpper(Y); });
}

} // namespace

TPeResourceModule::TPeResourceModule(pe::PeImage Image, const platform::MappedFile* Backing)
    : Parsed(std::move(Image)), Backing(Backing) {
  for (const pe::ResourceEntry& e : Parsed.Entries())
    if (!e.Type.IsName() && e.Type.Id == pe::RtRcData && e.Name.IsName())
      ByName.push_back(&e);
  // Stable, so that of a name's languages the first one stored comes first and is found.
  std::stable_sort(ByName.begin(), ByName.end(),
                   [](const pe::ResourceEntry* A, const pe::ResourceEntry* B) {
                     return UpperLess(A->Name.Name, B->Name.Name);
                   });
}

TResourceModule::Found TPeResourceModule::Find(const char* Name) const {
  if (Name == nullptr)
    return nullptr;
  std::u16string key;
  for (const char* p = Name; *p != '\0'; ++p)
    key.push_back(static_cast<unsigned char>(*p));
  const auto it = std::lower_bound(ByName.begin(), ByName.end(), key,
                                   [](const pe::ResourceEntry* E, const std::u16string& K) {
                                     return UpperLess(E->Name.Name, K);
                                   });
  return it == ByName.end() || UpperLess(key, (*it)->Name.Name) ? nullptr : *it;
}

const std::uint8_t* TPeResourceModule::Lock(Loaded Handle) const {
  // A zero-length resource still has an address in the image, as under Windows.
  return Handle == nullptr ? nullptr : Entry(Handle).Data.data();
}

void TPeResourceModule::DoneWith(const std::uint8_t* Begin, std::size_t Count) const {
  if (Backing != nullptr)
    Backing->Release(Begin, Count);
}

std::uint32_t TPeResourceModule::SizeOf(Found Resource) const {
  return Resource == nullptr ? 0 : static_cast<std::uint32_t>(Entry(Resource).Data.size());
}

} // namespace vexa
