#pragma once
// After the items are written: start the archive's program, wait for it, ask when due,
// and delete the extracted items' files.

#include <cstdint>
#include <functional>
#include <string>

#include "archive/vexa_header.h"

namespace vexa {

// Leaves by EAbort (the program is missing: after the notice) or TFileException (an item
// file could not be deleted); otherwise returns when the step is over.
void RunLaunchingStep(const TVexaHeader& Header, const std::string& Destination);

// Starts Application and waits for it to end, calling OnIdle once for each message it
// drains while it waits (true from OnIdle terminates the process). Returns its exit
// code, or -1 when it could not be started.
std::int32_t RunAndWait(const std::string& Application, const std::string& CommandLine,
                        std::uint16_t ShowCommand, bool HighPriority,
                        const std::function<bool()>& OnIdle);

// The abort callback of the wait: drains one message; never asks to abort.
bool QueryAbort();

// Blocks the thread for about the given time.
void WaitMilliseconds(std::uint32_t Milliseconds);

// Size of the first directory entry matching Path; 0 when none matches.
std::uint32_t FindFileSize(const std::string& Path);

// Raises TFileException when the file cannot be deleted.
void DeleteFileChecked(const std::string& Name);

} // namespace vexa
