#pragma once
// What becomes of a failure that nothing handles: the clean-ups on its way run, and the
// process ends with exit code 1 without showing anything. Orderly ends exit with 0, or with
// the result that an unattended run recorded.

namespace vexa {

// Called once at start-up, before any window exists.
void InstallFailurePolicy();

// Marks the run as failed: the process will end with exit code 1.
void RecordEscapedFailure();

// The code an orderly end exits with, for a deployment tool to read; the first one recorded
// stays (a failure reported earlier outweighs the program's own success), and an escaped
// failure still makes it 1.
void RecordExitCode(int Code);

// What the process would exit with now.
int RecordedExitCode();

// The normal process exit (module finalisation, CoUninitialize) with the recorded code, or
// 1 once a failure escaped the run.
[[noreturn]] void ExitProcessNormally();

} // namespace vexa
