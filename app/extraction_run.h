#pragma once
// The extraction run: the welcome question, the header, the password, the destination,
// every item in table order, and the launching step.

#include <string>

#include "archive/vexa_header.h"

namespace vexa {

// Full path of the stub's own executable in the ANSI code page (its short form where
// needed); set at the start of the run, empty when the code page cannot spell it.
extern std::string ExePath;

// Called once by the status window's WM_STARTRUN handler. A welcome answered No ends
// the process at once with exit code 0; failures leave as exceptions.
void RunExtraction();

void ExtractArchive(const std::string& ExePath, TVexaHeader& Header);

// Frees the run's header; the status window does it after the run.
void FreeHeader();

} // namespace vexa
