#pragma once
// Where RT_RCDATA resources come from: the stub's own module (Win32 resource calls),
// or, in the vexa tool and the tests, a PE image read by pe/. The five operations
// mirror FindResourceA / LoadResource / LockResource / SizeofResource / FreeResource so
// that every failure the extractor distinguishes can be told apart.

#include <cstddef>
#include <cstdint>

namespace vexa {

class TResourceModule {
public:
  using Found = const void*;  // null: no such resource
  using Loaded = const void*; // null: the resource could not be loaded

  virtual ~TResourceModule() = default;
  // Looks up an RT_RCDATA resource by name, without regard to case.
  virtual Found Find(const char* Name) const = 0;
  virtual Loaded Load(Found Resource) const = 0;
  // Null when the data cannot be reached.
  virtual const std::uint8_t* Lock(Loaded Handle) const = 0;
  virtual std::uint32_t SizeOf(Found Resource) const = 0;
  virtual void Free(Loaded Handle) const = 0;
  // A stream has read past these bytes of a locked resource. A module over a mapped
  // file may let them leave memory; the stub's own module keeps them.
  virtual void DoneWith(const std::uint8_t* /*Begin*/, std::size_t /*Count*/) const {}
};

} // namespace vexa
