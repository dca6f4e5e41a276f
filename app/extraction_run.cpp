#include "app/extraction_run.h"

#include <memory>

#include "app/launch.h"
#include "app/message_pump.h"
#include "app/status_window.h"
#include "archive/archive_paths.h"
#include "platform/win32/own_module.h"
#include "platform/win32/windows.h"
#include "resources/resource_ids.h"
#include "runtime/failure_policy.h"
#include "streams/item_pipeline.h"
#include "streams/resource_stream.h"
#include "ui/folder_browser.h"
#include "ui/localised_dialog.h"
#include "ui/message_boxes.h"
#include "ui/password_prompt.h"

namespace vexa {

std::string ExePath;

namespace {

std::unique_ptr<TVexaHeader> Header;

constexpr char InvalidArchive[] = "Invalid archive format.";

// Ends the status display on every way out of ExtractArchive; it does not wait when the
// display never began or has already ended.
struct StatusDisplayEnder {
  StatusDisplayEnder() = default;
  StatusDisplayEnder(const StatusDisplayEnder&) = delete;
  StatusDisplayEnder& operator=(const StatusDisplayEnder&) = delete;
  ~StatusDisplayEnder() { EndStatusDisplay(); }
};

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
  if (flags & hfTempFolder) {
    char temp[255];
    const DWORD length = ::GetTempPathA(sizeof temp, temp);
    if (length == 0 || length >= sizeof temp) {
      ShowError("The temporary folder cannot be found, or its path is too long.");
      return {};
    }
    return temp;
  }
  if (flags & hfFixedFolder) {
    const std::string path = Archive.DestinationPath();
    if (path.find(':') != std::string::npos)
      return path;
    return PathJoin(FolderPart(Exe), path);
  }
  // No destination flag: the archive cannot say where its files go.
  ShowInformation(InvalidArchive);
  return {};
}

} // namespace

void RunExtraction() {
  char path[261] = {};
  ::GetModuleFileNameA(nullptr, path, sizeof path);
  ExePath = path;

  const TResourceModule& module = win32::OwnModule();
  const std::string welcome = LoadResourceText(module, "WelcomeText");
  if (!welcome.empty()) {
    const std::string title = LoadResourceText(module, "WelcomeTitle");
    if (::MessageBoxA(nullptr, welcome.c_str(), title.c_str(),
                      MB_YESNO | MB_ICONQUESTION | MB_SETFOREGROUND) == IDNO)
      ExitProcessNormally();
  }

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
  const std::size_t count = Archive.Items.size();
  for (std::size_t i = 0; i < count; ++i) {
    PumpOneMessage();
    const TItemRecord& item = *Archive.Items[i];
    const std::string target = PathJoin(destination, FileName(item));
    bool extracted;
    try {
      extracted = ExtractItem(win32::OwnModule(), "Item" + std::to_string(i + 1), target, password, item);
    } catch (const EWriteError&) {
      // A file that could not be written whole: say so instead of leaving it silently short.
      ShowError(LoadStubString(IDS_IO_ERROR).c_str());
      throw;
    }
    if (!extracted)
      ShowInformation(InvalidArchive);
  }
  EndStatusDisplay();

  if (Archive.Flags() & hfRunProgram)
    RunLaunchingStep(Archive, destination);
}

void FreeHeader() { Header.reset(); }

} // namespace vexa
