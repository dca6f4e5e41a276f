#include "runtime/failure_policy.h"

#include <cstdlib>
#include <exception>

#include "platform/win32/windows.h"

namespace vexa {

namespace {

int ExitCode = 0;

// Processor faults and anything that reaches std::terminate end the process at once:
// no crash dialog, nothing shown, exit code 1.
LONG WINAPI EndOnFault(EXCEPTION_POINTERS*) { ::ExitProcess(1); }

[[noreturn]] void EndOnTerminate() { ::ExitProcess(1); }

} // namespace

void InstallFailurePolicy() {
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  ::SetUnhandledExceptionFilter(EndOnFault);
  std::set_terminate(EndOnTerminate);
}

void RecordEscapedFailure() { ExitCode = 1; }

void ExitProcessNormally() { std::exit(ExitCode); }

} // namespace vexa
