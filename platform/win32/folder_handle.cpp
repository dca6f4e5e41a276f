#include "platform/folder_handle.h"

#include <utility>

#include "platform/win32/system_message.h"
#include "platform/win32/wide_file.h"
#include "platform/win32/windows.h"

namespace vexa::platform {

namespace {

HANDLE H(FileHandle Handle) { return reinterpret_cast<HANDLE>(Handle); }

FolderHandle::Outcome Failure(std::string& Why) {
  Why = win32::SystemMessage(::GetLastError());
  return FolderHandle::Outcome::Failed;
}

// Folders below a destination can lie deeper than MAX_PATH.
std::wstring Reachable(const std::filesystem::path& Path) {
  return win32::LongPathForm(Path.native());
}

bool Exists(DWORD Error) { return Error == ERROR_FILE_EXISTS || Error == ERROR_ALREADY_EXISTS; }

// Makes the folder Path, in the form Reachable gives; true too when something of that name
// is there already, which the caller then judges.
bool MakeFolder(const std::wstring& Path) {
  return ::CreateDirectoryW(Path.c_str(), nullptr) || Exists(::GetLastError());
}

// Held with reading shared and nothing else, the folder can be neither renamed nor deleted
// nor written to as a file (how a reparse point would be set on it) while it is open.
HANDLE OpenFolder(const std::wstring& Path, DWORD Flags) {
  return ::CreateFileW(Path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, FILE_SHARE_READ,
                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | Flags, nullptr);
}

} // namespace

FolderHandle::Outcome FolderHandle::Open(const std::filesystem::path& Path, std::string& Why) {
  Close();
  const HANDLE folder = OpenFolder(Reachable(Path), 0);
  if (folder == INVALID_HANDLE_VALUE)
    return Failure(Why);
  Handle = reinterpret_cast<FileHandle>(folder);
  Reached = Path;
  return Outcome::Done;
}

FolderHandle::Outcome FolderHandle::OpenIn(const FolderHandle& Parent,
                                           const std::filesystem::path& Name, std::string& Why) {
  Close();
  // Every folder above is held open, so the path leads through them; the last component is
  // opened as what stands there, a link or a junction included, and judged by that.
  const std::filesystem::path path = Parent.Reached / Name;
  const std::wstring reachable = Reachable(path);
  if (!MakeFolder(reachable))
    return Failure(Why);
  const HANDLE folder = OpenFolder(reachable, FILE_FLAG_OPEN_REPARSE_POINT);
  if (folder == INVALID_HANDLE_VALUE)
    return Failure(Why);
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(folder, &info)) {
    const DWORD error = ::GetLastError();
    ::CloseHandle(folder);
    ::SetLastError(error);
    return Failure(Why);
  }
  // Wine shows a Unix link to a folder as a reparse point by its path, not by a handle
  // opened on it.
  const DWORD byPath = ::GetFileAttributesW(reachable.c_str());
  const DWORD attributes = info.dwFileAttributes | (byPath == INVALID_FILE_ATTRIBUTES ? 0 : byPath);
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT ||
      !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    ::CloseHandle(folder);
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
      return Outcome::Link;
    ::SetLastError(ERROR_DIRECTORY);
    return Failure(Why);
  }
  Handle = reinterpret_cast<FileHandle>(folder);
  Reached = path;
  return Outcome::Done;
}

void FolderHandle::Close() {
  if (Handle != InvalidFileHandle)
    ::CloseHandle(H(std::exchange(Handle, InvalidFileHandle)));
}

FolderHandle::Outcome FolderHandle::OpenNewFile(const std::filesystem::path& Name, bool Replace,
                                                FileHandle& File, std::string& Why) const {
  const std::wstring path = Reachable(Reached / Name);
  // CREATE_NEW: never an existing file, so never through a link that stands there.
  const auto create = [&] {
    return ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  };
  HANDLE file = create();
  if (file == INVALID_HANDLE_VALUE && Exists(::GetLastError())) {
    if (!Replace)
      return Outcome::Exists;
    // DeleteFileW removes a link itself, not what it leads to.
    if (!::DeleteFileW(path.c_str()))
      return Failure(Why);
    file = create();
  }
  if (file == INVALID_HANDLE_VALUE)
    return Exists(::GetLastError()) ? Outcome::Exists : Failure(Why);
  File = reinterpret_cast<FileHandle>(file);
  return Outcome::Done;
}

bool FolderHandle::RemoveFile(const std::filesystem::path& Name) const {
  return ::DeleteFileW(Reachable(Reached / Name).c_str()) != 0;
}

namespace {

// Makes Full after the folders above it that are missing. Full is in the form LongPathForm
// gives: CreateDirectoryW refuses a path deeper than 248 characters in any other.
bool MakeFullFolders(const std::wstring& Full) {
  if (MakeFolder(Full))
    return true;
  if (::GetLastError() != ERROR_PATH_NOT_FOUND)
    return false;
  // A separator at the end names the same folder.
  const std::size_t last =
      Full.size() < 2 ? std::wstring::npos : Full.find_last_of(L'\\', Full.size() - 2);
  return last != std::wstring::npos &&
         MakeFullFolders(win32::LongFormOfFull(Full.substr(0, last))) && MakeFolder(Full);
}

} // namespace

bool MakeFolders(const std::filesystem::path& Path, std::string& Why) {
  const std::wstring full = Reachable(Path);
  if (!MakeFullFolders(full)) {
    Why = win32::SystemMessage(::GetLastError());
    return false;
  }
  const DWORD attributes = ::GetFileAttributesW(full.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && attributes & FILE_ATTRIBUTE_DIRECTORY)
    return true;
  Why = win32::SystemMessage(attributes == INVALID_FILE_ATTRIBUTES ? ::GetLastError()
                                                                   : ERROR_DIRECTORY);
  return false;
}

} // namespace vexa::platform
