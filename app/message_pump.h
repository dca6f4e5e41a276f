#pragma once
// Draining the GUI thread's message queue. Every wait here blocks on the queue instead
// of spinning, so a waiting stub uses no processor time.

namespace vexa {

// Removes at most one pending message of the thread (any window, any message) and
// translates and dispatches it. True when there was one.
bool PumpOneMessage();

// Blocks until the queue holds input that has not been removed yet.
void WaitForQueue();

// Runs until WM_QUIT, then ends the process by the normal exit. Never returns.
[[noreturn]] void MessageLoop();

} // namespace vexa
