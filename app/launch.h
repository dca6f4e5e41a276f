#pragma once
// After the items are written: start the archive's program, wait for it, ask when due,
// and delete the extracted items' files.

#include <cstdint>
#include <functional>
#include <string>

#include "app/item_tree.h"
#include "archive/vexa_header.h"

namespace vexa {

// Leaves by EAbort (the program is missing: after the notice) or TFileException (an item
// file could not be deleted); otherwise returns when the step is over. The program may lie
// in a folder of the tree; the clean-up is Tree's.
void RunLaunchingStep(const TVexaHeader& Header, TItemTree& Tree);

// Starts Application and waits for it to end, calling OnIdle once for each message it
// drains while it waits (true from OnIdle terminates the process). Returns its exit
// code, or -1 when it could not be started.
std::int32_t RunAndWait(const std::wstring& Application, const std::wstring& CommandLine,
                        std::uint16_t ShowCommand, bool HighPriority,
                        const std::function<bool()>& OnIdle);

// The abort callback of the wait: drains one message; never asks to abort.
bool QueryAbort();

// Blocks the thread for about the given time.
void WaitMilliseconds(std::uint32_t Milliseconds);

// Size of the first directory entry matching Path; 0 when none matches.
std::uint32_t FindFileSize(const std::wstring& Path);

} // namespace vexa
