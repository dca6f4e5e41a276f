#include "support/memory_resource_module.h"

#include <cctype>

namespace vexa::test {

namespace {
std::string Upper(std::string s) {
  for (char& c : s)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}
const std::vector<std::uint8_t>& Bytes(const void* p) {
  return *static_cast<const std::vector<std::uint8_t>*>(p);
}
} // namespace

void MemoryResourceModule::Add(const std::string& Name, std::vector<std::uint8_t> Bytes) {
  Resources[Upper(Name)] = std::move(Bytes);
}

void MemoryResourceModule::Add(const std::string& Name, const std::string& Bytes) {
  Add(Name, std::vector<std::uint8_t>(Bytes.begin(), Bytes.end()));
}

TResourceModule::Found MemoryResourceModule::Find(const char* Name) const {
  const auto it = Resources.find(Upper(Name));
  return it == Resources.end() ? nullptr : &it->second;
}

TResourceModule::Loaded MemoryResourceModule::Load(Found Resource) const {
  ++Held;
  return Resource;
}

const std::uint8_t* MemoryResourceModule::Lock(Loaded Handle) const {
  // A zero-length vector may have no storage; the loader still hands out a valid address.
  static const std::uint8_t empty = 0;
  return Bytes(Handle).empty() ? &empty : Bytes(Handle).data();
}

std::uint32_t MemoryResourceModule::SizeOf(Found Resource) const {
  return static_cast<std::uint32_t>(Bytes(Resource).size());
}

void MemoryResourceModule::Free(Loaded) const { --Held; }

} // namespace vexa::test
