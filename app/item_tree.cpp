#include "app/item_tree.h"

#include <algorithm>

#include "app/run_log.h"
#include "archive/archive_paths.h"
#include "platform/win32/ansi_path.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/wide_file.h"
#include "platform/win32/windows.h"
#include "runtime/exceptions.h"
#include "streams/file_stream.h"

namespace vexa {

namespace {

// The resource's paths are UTF-16 as the system's are: only the type differs.
std::u16string_view View(std::wstring_view Text) {
  return {reinterpret_cast<const char16_t*>(Text.data()), Text.size()};
}

std::wstring_view View(std::u16string_view Text) {
  return {reinterpret_cast<const wchar_t*>(Text.data()), Text.size()};
}

std::wstring Upper(std::wstring Text) {
  ::CharUpperBuffW(Text.data(), static_cast<DWORD>(Text.size()));
  return Text;
}

// Where Path really is once every link and junction on the way is followed, upper case;
// empty when the system cannot tell (it can only from Vista on) or Path cannot be opened.
std::wstring FinalPath(const std::wstring& Path) {
  using Query = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
  static const auto query = reinterpret_cast<Query>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "GetFinalPathNameByHandleW")));
  if (!query)
    return {};
  const win32::ScopedFileHandle file(
      ::CreateFileW(Path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file)
    return {};
  std::wstring final(32768, L'\0');
  const DWORD length = query(file.Get(), final.data(), static_cast<DWORD>(final.size()), 0);
  if (length == 0 || length >= final.size())
    return {};
  final.resize(length);
  return Upper(std::move(final));
}

} // namespace

bool TItemTree::Load(const TResourceModule& Module, const TVexaHeader& Header) {
  Archive = &Header;
  const TResourceModule::Found found = Module.Find(ItemPathsResourceName);
  if (!found)
    return true;
  const TResourceModule::Loaded loaded = Module.Load(found);
  const std::uint8_t* data = loaded ? Module.Lock(loaded) : nullptr;
  if (data)
    Paths = TItemPathTable::Decode(data, Module.SizeOf(found), Header.Items.size());
  if (loaded)
    Module.Free(loaded);
  return Paths.has_value();
}

void TItemTree::SetDestination(const std::string& Folder) {
  const std::wstring given = win32::WideFromAnsi(Folder);
  // The \\?\ form turns the system's normalisation off: the path must be full already.
  const DWORD needed = ::GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
  Destination.assign(needed, L'\0');
  const DWORD length = ::GetFullPathNameW(given.c_str(), needed, Destination.data(), nullptr);
  Destination.resize(length > 0 && length < needed ? length : 0);
  if (Destination.empty())
    Destination = given;
  FinalDestination = FinalPath(Destination);
  if (!FinalDestination.empty() && FinalDestination.back() != L'\\')
    FinalDestination += L'\\';
}

std::wstring TItemTree::Joined(std::wstring_view Relative) const {
  std::wstring path = Destination;
  if (!path.empty() && path.back() != L'\\')
    path += L'\\';
  path.append(Relative.begin(), Relative.end());
  return win32::LongFormOfFull(std::move(path));
}

// A reparse point is refused wherever it leads. Under Wine a Unix symbolic link to a
// folder shows as one, but a link to a file does not: where the path really ends up tells.
bool TItemTree::LeadsOutside(const std::wstring& Path) const {
  const DWORD attributes = ::GetFileAttributesW(Path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES)
    return false;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
    return true;
  if (FinalDestination.empty())
    return false;
  const std::wstring final = FinalPath(Path);
  return !final.empty() && !final.starts_with(FinalDestination);
}

// A folder that was there is used as it is, unless it leads outside; one that is not is
// made, and the clean-up may remove it. Each is looked at once.
bool TItemTree::EnsureFolder(std::wstring_view Relative) {
  const auto checked = std::lower_bound(CheckedFolders.begin(), CheckedFolders.end(), Relative);
  if (checked != CheckedFolders.end() && *checked == Relative)
    return true;
  const std::wstring path = Joined(Relative);
  // A name that is only FileName's makes no folder: as ever, a missing one fails the item.
  if (Paths && ::CreateDirectoryW(path.c_str(), nullptr)) {
    MadeFolders.push_back(path);
    LogLine(L"Made folder " + path);
  } else if (LeadsOutside(path)) {
    return false;
  }
  CheckedFolders.emplace(checked, Relative);
  return true;
}

bool TItemTree::EnsureFoldersOf(std::wstring_view Relative) {
  for (const std::u16string_view folder : FoldersOf(View(Relative)))
    if (!EnsureFolder(View(folder)))
      return false;
  return true;
}

std::optional<std::wstring> TItemTree::Target(std::size_t Index) {
  std::wstring relative;
  if (Paths) {
    const std::u16string path = Paths->Item(Index);
    if (!IsSafeTreePath(path))
      return std::nullopt;
    relative = View(path);
  } else {
    const std::string name = FileName(*Archive->Items[Index]);
    if (!IsSafeItemPath(name))
      return std::nullopt;
    // The system reads / as \ in a path; the \\?\ form does not.
    relative = win32::WideFromAnsi(name);
    std::replace(relative.begin(), relative.end(), L'/', L'\\');
  }
  if (!EnsureFoldersOf(relative))
    return std::nullopt;
  return Joined(relative);
}

// Only a file that is there already can be a link: a new one is created without a further
// look, which under Wine would read the whole folder once more for each item, to match the
// name without regard to case.
std::unique_ptr<TStream> TItemTree::CreateItemFile(const std::wstring& Path) const {
  platform::FileHandle file = win32::CreateFileExclusive(Path, false);
  if (file == platform::InvalidFileHandle && ::GetLastError() == ERROR_FILE_EXISTS) {
    if (LeadsOutside(Path))
      return nullptr;
    file = win32::CreateFileExclusive(Path, true);
  }
  if (file == platform::InvalidFileHandle)
    throw EFCreateError(win32::AnsiFromWide(Path));
  return std::make_unique<TqvFileStream>(file);
}

void TItemTree::Written(const std::wstring& Path) { WrittenFiles.push_back(Path); }

void TItemTree::MakeEmptyFolders() {
  if (Paths)
    for (std::size_t i = 0; i < Paths->EmptyFolderCount(); ++i)
      if (const std::u16string folder = Paths->EmptyFolder(i);
          IsSafeTreePath(folder) && EnsureFoldersOf(View(folder)))
        EnsureFolder(View(folder));
}

void TItemTree::DeleteWritten() {
  for (const std::wstring& file : WrittenFiles) {
    ::SetLastError(0);
    if (!::DeleteFileW(file.c_str()))
      throw TFileException();
    LogLine(L"Deleted " + file);
  }
  // Inner folders were made after their parents. A folder that still holds something (what
  // the program made there, or what the user put there) stays, and so do its parents.
  for (auto folder = MadeFolders.rbegin(); folder != MadeFolders.rend(); ++folder)
    if (::RemoveDirectoryW(folder->c_str()))
      LogLine(L"Removed folder " + *folder);
}

} // namespace vexa
