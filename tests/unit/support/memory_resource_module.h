#pragma once
// A resource module over named byte strings, for tests of everything that reads
// resources. Names match without regard to case, as in the Windows loader.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "streams/resource_module.h"

namespace vexa::test {

class MemoryResourceModule : public TResourceModule {
public:
  void Add(const std::string& Name, std::vector<std::uint8_t> Bytes);
  void Add(const std::string& Name, const std::string& Bytes);

  Found Find(const char* Name) const override;
  Loaded Load(Found Resource) const override;
  const std::uint8_t* Lock(Loaded Handle) const override;
  std::uint32_t SizeOf(Found Resource) const override;
  void Free(Loaded Handle) const override;

  // How many loads are still held: every Load must be matched by a Free.
  int Outstanding() const { return Held; }

private:
  std::map<std::string, std::vector<std::uint8_t>> Resources; // keyed in upper case
  mutable int Held = 0;
};

} // namespace vexa::test
