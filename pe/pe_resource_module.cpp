#include "pe/pe_resource_module.h"

namespace vexa {

namespace {

char16_t AsciiUpper(char16_t C) { return C >= u'a' && C <= u'z' ? C - u'a' + u'A' : C; }

const pe::ResourceEntry& Entry(const void* Handle) {
  return *static_cast<const pe::ResourceEntry*>(Handle);
}

} // namespace

TPeResourceModule::TPeResourceModule(pe::PeImage Image, const platform::MappedFile* Backing)
    : Parsed(std::move(Image)), Backing(Backing) {
  for (const pe::ResourceEntry& e : Parsed.Entries()) {
    if (e.Type.IsName() || e.Type.Id != pe::RtRcData || !e.Name.IsName())
      continue;
    std::u16string key = e.Name.Name;
    for (char16_t& c : key)
      c = AsciiUpper(c);
    ByName.emplace(std::move(key), &e); // keeps the first language
  }
}

TResourceModule::Found TPeResourceModule::Find(const char* Name) const {
  if (Name == nullptr)
    return nullptr;
  std::u16string key;
  for (const char* p = Name; *p != '\0'; ++p)
    key.push_back(AsciiUpper(static_cast<unsigned char>(*p)));
  const auto it = ByName.find(key);
  return it == ByName.end() ? nullptr : it->second;
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
