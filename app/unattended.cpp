#include "app/unattended.h"

#include <vector>

#include "app/run_log.h"
#include "crypto/password_check.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/windows.h"
#include "resources/resource_ids.h"
#include "runtime/failure_policy.h"
#include "ui/message_boxes.h"

namespace vexa {

TCommandLine Switches;

namespace {

// Exit codes of an unattended run that deployment tools tell apart.
constexpr int CommandLineRefused = 2;
constexpr int WrongPassword = 3;

std::vector<std::string> MadeFolders;

// A password file's first line. A file written as UTF-8 (as editors do now) is taken in the
// ANSI code page, in which the archive's password was typed.
std::optional<std::string> ReadPasswordFile(const std::string& Path) {
  const win32::ScopedFileHandle file(::CreateFileA(Path.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                   nullptr, OPEN_EXISTING, 0, nullptr));
  char buffer[512];
  DWORD got = 0;
  if (!file || !::ReadFile(file.Get(), buffer, sizeof buffer, &got, nullptr))
    return std::nullopt;
  std::string text(buffer, got);
  if (text.starts_with("\xEF\xBB\xBF"))
    text.erase(0, 3);
  text = text.substr(0, text.find_first_of("\r\n"));
  wchar_t wide[512];
  const int length = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                           static_cast<int>(text.size()), wide, 512);
  if (length <= 0)
    return text;
  char ansi[1024];
  BOOL lossy = FALSE;
  const int bytes =
      ::WideCharToMultiByte(CP_ACP, 0, wide, length, ansi, sizeof ansi, nullptr, &lossy);
  return lossy || bytes <= 0 ? text : std::string(ansi, static_cast<std::size_t>(bytes));
}

} // namespace

void ShowUsage() {
  ::MessageBoxW(nullptr, LoadStubString(IDS_USAGE).c_str(), LoadStubString(IDS_INFORMATION).c_str(),
                MB_OK | MB_ICONINFORMATION);
}

void RefuseCommandLine(const std::wstring& Reason) {
  LogLine({Reason});
  RecordExitCode(CommandLineRefused);
  if (!Switches.Silent)
    ::MessageBoxW(nullptr, (Reason + L"\r\n\r\n" + LoadStubString(IDS_USAGE)).c_str(),
                  LoadStubString(IDS_ERROR).c_str(), MB_OK | MB_ICONHAND | MB_SETFOREGROUND);
}

std::optional<std::string> PasswordFromSwitches(const std::uint8_t* PasswordCheck) {
  std::optional<std::string> password;
  if (Switches.HasPassword)
    password = Switches.Password;
  else if (!Switches.PasswordFile.empty() &&
           !(password = ReadPasswordFile(Switches.PasswordFile))) {
    RefuseCommandLine(LoadStubString(IDS_SWITCH_REFUSED, "/password-file="));
    return std::nullopt;
  }
  if (!password) {
    RefuseCommandLine(LoadStubString(IDS_ANSWER_MISSING, "/password-file= | /password="));
    return std::nullopt;
  }
  if (vexa::CheckPassword(PasswordCheck, password->c_str()))
    return password;
  LogLine({LoadStubString(IDS_PASSWORD_INVALID)});
  RecordExitCode(WrongPassword);
  return std::nullopt;
}

std::string MakeDestination() {
  char full[MAX_PATH];
  const DWORD length = ::GetFullPathNameA(Switches.Destination.c_str(), MAX_PATH, full, nullptr);
  std::string folder = length > 0 && length < MAX_PATH ? full : Switches.Destination;
  while (folder.size() > 3 && folder.back() == '\\')
    folder.pop_back();
  // Every prefix that ends before a backslash, then the whole: the system refuses the root
  // and the folders that are there, and makes the missing ones.
  for (std::size_t at = folder.find('\\');; at = folder.find('\\', at + 1)) {
    const std::string prefix = folder.substr(0, at);
    if (::CreateDirectoryA(prefix.c_str(), nullptr))
      MadeFolders.push_back(prefix);
    if (at == std::string::npos)
      break;
  }
  const DWORD attributes = ::GetFileAttributesA(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    ShowError(LoadStubString(IDS_NO_OWN_FOLDER, folder).c_str());
    return {};
  }
  return folder;
}

void RemoveMadeFolders() {
  for (auto folder = MadeFolders.rbegin(); folder != MadeFolders.rend(); ++folder)
    if (!::RemoveDirectoryA(folder->c_str()))
      break;
}

} // namespace vexa
