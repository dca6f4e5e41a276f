// The stub's entry: harden DLL loading, install the failure policy, start COM for the
// folder browser, read the command line, create the status window and spin the message
// loop. Everything else happens inside the status window's handler of WM_STARTRUN; a silent
// run has no window and runs at once.

#include <cstdlib>

#include "app/command_line.h"
#include "app/extraction_run.h"
#include "app/message_pump.h"
#include "app/run_log.h"
#include "app/status_window.h"
#include "app/unattended.h"
#include "platform/win32/windows.h"

#include "resources/resource_ids.h"
#include "runtime/failure_policy.h"
#include "ui/message_boxes.h"
#include <objbase.h>

namespace {

// A stub run from a Downloads folder must never load a DLL planted beside it: DLLs that
// are loaded later (by COM or the shell) come from System32 only. Looked up at run time
// because older systems lack the call.
void RestrictDllSearchToSystem32() {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  const HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
  const auto setDirectories = reinterpret_cast<SetDefaultDllDirectoriesFn>(
      reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (setDirectories)
    setDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  ::SetDllDirectoryA("");
}

void UninitializeCom() { ::CoUninitialize(); }

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR Arguments, int) {
  RestrictDllSearchToSystem32();
  vexa::InstallFailurePolicy();
  if (SUCCEEDED(::CoInitialize(nullptr)))
    std::atexit(UninitializeCom);

  vexa::Switches = vexa::ParseCommandLine(Arguments);
  vexa::OpenRunLog(vexa::Switches.LogPath);
  vexa::LogMessages(vexa::Switches.Unattended());
  vexa::LogLine({"Start"});
  if (!vexa::Switches.Refused.empty()) {
    vexa::RefuseCommandLine(vexa::LoadStubString(IDS_SWITCH_REFUSED, vexa::Switches.Refused));
    vexa::ExitProcessNormally();
  }
  if (vexa::Switches.Help) {
    vexa::ShowUsage();
    vexa::ExitProcessNormally();
  }
  if (vexa::Switches.Silent) {
    vexa::RunExtractionOnce();
    vexa::ExitProcessNormally();
  }
  if (vexa::CreateStatusWindow())
    vexa::MessageLoop();
  return 0;
}
