#pragma once
// What becomes of a failure that nothing handles: the clean-ups on its way run, and the
// process ends with exit code 1 without showing anything. Orderly ends exit with 0.

namespace vexa {

// Called once at start-up, before any window exists.
void InstallFailurePolicy();

// Marks the run as failed: the process will end with exit code 1.
void RecordEscapedFailure();

// The normal process exit (module finalisation, CoUninitialize) with 0, or 1 once a
// failure escaped the run.
[[noreturn]] void ExitProcessNormally();

} // namespace vexa
