#include "app/launch.h"

#include <vector>

#include "app/message_pump.h"
#include "archive/archive_paths.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/windows.h"
#include "ui/message_boxes.h"

namespace vexa {

namespace {

bool CancelRequested = false;

std::string MissingProgramNotice(const std::string& Program) {
  return "Files were succesfully extracted, but an internal Windows problem occurs to start "
         "setup.\r\n\r\nExtractor will terminate the job now.\r\n\r\nAfter that to setup the "
         "product, please start the program: \"" +
         Program + "\"";
}

void CALLBACK StopTimer(HWND, UINT, UINT_PTR Timer, DWORD) { ::KillTimer(nullptr, Timer); }

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
  if (!::CreateProcessA(Application.empty() ? nullptr : Application.c_str(),
                        CommandLine.empty() ? nullptr : commandLine.data(), nullptr, nullptr, FALSE,
                        HighPriority ? HIGH_PRIORITY_CLASS : NORMAL_PRIORITY_CLASS, nullptr, nullptr,
                        &startup, &created))
    return -1;
  const win32::ScopedKernelHandle thread(created.hThread);
  const win32::ScopedKernelHandle process(created.hProcess);

  ::WaitForInputIdle(process.Get(), 2000);
  DWORD code = static_cast<DWORD>(-1);
  for (;;) {
    DWORD now;
    if (!::GetExitCodeProcess(process.Get(), &now))
      break;
    code = now;
    if (code != STILL_ACTIVE)
      break;
    if (!OnIdle) {
      WaitMilliseconds(500);
      continue;
    }
    if (OnIdle())
      ::TerminateProcess(process.Get(), 0);
    // Sleep until the program ends or a message arrives for the next OnIdle to drain.
    HANDLE waitOn = process.Get();
    ::MsgWaitForMultipleObjectsEx(1, &waitOn, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
  return static_cast<std::int32_t>(code);
}

void RunLaunchingStep(const TVexaHeader& Header, const std::string& Destination) {
  std::string program = Header.ProgramPath();
  if (Header.Flags() & hfProgramInDestination)
    program = PathJoin(Destination, program);

  if (FindFileSize(program) == 0) {
    ShowInformation(MissingProgramNotice(program));
    throw EAbort();
  }

  if (!(Header.Flags() & hfWaitAndDelete)) {
    // Quoted, so a path with spaces starts exactly the named program.
    ::WinExec(("\"" + program + "\"").c_str(), SW_SHOWNORMAL);
    return;
  }

  const std::int32_t code = RunAndWait(program, "", SW_SHOWNORMAL, false, QueryAbort);
  if (code < 0) {
    ShowInformation("Could not start: " + program + "\r\nPlease try this manually.");
    return;
  }
  if ((code != 0 || (Header.Flags() & hfAlwaysConfirm)) && !AskDeleteTempFiles())
    return;
  WaitMilliseconds(1500);
  for (const auto& item : Header.Items)
    DeleteFileChecked(PathJoin(Destination, FileName(*item)));
}

} // namespace vexa
