#include "app/launch.h"

#include <vector>

#include "app/message_pump.h"
#include "app/run_log.h"
#include "app/start_policy.h"
#include "app/unattended.h"
#include "platform/win32/ansi_path.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/windows.h"
#include "resources/resource_ids.h"
#include "runtime/failure_policy.h"
#include "ui/message_boxes.h"

#include <shellapi.h>

namespace vexa {

namespace {

bool CancelRequested = false;

void CALLBACK StopTimer(HWND, UINT, UINT_PTR Timer, DWORD) { ::KillTimer(nullptr, Timer); }

// The elevation route: the shell shows the consent prompt and starts the program. Null
// when it did not (the user declined, or no process came of it).
HANDLE StartThroughShell(const std::wstring& Application, std::uint16_t ShowCommand,
                         bool HighPriority) {
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpFile = Application.c_str();
  info.nShow = ShowCommand;
  if (!::ShellExecuteExW(&info))
    return nullptr;
  if (info.hProcess && HighPriority)
    ::SetPriorityClass(info.hProcess, HIGH_PRIORITY_CLASS);
  return info.hProcess;
}

// The program goes on by itself, and the stub ends.
void StartWithoutWaiting(const std::wstring& CommandLine) {
  std::vector<wchar_t> commandLine(CommandLine.begin(), CommandLine.end());
  commandLine.push_back(L'\0');
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION created{};
  if (::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &created)) {
    ::CloseHandle(created.hThread);
    ::CloseHandle(created.hProcess);
  }
}

std::int32_t WaitForExit(HANDLE Process, const std::function<bool()>& OnIdle) {
  ::WaitForInputIdle(Process, 2000);
  DWORD code = static_cast<DWORD>(-1);
  for (;;) {
    DWORD now;
    if (!::GetExitCodeProcess(Process, &now))
      break;
    code = now;
    if (code != STILL_ACTIVE)
      break;
    if (!OnIdle) {
      WaitMilliseconds(500);
      continue;
    }
    if (OnIdle())
      ::TerminateProcess(Process, 0);
    // Sleep until the program ends or a message arrives for the next OnIdle to drain.
    ::MsgWaitForMultipleObjectsEx(1, &Process, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
  return static_cast<std::int32_t>(code);
}

} // namespace

bool QueryAbort() {
  PumpOneMessage();
  return CancelRequested;
}

void WaitMilliseconds(std::uint32_t Milliseconds) {
  ::SetTimer(nullptr, 0, Milliseconds, StopTimer);
  MSG msg;
  ::GetMessageA(&msg, nullptr, WM_TIMER, WM_TIMER);
}

std::uint32_t FindFileSize(const std::wstring& Path) {
  WIN32_FIND_DATAW found;
  const win32::ScopedFindHandle search(::FindFirstFileW(Path.c_str(), &found));
  return search ? found.nFileSizeLow : 0;
}

std::int32_t RunAndWait(const std::wstring& Application, const std::wstring& CommandLine,
                        std::uint16_t ShowCommand, bool HighPriority,
                        const std::function<bool()>& OnIdle) {
  // CreateProcessW may write into the command line, so it gets a copy of its own.
  std::vector<wchar_t> commandLine(CommandLine.begin(), CommandLine.end());
  commandLine.push_back(L'\0');

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_FORCEONFEEDBACK;
  startup.wShowWindow = ShowCommand;
  PROCESS_INFORMATION created{};
  const bool started =
      ::CreateProcessW(Application.empty() ? nullptr : Application.c_str(),
                       CommandLine.empty() ? nullptr : commandLine.data(), nullptr, nullptr, FALSE,
                       HighPriority ? HIGH_PRIORITY_CLASS : NORMAL_PRIORITY_CLASS, nullptr, nullptr,
                       &startup, &created);
  switch (RouteAfterCreateProcess(started, started ? 0 : ::GetLastError(), !Application.empty(),
                                  !CommandLine.empty())) {
  case TStartRoute::Started: {
    const win32::ScopedKernelHandle thread(created.hThread);
    const win32::ScopedKernelHandle process(created.hProcess);
    return WaitForExit(process.Get(), OnIdle);
  }
  case TStartRoute::ThroughShell: {
    const win32::ScopedKernelHandle process(
        StartThroughShell(Application, ShowCommand, HighPriority));
    return process ? WaitForExit(process.Get(), OnIdle) : -1;
  }
  case TStartRoute::NotStarted:
    break;
  }
  return -1;
}

void RunLaunchingStep(const TVexaHeader& Header, TItemTree& Tree) {
  std::wstring program = win32::WideFromAnsi(Header.ProgramPath());
  if (Header.Flags() & hfProgramInDestination)
    program = Tree.Joined(program);

  if (FindFileSize(program) == 0) {
    ShowInformation(LoadStubString(IDS_PROGRAM_MISSING, program));
    throw EAbort();
  }

  // Quoted, so a path with spaces starts exactly the named program; what followed -- on the
  // stub's command line comes after it as it was given.
  std::wstring commandLine = L"\"" + program + L"\"";
  if (!Switches.ProgramArguments.empty())
    commandLine += L" " + win32::WideFromAnsi(Switches.ProgramArguments);
  LogLine(L"Program: " + commandLine);

  if (!(Header.Flags() & hfWaitAndDelete)) {
    StartWithoutWaiting(commandLine);
    return;
  }

  // Started by its path alone unless it has arguments: only then can the elevation route of
  // start_policy.h take it.
  const std::int32_t code =
      RunAndWait(program, Switches.ProgramArguments.empty() ? L"" : commandLine, SW_SHOWNORMAL,
                 false, QueryAbort);
  if (code < 0) {
    ShowInformation(LoadStubString(IDS_START_FAILED, program));
    return;
  }
  LogLine({"Program exit code: ", std::to_string(code)});
  // A deployment tool reads the program's own code (3010: restart needed, and the like).
  if (Switches.Unattended())
    RecordExitCode(code);
  if ((code != 0 || (Header.Flags() & hfAlwaysConfirm)) && !Switches.Unattended() &&
      !AskDeleteTempFiles())
    return;
  WaitMilliseconds(1500);
  // A refused item was never written, and joined to the destination its path could name a
  // file outside it: only what the run wrote is deleted.
  Tree.DeleteWritten();
}

} // namespace vexa
