#pragma once
// The extraction run: the welcome question, the header, the password, the destination,
// every item in table order, and the launching step.

#include <string>

#include "archive/vexa_header.h"

namespace vexa {

// Full path of the stub's own executable in the ANSI code page (its short form where
// needed); set at the start of the run, empty when the code page cannot spell it.
extern std::string ExePath;

// The whole run, once: by the status window's WM_STARTRUN handler, or at the start of a
// silent run, which has no window. A welcome answered No ends the process at once with exit
// code 0. No exception leaves: one that leaves the run is recorded (the process later exits
// with 1), and the run's header is freed either way.
void RunExtractionOnce();

void ExtractArchive(const std::string& ExePath, TVexaHeader& Header);

} // namespace vexa
