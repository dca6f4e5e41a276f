#include "platform/file.h"

#include "platform/win32/wide_file.h"
#include "platform/win32/windows.h"

namespace vexa::platform {

namespace {
HANDLE H(FileHandle h) { return reinterpret_cast<HANDLE>(h); }
} // namespace

// A missing file is created without truncation: Wine makes CREATE_ALWAYS an open and a
// truncation to zero, after which ext4 writes the whole file out inside the closing call
// (its guard for files replaced by truncation), stalling the status window for a quarter
// of a second per 512 MiB. Only a file that exists is overwritten.
FileHandle CreateFileExclusive(const std::string& Path) {
  const std::wstring wide = win32::WidePath(Path);
  const FileHandle handle = win32::CreateFileExclusive(wide, false);
  if (handle == InvalidFileHandle && ::GetLastError() == ERROR_FILE_EXISTS)
    return win32::CreateFileExclusive(wide, true);
  return handle;
}

FileHandle OpenFileForReading(const std::string& Path) {
  return reinterpret_cast<FileHandle>(::CreateFileW(win32::WidePath(Path).c_str(), GENERIC_READ,
                                                    FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                    FILE_ATTRIBUTE_NORMAL, nullptr));
}

void RemoveFile(const std::string& Path) { ::DeleteFileW(win32::WidePath(Path).c_str()); }

std::int32_t ReadFile(FileHandle Handle, void* Buffer, std::int32_t Count) {
  DWORD done = 0;
  if (!::ReadFile(H(Handle), Buffer, static_cast<DWORD>(Count), &done, nullptr))
    return 0;
  return static_cast<std::int32_t>(done);
}

std::int32_t WriteFile(FileHandle Handle, const void* Buffer, std::int32_t Count) {
  DWORD done = 0;
  if (!::WriteFile(H(Handle), Buffer, static_cast<DWORD>(Count), &done, nullptr))
    return 0;
  return static_cast<std::int32_t>(done);
}

std::int32_t SeekFile(FileHandle Handle, std::int32_t Offset, std::uint16_t Origin) {
  return static_cast<std::int32_t>(::SetFilePointer(H(Handle), Offset, nullptr, Origin));
}

bool SetEndOfFile(FileHandle Handle) { return ::SetEndOfFile(H(Handle)) != 0; }

void CloseFile(FileHandle Handle) { ::CloseHandle(H(Handle)); }

} // namespace vexa::platform

namespace vexa::win32 {

platform::FileHandle CreateFileExclusive(const std::wstring& Path, bool Overwrite) {
  return reinterpret_cast<platform::FileHandle>(
      ::CreateFileW(Path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                    Overwrite ? CREATE_ALWAYS : CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
}

std::wstring WideFromCodePage(std::string_view Text, unsigned CodePage) {
  if (Text.empty())
    return {};
  const int size = static_cast<int>(Text.size());
  std::wstring wide(
      static_cast<std::size_t>(::MultiByteToWideChar(CodePage, 0, Text.data(), size, nullptr, 0)),
      L'\0');
  ::MultiByteToWideChar(CodePage, 0, Text.data(), size, wide.data(), static_cast<int>(wide.size()));
  return wide;
}

std::wstring WideFromUtf8(std::string_view Utf8) { return WideFromCodePage(Utf8, CP_UTF8); }

std::wstring LongFormOfFull(std::wstring FullPath) {
  if (FullPath.size() < MAX_PATH - 12 || FullPath.starts_with(L"\\\\?\\") ||
      FullPath.starts_with(L"\\\\.\\"))
    return FullPath;
  return FullPath.starts_with(L"\\\\") ? L"\\\\?\\UNC\\" + FullPath.substr(2)
                                       : L"\\\\?\\" + FullPath;
}

std::wstring LongPathForm(const std::wstring& Path) {
  if (Path.starts_with(L"\\\\?\\"))
    return Path;
  const DWORD needed = ::GetFullPathNameW(Path.c_str(), 0, nullptr, nullptr);
  std::wstring full(needed, L'\0');
  const DWORD length = ::GetFullPathNameW(Path.c_str(), needed, full.data(), nullptr);
  if (length == 0 || length >= needed)
    return Path;
  full.resize(length);
  return LongFormOfFull(std::move(full));
}

std::wstring WidePath(std::string_view Utf8) { return LongPathForm(WideFromUtf8(Utf8)); }

} // namespace vexa::win32
