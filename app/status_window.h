#pragma once
// The status window: a small captioned popup that hosts the whole run. It stays far off
// the screen except while items are written, when it shows the archive's icon,
// "Please Wait..." and a progress bar in the middle of the screen for at least the given
// time.

#include <cstdint>

#include "platform/win32/windows.h"

namespace vexa {

inline constexpr UINT WM_STARTRUN = WM_USER + 100;

// Owner of the stub's dialogs.
extern HWND StatusWindow;

// False when the window class cannot be registered or the window cannot be created.
bool CreateStatusWindow();

void BeginStatusDisplay(UINT Milliseconds);
// Waits (draining messages) until the minimum display time has passed, then moves the
// window off the screen. Does not wait when no display is running.
void EndStatusDisplay();

// The progress bar measures Total bytes from now on, and starts empty.
void StartProgress(std::uint64_t Total);
// Done of the Total bytes are written; the bar is full from Total on. Between, it follows
// at most every 100 ms: call it as often as convenient.
void ShowProgress(std::uint64_t Done);

// Top-left corner that centres a Width x Height window on the primary display's
// full-screen client area.
POINT CenterOnScreen(int Width, int Height);

// Moves Window so that it is centred, keeping its size.
void CenterWindow(HWND Window);

} // namespace vexa
