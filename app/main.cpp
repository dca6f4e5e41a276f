// The stub's entry: harden DLL loading, install the failure policy, start COM for the
// folder browser, create the status window and spin the message loop. Everything else
// happens inside the status window's handler of WM_STARTRUN.

#include <cstdlib>

#include "app/message_pump.h"
#include "app/status_window.h"
#include "platform/win32/windows.h"

#include <objbase.h>
#include "runtime/failure_policy.h"

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

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  RestrictDllSearchToSystem32();
  vexa::InstallFailurePolicy();
  if (SUCCEEDED(::CoInitialize(nullptr)))
    std::atexit(UninitializeCom);
  if (vexa::CreateStatusWindow())
    vexa::MessageLoop();
  return 0;
}
