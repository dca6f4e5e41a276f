#include "app/extraction_run.h"

#include <cwchar>
#include <memory>
#include <vector>

#include "app/launch.h"
#include "app/message_pump.h"
#include "app/status_window.h"
#include "archive/archive_paths.h"
#include "platform/win32/ansi_path.h"
#include "platform/win32/own_module.h"
#include "platform/win32/windows.h"
#include "resources/resource_ids.h"
#include "runtime/failure_policy.h"
#include "streams/item_pipeline.h"
#include "ui/folder_browser.h"
#include "ui/localised_dialog.h"
#include "ui/message_boxes.h"
#include "ui/password_prompt.h"

namespace vexa {

std::string ExePath;

namespace {

std::unique_ptr<TVexaHeader> Header;

// The stub's own path as the system names it, for the message when ExePath cannot spell it.
std::vector<wchar_t> OwnPath;

// Ends the status display on every way out of ExtractArchive; it does not wait when the
// display never began or has already ended.
struct StatusDisplayEnder {
  StatusDisplayEnder() = default;
  StatusDisplayEnder(const StatusDisplayEnder&) = delete;
  StatusDisplayEnder& operator=(const StatusDisplayEnder&) = delete;
  ~StatusDisplayEnder() { EndStatusDisplay(); }
};

// A name no other run uses: CreateDirectory refuses a folder that exists, so another
// program's folder, or one made in advance to receive our files, is never taken.
std::string CreateOwnFolder(const std::string& Temp) {
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  std::uint64_t state = static_cast<std::uint64_t>(now.QuadPart) ^
                        (static_cast<std::uint64_t>(::GetCurrentProcessId()) << 32);
  for (int attempt = 0; attempt < 100; ++attempt) {
    // splitmix64: distinct names from neighbouring seeds
    state += 0x9E3779B97F4A7C15ULL;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    std::string name = "vexa-";
    for (int shift = 28; shift >= 0; shift -= 4)
      name += "0123456789abcdef"[((z ^ (z >> 31)) >> shift) & 0xF];
    const std::string folder = PathJoin(Temp, name);
    if (::CreateDirectoryA(folder.c_str(), nullptr))
      return folder;
    if (::GetLastError() != ERROR_ALREADY_EXISTS)
      break;
  }
  ShowError(LoadStubString(IDS_NO_OWN_FOLDER, Temp).c_str());
  return {};
}

// The folder browser comes first when both flags are set.
bool InOwnFolder(std::uint8_t Flags) { return (Flags & hfTempFolder) && !(Flags & hfAskFolder); }

std::string TempDestination() {
  wchar_t temp[MAX_PATH + 1];
  const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
  std::string ansi;
  if (length > 0 && length <= MAX_PATH) {
    ansi = win32::AnsiPath(temp);
    if (ansi.empty())
      FolderCannotBeNamed(temp);
  }
  if (ansi.empty() || ansi.size() > 254) {
    ShowError(IDS_NO_TEMP_FOLDER);
    return {};
  }
  return CreateOwnFolder(ansi);
}

// The destination folder as the header's flags decide it; empty when the run is to end
// without extracting (the user has been told why, or chose to exit).
std::string SettleDestination(const std::string& Exe, const TVexaHeader& Archive) {
  const std::uint8_t flags = Archive.Flags();
  if (flags & hfAskFolder) {
    while (BrowseForDestination() != 1)
      if (AskExitNow())
        break;
    return BrowsedFolder;
  }
  if (InOwnFolder(flags))
    return TempDestination();
  if (flags & hfFixedFolder) {
    const std::string path = Archive.DestinationPath();
    if (path.find(':') != std::string::npos)
      return path;
    if (Exe.empty()) {
      std::vector<wchar_t> folder(OwnPath);
      if (wchar_t* last = std::wcsrchr(folder.data(), L'\\'))
        last[1] = L'\0';
      FolderCannotBeNamed(folder.data());
    }
    return PathJoin(FolderPart(Exe), path);
  }
  // No destination flag: the archive cannot say where its files go.
  ShowInformation(LoadStubString(IDS_INVALID_ARCHIVE));
  return {};
}

} // namespace

void RunExtraction() {
  OwnPath.assign(32768, L'\0');
  ::GetModuleFileNameW(nullptr, OwnPath.data(), static_cast<DWORD>(OwnPath.size() - 1));
  ExePath = win32::AnsiPath(OwnPath.data());

  const TResourceModule& module = win32::OwnModule();
  if (!AskWelcomeQuestion(module))
    ExitProcessNormally();

  Header = std::make_unique<TVexaHeader>();
  if (Header->LoadFromResource(module, "Header", ShowError))
    ExtractArchive(ExePath, *Header);
}

void ExtractArchive(const std::string& Exe, TVexaHeader& Archive) {
  const StatusDisplayEnder ender;

  std::string password;
  if (Archive.Flags() & hfEncrypted) {
    if (!AskPassword(Archive.PasswordCheck()))
      return;
    password = PasswordBuffer;
  }

  const std::string destination = SettleDestination(Exe, Archive);
  if (destination.empty())
    return;

  BeginStatusDisplay(1500);
  std::uint64_t total = 0;
  for (const auto& item : Archive.Items)
    total += OriginalSize(*item);
  StartProgress(total);
  // The bar counts each item as its record says, whatever a damaged item really yields.
  std::uint64_t itemsBefore = 0;
  std::uint64_t written = 0;
  // Windows calls a window that has taken no message for 5 s "Not Responding" and offers
  // to end it, half-way through a large item; a message every 100 ms keeps it painted.
  DWORD lastPump = ::GetTickCount();
  const auto pumpWhileWriting = [&](std::int32_t Bytes) {
    written += static_cast<std::uint32_t>(Bytes);
    ShowProgress(itemsBefore + written);
    if (::GetTickCount() - lastPump < 100)
      return;
    PumpOneMessage();
    lastPump = ::GetTickCount();
  };
  const std::size_t count = Archive.Items.size();
  for (std::size_t i = 0; i < count; ++i) {
    PumpOneMessage();
    lastPump = ::GetTickCount();
    const TItemRecord& item = *Archive.Items[i];
    const std::string target = PathJoin(destination, FileName(item));
    bool extracted;
    try {
      extracted = ExtractItem(win32::OwnModule(), "Item" + std::to_string(i + 1), target,
                              password, item, pumpWhileWriting);
    } catch (const EWriteError&) {
      // A file that could not be written whole: say so instead of leaving it silently short.
      ShowError(IDS_IO_ERROR);
      throw;
    }
    if (!extracted)
      ShowInformation(LoadStubString(IDS_INVALID_ARCHIVE));
    itemsBefore += OriginalSize(item);
    written = 0;
  }
  ShowProgress(total);
  EndStatusDisplay();

  if (Archive.Flags() & hfRunProgram)
    RunLaunchingStep(Archive, destination);
  // The run's own folder goes once it is empty; files that the user kept, or that the
  // program left, keep it (the removal fails on a folder that holds anything).
  if (InOwnFolder(Archive.Flags()))
    ::RemoveDirectoryA(destination.c_str());
}

void FreeHeader() { Header.reset(); }

} // namespace vexa
