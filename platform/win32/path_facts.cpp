#include "platform/path_facts.h"

#include "platform/win32/scoped_handle.h"
#include "platform/win32/system_message.h"
#include "platform/win32/wide_file.h"
#include "platform/win32/windows.h"

namespace vexa::platform {

namespace {

bool IsMissing(DWORD Error) {
  return Error == ERROR_FILE_NOT_FOUND || Error == ERROR_PATH_NOT_FOUND;
}

// FILETIME counts 100 ns from 1601. Rounded down, as POSIX's st_mtime is, so that a time
// before 1970 gives the same second on both sides.
std::int64_t UnixSeconds(const FILETIME& Time) {
  constexpr std::int64_t TicksPerSecond = 10000000;
  const std::int64_t ticks =
      static_cast<std::int64_t>((static_cast<std::uint64_t>(Time.dwHighDateTime) << 32) |
                                Time.dwLowDateTime) -
      116444736000000000;
  return ticks / TicksPerSecond - (ticks % TicksPerSecond < 0);
}

void Describe(DWORD Attributes, DWORD SizeHigh, DWORD SizeLow, const FILETIME& Written,
              PathFacts& Facts) {
  if (Attributes & FILE_ATTRIBUTE_DIRECTORY) {
    Facts.Leads = PathFacts::Kind::Folder;
    return;
  }
  Facts.Leads = PathFacts::Kind::File;
  Facts.Size = (static_cast<std::uint64_t>(SizeHigh) << 32) | SizeLow;
  Facts.Modified = UnixSeconds(Written);
}

} // namespace

PathFacts LookAt(const std::filesystem::path& Path) {
  PathFacts facts;
  const std::wstring path = win32::LongPathForm(Path.native());
  WIN32_FILE_ATTRIBUTE_DATA own;
  if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &own)) {
    const DWORD error = ::GetLastError();
    if (!IsMissing(error)) {
      facts.Leads = PathFacts::Kind::Unreadable;
      facts.Why = win32::SystemMessage(error);
    }
    return facts;
  }
  facts.Link = (own.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  if (!facts.Link) {
    Describe(own.dwFileAttributes, own.nFileSizeHigh, own.nFileSizeLow, own.ftLastWriteTime, facts);
    return facts;
  }
  // Opened without FILE_FLAG_OPEN_REPARSE_POINT, the handle is on what the link leads to.
  const win32::ScopedFileHandle target(::CreateFileW(
      path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  if (target && ::GetFileInformationByHandle(target.Get(), &info))
    Describe(info.dwFileAttributes, info.nFileSizeHigh, info.nFileSizeLow, info.ftLastWriteTime,
             facts);
  return facts; // a link that leads nowhere, when it could not be opened
}

bool ListFolder(const std::filesystem::path& Folder, std::vector<std::filesystem::path>& Names,
                std::string& Why) {
  std::wstring pattern = win32::LongPathForm(Folder.native());
  if (!pattern.ends_with(L'\\'))
    pattern += L'\\';
  pattern += L'*';
  WIN32_FIND_DATAW entry;
  const win32::ScopedFindHandle search(::FindFirstFileW(pattern.c_str(), &entry));
  if (!search) {
    const DWORD error = ::GetLastError();
    Why = win32::SystemMessage(error);
    return error == ERROR_FILE_NOT_FOUND; // a drive's root may hold nothing at all
  }
  do {
    const std::wstring_view name = entry.cFileName;
    if (name != L"." && name != L"..")
      Names.emplace_back(name);
  } while (::FindNextFileW(search.Get(), &entry));
  if (const DWORD error = ::GetLastError(); error != ERROR_NO_MORE_FILES) {
    Why = win32::SystemMessage(error);
    return false;
  }
  return true;
}

} // namespace vexa::platform
