#include "runtime/failure_policy.h"

#include <cstdlib>

#include "platform/win32/windows.h"

namespace vexa {

namespace {

int ExitCode = 0;

// Processor faults end the process at once: no crash dialog, nothing shown, exit code 1.
LONG WINAPI EndOnFault(EXCEPTION_POINTERS*) { ::ExitProcess(1); }

} // namespace

void InstallFailurePolicy() {
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  ::SetUnhandledExceptionFilter(EndOnFault);
}

void RecordEscapedFailure() { ExitCode = 1; }

void RecordExitCode(int Code) {
  if (ExitCode == 0)
    ExitCode = Code;
}

int RecordedExitCode() { return ExitCode; }

void ExitProcessNormally() { std::exit(ExitCode); }

} // namespace vexa

// Anything that reaches std::terminate ends the process the same way. The C++ runtime's
// default handler is replaced at link time rather than by set_terminate: the library's
// own one writes the exception's name to a console the stub has not got, and links in a
// demangler and a printf that would be a fifth of the stub. Being the default, this one
// also covers static initialisation.
namespace __gnu_cxx {
void __verbose_terminate_handler() { ::ExitProcess(1); }
} // namespace __gnu_cxx
