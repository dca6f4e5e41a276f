// probe.exe: watches the stub from the outside while it runs under Wine, for the bench
// table. Prints one JSON object on stdout.
//
//   probe cpu STUB PROGRAM  starts STUB, waits for it to start PROGRAM (a file name) and
//                           measures the stub's CPU time over that program's whole run:
//                           the sum of its threads' times (GetThreadTimes over a thread
//                           snapshot; Wine's GetProcessTimes on another process returns
//                           the caller's own).
//   probe repaint STUB      starts STUB and, while its status window is on screen,
//                           invalidates the window and times how long it takes until the
//                           window has painted (its update region is empty again), over
//                           and over; the longest wait is the longest time it went
//                           unpainted.
//   probe run STUB [SWITCHES]
//                           starts STUB with SWITCHES on its command line and times its
//                           whole run, from the start to its exit.

#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr char StatusClass[] = "QuorvantaSelfExtractorWindow";

double NowMs() {
  static LARGE_INTEGER frequency{};
  if (frequency.QuadPart == 0)
    QueryPerformanceFrequency(&frequency);
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

[[noreturn]] void Fail(const char* What) {
  std::printf("{\"error\":\"%s (%lu)\"}\n", What, GetLastError());
  std::exit(1);
}

PROCESS_INFORMATION Start(const char* Exe, const char* Switches = nullptr) {
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  std::string line = std::string("\"") + Exe + "\"";
  if (Switches)
    line += std::string(" ") + Switches;
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                      &pi))
    Fail("cannot start the stub");
  return pi;
}

// Kernel + user time of every thread of Pid, in milliseconds.
double CpuMs(DWORD Pid) {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snap == INVALID_HANDLE_VALUE)
    Fail("no thread snapshot");
  double total = 0;
  THREADENTRY32 te{};
  te.dwSize = sizeof te;
  for (BOOL ok = Thread32First(snap, &te); ok; ok = Thread32Next(snap, &te)) {
    if (te.th32OwnerProcessID != Pid)
      continue;
    HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, te.th32ThreadID);
    if (!thread)
      continue;
    FILETIME created, exited, kernel, user;
    if (GetThreadTimes(thread, &created, &exited, &kernel, &user)) {
      const auto ticks = [](FILETIME t) {
        return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
      };
      total += static_cast<double>(ticks(kernel) + ticks(user)) / 10000.0;
    }
    CloseHandle(thread);
  }
  CloseHandle(snap);
  return total;
}

// The process Name whose parent is Pid, or 0. The name matters: Wine reuses process ids,
// so a process of the prefix's start-up may name a parent id that the stub has now.
DWORD ChildOf(DWORD Pid, const char* Name) {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snap == INVALID_HANDLE_VALUE)
    return 0;
  PROCESSENTRY32 pe{};
  pe.dwSize = sizeof pe;
  DWORD child = 0;
  for (BOOL ok = Process32First(snap, &pe); ok && !child; ok = Process32Next(snap, &pe))
    if (pe.th32ParentProcessID == Pid && _stricmp(pe.szExeFile, Name) == 0)
      child = pe.th32ProcessID;
  CloseHandle(snap);
  return child;
}

int MeasureCpu(const char* Stub, const char* Program) {
  const PROCESS_INFORMATION stub = Start(Stub);
  const double deadline = NowMs() + 120000;
  DWORD child = 0;
  while (!(child = ChildOf(stub.dwProcessId, Program))) {
    if (NowMs() > deadline || WaitForSingleObject(stub.hProcess, 0) == WAIT_OBJECT_0)
      Fail("the stub started no program");
    Sleep(5);
  }
  HANDLE program = OpenProcess(SYNCHRONIZE, FALSE, child);
  if (!program)
    Fail("cannot open the started program");
  // The stub's own start-up work ends as it starts the program: from here it only waits.
  const double cpu0 = CpuMs(stub.dwProcessId), t0 = NowMs();
  WaitForSingleObject(program, INFINITE);
  const double cpu1 = CpuMs(stub.dwProcessId), t1 = NowMs();
  CloseHandle(program);
  WaitForSingleObject(stub.hProcess, 60000);
  DWORD code = 0;
  GetExitCodeProcess(stub.hProcess, &code);
  // The time before the wait shows that the measurement sees the stub's threads at all.
  std::printf("{\"wait_ms\":%.1f,\"cpu_ms\":%.2f,\"cpu_before_ms\":%.2f,\"stub_exit\":%lu}\n",
              t1 - t0, cpu1 - cpu0, cpu0, code);
  return 0;
}

