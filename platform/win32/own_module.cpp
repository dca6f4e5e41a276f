#include "platform/win32/own_module.h"

#include "platform/win32/windows.h"

namespace vexa::win32 {

namespace {

class TOwnModule final : public TResourceModule {
public:
  Found Find(const char* Name) const override {
    return ::FindResourceA(Module(), Name, MAKEINTRESOURCEA(10));
  }
  Loaded Load(Found Resource) const override {
    return ::LoadResource(Module(), static_cast<HRSRC>(const_cast<void*>(Resource)));
  }
  const std::uint8_t* Lock(Loaded Handle) const override {
    return static_cast<const std::uint8_t*>(::LockResource(static_cast<HGLOBAL>(const_cast<void*>(Handle))));
  }
  std::uint32_t SizeOf(Found Resource) const override {
    return ::SizeofResource(Module(), static_cast<HRSRC>(const_cast<void*>(Resource)));
  }
  void Free(Loaded Handle) const override {
    ::FreeResource(static_cast<HGLOBAL>(const_cast<void*>(Handle)));
  }

private:
  static HMODULE Module() { return ::GetModuleHandleA(nullptr); }
};

} // namespace

const TResourceModule& OwnModule() {
  static const TOwnModule module;
  return module;
}

} // namespace vexa::win32
