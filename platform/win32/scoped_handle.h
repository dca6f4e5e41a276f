#pragma once
// One scoped handle for every kind of Win32 handle; the traits say what "none" is and
// how to close it, so a created process's two handles, a find handle and a file handle
// are all released on every path.

#include <utility>

#include "platform/win32/windows.h"

namespace vexa::win32 {

template <typename Traits> class ScopedHandle {
public:
  using Handle = typename Traits::Handle;
  ScopedHandle() = default;
  explicit ScopedHandle(Handle h) : H(h) {}
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ScopedHandle(ScopedHandle&& o) noexcept : H(std::exchange(o.H, Traits::Invalid())) {}
  ScopedHandle& operator=(ScopedHandle&& o) noexcept {
    if (this != &o) {
      Reset();
      H = std::exchange(o.H, Traits::Invalid());
    }
    return *this;
  }
  ~ScopedHandle() { Reset(); }

  Handle Get() const { return H; }
  explicit operator bool() const { return H != Traits::Invalid(); }
  void Reset(Handle h = Traits::Invalid()) {
    if (H != Traits::Invalid())
      Traits::Close(H);
    H = h;
  }

private:
  Handle H = Traits::Invalid();
};

struct KernelHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { ::CloseHandle(h); }
};
struct FileHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Handle h) { ::CloseHandle(h); }
};
struct FindHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Handle h) { ::FindClose(h); }
};

using ScopedKernelHandle = ScopedHandle<KernelHandleTraits>;
using ScopedFileHandle = ScopedHandle<FileHandleTraits>;
using ScopedFindHandle = ScopedHandle<FindHandleTraits>;

} // namespace vexa::win32
