#include "platform/mapped_file.h"

#include <limits>

#include "platform/win32/scoped_handle.h"
#include "platform/win32/system_message.h"
#include "platform/win32/wide_file.h"
#include "platform/win32/windows.h"

namespace vexa::platform {

namespace {

std::string Failure(const std::string& Path, DWORD Error) {
  return "Cannot map file " + Path + ": " + win32::SystemMessage(Error);
}

} // namespace

std::string MappedFile::Open(const std::string& Path) {
  Close();
  win32::ScopedFileHandle file(::CreateFileW(win32::WidePath(Path).c_str(), GENERIC_READ,
                                             FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file)
    return Failure(Path, ::GetLastError());
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.Get(), &size))
    return Failure(Path, ::GetLastError());
  if (static_cast<unsigned long long>(size.QuadPart) > std::numeric_limits<std::size_t>::max())
    return Failure(Path, ERROR_NOT_ENOUGH_MEMORY);
  if (size.QuadPart == 0) // a mapping of an empty file cannot be created
    return {};
  win32::ScopedKernelHandle mapping(
      ::CreateFileMappingW(file.Get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!mapping)
    return Failure(Path, ::GetLastError());
  // The view keeps the file and the mapping alive after both handles are closed.
  const void* view = ::MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, 0);
  if (view == nullptr)
    return Failure(Path, ::GetLastError());
  Base = static_cast<const std::uint8_t*>(view);
  Length = static_cast<std::size_t>(size.QuadPart);
  return {};
}

void MappedFile::Release(const std::uint8_t* Begin, std::size_t Count) const {
  SYSTEM_INFO system{};
  ::GetSystemInfo(&system);
  const auto page = static_cast<std::uintptr_t>(system.dwPageSize);
  const auto begin = reinterpret_cast<std::uintptr_t>(Begin);
  const std::uintptr_t first = begin / page * page;
  const std::uintptr_t end = (begin + Count) / page * page;
  // Unlocking pages that are not locked takes them out of the working set; the call
  // reports ERROR_NOT_LOCKED for exactly that, so its result says nothing here.
  if (first < end)
    ::VirtualUnlock(reinterpret_cast<void*>(first), end - first);
}

void MappedFile::Close() {
  if (Base != nullptr)
    ::UnmapViewOfFile(Base);
  Base = nullptr;
  Length = 0;
}

} // namespace vexa::platform
