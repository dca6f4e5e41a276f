#include "app/extraction_run.h"

#include <cwchar>
#include <memory>
#include <optional>
#include <vector>

#include "app/item_tree.h"
#include "app/launch.h"
#include "app/message_pump.h"
#include "app/run_log.h"
#include "app/status_window.h"
#include "app/unattended.h"
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
// display never began or has already ended. A silent run has no display.
struct StatusDisplayEnder {
  StatusDisplayEnder() = default;
  StatusDisplayEnder(const StatusDisplayEnder&) = delete;
  StatusDisplayEnder& operator=(const StatusDisplayEnder&) = delete;
  ~StatusDisplayEnder() {
    if (!Switches.Silent)
      EndStatusDisplay();
  }
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
  if (!Switches.Destination.empty())
    return MakeDestination();
  const std::uint8_t flags = Archive.Flags();
  if (flags & hfAskFolder) {
    if (Switches.Unattended()) {
      RefuseCommandLine(LoadStubString(IDS_ANSWER_MISSING, "/D="));
      return {};
    }
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

const char* ModeName() {
  return Switches.Silent ? "silent" : Switches.Passive ? "passive" : "interactive";
}

// The switches that answer for a person, as the refusal names them.
const char* UnattendedSwitch() {
  return Switches.Silent ? "/S" : Switches.Passive ? "/passive" : "/D=";
}

void RunExtraction() {
  OwnPath.assign(32768, L'\0');
  ::GetModuleFileNameW(nullptr, OwnPath.data(), static_cast<DWORD>(OwnPath.size() - 1));
  ExePath = win32::AnsiPath(OwnPath.data());
  LogLine(L"Archive: " + std::wstring(OwnPath.data()));
  LogLine({"Mode: ", ModeName(), Switches.ExtractOnly ? ", extract only" : ""});

  const TResourceModule& module = win32::OwnModule();
  if (!Switches.Unattended() && !AskWelcomeQuestion(module))
    ExitProcessNormally();

  Header = std::make_unique<TVexaHeader>();
  if (!Header->LoadFromResource(module, "Header", ShowError))
    return;
  if (Header->RefusesUnattended() && (Switches.Unattended() || !Switches.Destination.empty())) {
    RefuseCommandLine(LoadStubString(IDS_SWITCH_REFUSED, UnattendedSwitch()));
    return;
  }
  ExtractArchive(ExePath, *Header);
}

} // namespace

// Nothing is shown for a failure that leaves the run; the log says where it stopped.
void RunExtractionOnce() {
  try {
    RunExtraction();
  } catch (const Exception& failure) {
    LogLine({"Stopped: ", failure.message()});
    RecordEscapedFailure();
  } catch (const TStreamReadException&) {
    LogLine({"Stopped: an item of the archive cannot be read"});
    RecordEscapedFailure();
  } catch (...) {
    LogLine({"Stopped: a file cannot be deleted"});
    RecordEscapedFailure();
  }
  Header.reset();
}

void ExtractArchive(const std::string& Exe, TVexaHeader& Archive) {
  const StatusDisplayEnder ender;

  TItemTree tree;
  if (!tree.Load(win32::OwnModule(), Archive)) {
    ShowInformation(LoadStubString(IDS_INVALID_ARCHIVE));
    return;
  }

  std::string password;
  if (Archive.Flags() & hfEncrypted) {
    if (Switches.Unattended()) {
      const std::optional<std::string> given = PasswordFromSwitches(Archive.PasswordCheck());
      if (!given)
        return;
      password = *given;
    } else {
      if (!AskPassword(Archive.PasswordCheck()))
        return;
      password = PasswordBuffer;
    }
  }

  const std::string destination = SettleDestination(Exe, Archive);
  if (destination.empty())
    return;
  LogLine({"Destination: ", destination});
  tree.SetDestination(destination);

  if (!Switches.Silent)
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
    const std::optional<std::wstring> target = tree.Target(i);
    bool extracted = false;
    try {
      extracted = target && WriteItem(
                                win32::OwnModule(), "Item" + std::to_string(i + 1), password, item,
                                [&] { return tree.CreateItemFile(*target); }, pumpWhileWriting);
    } catch (const EWriteError&) {
      // A file that could not be written whole: say so instead of leaving it silently short.
      ShowError(IDS_IO_ERROR);
      throw;
    }
    if (extracted) {
      tree.Written(*target);
      LogLine(L"Wrote " + *target + L" (" +
              win32::WideFromAnsi(std::to_string(OriginalSize(item))) + L" bytes)");
    } else {
      ShowInformation(LoadStubString(IDS_INVALID_ARCHIVE));
    }
    itemsBefore += OriginalSize(item);
    written = 0;
  }
  tree.MakeEmptyFolders();
  ShowProgress(total);
  if (!Switches.Silent)
    EndStatusDisplay();

  if ((Archive.Flags() & hfRunProgram) && !Switches.ExtractOnly)
    RunLaunchingStep(Archive, tree);
  // The run's own folders go once they are empty; files that the user kept, or that the
  // program left, keep them (the removal fails on a folder that holds anything).
  if (InOwnFolder(Archive.Flags()) && Switches.Destination.empty())
    ::RemoveDirectoryA(destination.c_str());
  RemoveMadeFolders();
}

} // namespace vexa
