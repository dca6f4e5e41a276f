#include "app/launch.h"

#include <vector>

#include "app/message_pump.h"
#include "app/run_log.h"
#include "app/start_policy.h"
#include "app/unattended.h"
#include "archive/archive_paths.h"
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
HANDLE StartThroughShell(const std::string& Application, std::uint16_t ShowCommand,
                         bool HighPriority) {
  SHELLEXECUTEINFOA info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpFile = Application.c_str();
  info.nShow = ShowCommand;
  if (!::ShellExecuteExA(&info))
    return nullptr;
  if (info.hProcess && HighPriority)
    ::SetPriorityClass(info.hProcess, HIGH_PRIORITY_CLASS);
  return info.hProcess;
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

std::uint32_t FindFileSize(const std::string& Path) {
  WIN32_FIND_DATAA found;
  const win32::ScopedFindHandle search(::FindFirstFileA(Path.c_str(), &found));
  return search ? found.nFileSizeLow : 0;
}

void DeleteFileChecked(const std::string& Name) {
  ::SetLastError(0);
  if (!::DeleteFileA(Name.c_str()))
    throw TFileException();
}

std::int32_t RunAndWait(const std::string& Application, const std::string& CommandLine,
                        std::uint16_t ShowCommand, bool HighPriority,
                        const std::function<bool()>& OnIdle) {
  // CreateProcessA may write into the command line, so it gets a copy of its own.
  std::vector<char> commandLine(CommandLine.begin(), CommandLine.end());
  commandLine.push_back('\0');

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_FORCEONFEEDBACK;
  startup.wShowWindow = ShowCommand;
  PROCESS_INFORMATION created{};
  const bool started =
      ::CreateProcessA(Application.empty() ? nullptr : Application.c_str(),
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

void RunLaunchingStep(const TVexaHeader& Header, const std::string& Destination) {
  std::string program = Header.ProgramPath();
  if (Header.Flags() & hfProgramInDestination)
    program = PathJoin(Destination, program);

  if (FindFileSize(program) == 0) {
    ShowInformation(LoadStubString(IDS_PROGRAM_MISSING, program));
    throw EAbort();
  }

  // Quoted, so a path with spaces starts exactly the named program; what followed -- on the
  // stub's command line comes after it as it was given.
  std::string commandLine = "\"" + program + "\"";
  if (!Switches.ProgramArguments.empty())
    commandLine += " " + Switches.ProgramArguments;
  LogLine({"Program: ", commandLine});

  if (!(Header.Flags() & hfWaitAndDelete)) {
    ::WinExec(commandLine.c_str(), SW_SHOWNORMAL);
    return;
  }

  // Started by its path alone unless it has arguments: only then can the elevation route of
  // start_policy.h take it.
  const std::int32_t code =
      RunAndWait(program, Switches.ProgramArguments.empty() ? "" : commandLine, SW_SHOWNORMAL,
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
  // A refused name was never written, and joined to the destination it would name a file
  // outside it: deleting that would remove something that is not ours.
  for (const auto& item : Header.Items)
    if (IsSafeItemPath(FileName(*item))) {
      const std::string path = PathJoin(Destination, FileName(*item));
      DeleteFileChecked(path);
      LogLine({"Deleted ", path});
    }
}

} // namespace vexa
