#include "platform/writable_region.h"

#include <io.h>

#include <utility>

#include "platform/win32/scoped_handle.h"
#include "platform/win32/system_message.h"
#include "platform/win32/windows.h"

namespace vexa::platform {

namespace {

// Both read the last error before anything here can change it.
std::string GrowFailure(std::size_t Size) {
  const DWORD error = ::GetLastError();
  return "cannot grow it by " + std::to_string(Size) + " bytes: " + win32::SystemMessage(error);
}

std::string MapFailure(std::size_t Size) {
  const DWORD error = ::GetLastError();
  const std::string failed = "cannot map " + std::to_string(Size) + " bytes of it: ";
  // The system's words ("Not enough memory resources") send the user looking for memory,
  // where what a 32-bit program lacks is a free stretch of addresses this long.
  if (sizeof(void*) == 4 && error == ERROR_NOT_ENOUGH_MEMORY)
    return failed + "this 32-bit program has no free address range that long";
  return failed + win32::SystemMessage(error);
}

} // namespace

std::string WritableRegion::Map(std::FILE* File, std::uint64_t Offset, std::size_t Size) {
  Unmap();
  const auto file = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(File)));
  SYSTEM_INFO system{};
  ::GetSystemInfo(&system);
  const std::uint64_t granularity = system.dwAllocationGranularity;
  const std::uint64_t start = Offset / granularity * granularity;
  const std::size_t skip = static_cast<std::size_t>(Offset - start);
  // Growing the file allocates its clusters, so a full disk fails here.
  const std::uint64_t end = Offset + Size;
  if (!SetFileLength(File, end))
    return GrowFailure(Size);
  if (skip + Size == 0)
    return {};
  win32::ScopedKernelHandle mapping(::CreateFileMappingW(file, nullptr, PAGE_READWRITE,
                                                         static_cast<DWORD>(end >> 32),
                                                         static_cast<DWORD>(end), nullptr));
  if (!mapping)
    return MapFailure(Size);
  // The view keeps the mapping alive once its handle is closed; with the view gone, the
  // file can be cut again.
  void* view = ::MapViewOfFile(mapping.Get(), FILE_MAP_WRITE, static_cast<DWORD>(start >> 32),
                               static_cast<DWORD>(start), skip + Size);
  if (view == nullptr)
    return MapFailure(Size);
  View = static_cast<std::uint8_t*>(view);
  Skip = skip;
  Length = Size;
  return {};
}

void WritableRegion::Unmap() {
  if (View)
    ::UnmapViewOfFile(std::exchange(View, nullptr));
  Skip = Length = 0;
}

// The C runtime's _chsize writes the zeros it grows a file by; the system call does not.
bool SetFileLength(std::FILE* File, std::uint64_t Length) {
  const auto file = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(File)));
  LARGE_INTEGER at{};
  at.QuadPart = static_cast<LONGLONG>(Length);
  return ::SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && ::SetEndOfFile(file);
}

} // namespace vexa::platform