struct FindData {
  DWORD Pid;
  HWND Found;
};

BOOL CALLBACK FindStatus(HWND Window, LPARAM Param) {
  auto* data = reinterpret_cast<FindData*>(Param);
  DWORD pid = 0;
  GetWindowThreadProcessId(Window, &pid);
  char cls[64] = {};
  GetClassNameA(Window, cls, sizeof cls);
  if (pid == data->Pid && std::strcmp(cls, StatusClass) == 0) {
    data->Found = Window;
    return FALSE;
  }
  return TRUE;
}

bool OnScreen(HWND Window) {
  RECT r;
  return IsWindow(Window) && GetWindowRect(Window, &r) && r.right > 0 && r.bottom > 0;
}

int MeasureRepaint(const char* Stub) {
  const PROCESS_INFORMATION stub = Start(Stub);
  const double deadline = NowMs() + 120000;
  FindData find{stub.dwProcessId, nullptr};
  while (!find.Found || !OnScreen(find.Found)) {
    if (NowMs() > deadline || WaitForSingleObject(stub.hProcess, 0) == WAIT_OBJECT_0)
      Fail("the status window never came on screen");
    if (!find.Found)
      EnumWindows(FindStatus, reinterpret_cast<LPARAM>(&find));
    Sleep(1);
  }
  const HWND window = find.Found;
  const double shown = NowMs();
  double longest = 0, sum = 0;
  int samples = 0;
  bool cutByEnd = false;
  while (OnScreen(window)) {
    InvalidateRect(window, nullptr, FALSE);
    const double asked = NowMs();
    RECT update;
    while (GetUpdateRect(window, &update, FALSE) && OnScreen(window))
      Sleep(1);
    const double waited = NowMs() - asked;
    if (!OnScreen(window)) {
      // It left the screen before painting: this wait counts up to that moment.
      cutByEnd = true;
    }
    longest = std::max(longest, waited);
    sum += waited;
    ++samples;
    Sleep(10);
  }
  const double hidden = NowMs();
  WaitForSingleObject(stub.hProcess, 120000);
  DWORD code = 0;
  GetExitCodeProcess(stub.hProcess, &code);
  std::printf("{\"on_screen_ms\":%.1f,\"longest_unpainted_ms\":%.1f,\"mean_ms\":%.2f,"
              "\"samples\":%d,\"last_cut_by_end\":%s,\"stub_exit\":%lu}\n",
              hidden - shown, longest, samples ? sum / samples : 0.0, samples,
              cutByEnd ? "true" : "false", code);
  return 0;
}

int MeasureRun(const char* Stub, const char* Switches) {
  const double started = NowMs();
  const PROCESS_INFORMATION stub = Start(Stub, Switches);
  if (WaitForSingleObject(stub.hProcess, 600000) != WAIT_OBJECT_0)
    Fail("the stub did not end");
  const double ended = NowMs();
  DWORD code = 0;
  GetExitCodeProcess(stub.hProcess, &code);
  std::printf("{\"wall_ms\":%.1f,\"stub_exit\":%lu}\n", ended - started, code);
  return 0;
}

} // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "cpu") == 0)
    return MeasureCpu(argv[2], argv[3]);
  if (argc == 3 && std::strcmp(argv[1], "repaint") == 0)
    return MeasureRepaint(argv[2]);
  if ((argc == 3 || argc == 4) && std::strcmp(argv[1], "run") == 0)
    return MeasureRun(argv[2], argc == 4 ? argv[3] : nullptr);
  std::fprintf(stderr, "usage: probe cpu STUB.EXE PROGRAM.EXE | probe repaint STUB.EXE | "
                       "probe run STUB.EXE [SWITCHES]\n");
  return 2;
}
