#include "app/status_window.h"

#include <algorithm>
#include <cstring>

#include "app/extraction_run.h"
#include "app/message_pump.h"
#include "resources/resource_ids.h"

// The common controls' status bar would take CreateStatusWindow's name.
#define NOSTATUSBAR
#include <commctrl.h>

namespace vexa {

HWND StatusWindow = nullptr;

namespace {

// A Unicode window: its title and note come from the string table whole, whatever the
// ANSI code page.
constexpr wchar_t ClassName[] = L"QuorvantaSelfExtractorWindow";
constexpr int OffScreen = -1000;
// The window's least size; a longer note widens it. Positions below are in the window's
// own coordinates, caption and frame included, as the painting uses them.
constexpr int MinWidth = 310;
constexpr int MinHeight = 100;
constexpr int TextY = 40;
constexpr int Margin = 20;
constexpr int BarGap = 6;
constexpr int BarHeight = 14;

wchar_t WaitNote[256] = {};
int WaitNoteLength = 0;
HICON StatusIcon = nullptr;
HFONT StatusFont = nullptr;
int TextX = 70;
bool MinTimeElapsed = true;
bool RunStarted = false;

// Null when the system could not make one: messages to it then go nowhere.
HWND ProgressBar = nullptr;
std::uint64_t ProgressTotal = 0;
// The bar counts in 32 bits: larger totals are counted in units of 2^ProgressShift bytes.
int ProgressShift = 0;
LPARAM ProgressFull = 1;
DWORD ProgressShownAt = 0;

HFONT MakeFont(const char* Face, int Height, bool Bold, bool Italic) {
  LOGFONTA font{};
  font.lfHeight = Height;
  font.lfWeight = Bold ? 800 : 400;
  font.lfItalic = Italic ? 1 : 0;
  // The system's own character set (ANSI on Western systems); the note itself is drawn
  // from its UTF-16.
  font.lfCharSet = DEFAULT_CHARSET;
  font.lfQuality = PROOF_QUALITY;
  font.lfPitchAndFamily = FF_SWISS;
  std::strncpy(font.lfFaceName, Face, LF_FACESIZE - 1);
  if (HFONT made = ::CreateFontIndirectA(&font))
    return made;
  return static_cast<HFONT>(::GetStockObject(SYSTEM_FONT));
}

void Paint(HWND Window, WPARAM wParam, LPARAM lParam) {
  ::DefWindowProcW(Window, WM_PAINT, wParam, lParam);
  HDC dc = ::GetWindowDC(Window);
  if (StatusIcon)
    ::DrawIcon(dc, 20, 35, StatusIcon);
  ::SelectObject(dc, StatusFont);
  ::SetBkMode(dc, TRANSPARENT);
  ::TextOutW(dc, TextX, TextY, WaitNote, WaitNoteLength);
  ::ReleaseDC(Window, dc);
}

// Runs the extraction once; no exception crosses the window procedure.
void OnStartRun(HWND Window) {
  if (RunStarted)
    return;
  RunStarted = true;
  RunExtractionOnce();
  ::DestroyWindow(Window);
  ::DestroyIcon(StatusIcon);
  ::DeleteObject(StatusFont);
}

LRESULT CALLBACK StatusWindowProc(HWND Window, UINT Message, WPARAM wParam, LPARAM lParam) {
  switch (Message) {
  case WM_DESTROY:
    ::PostQuitMessage(0);
    return 0;
  case WM_PAINT:
    Paint(Window, wParam, lParam);
    return 0;
  case WM_SHOWWINDOW: {
    const LRESULT result = ::DefWindowProcW(Window, Message, wParam, lParam);
    ::PostMessageA(Window, WM_STARTRUN, 0, 0);
    return result;
  }
  case WM_STARTRUN:
    OnStartRun(Window);
    return 0;
  default:
    return ::DefWindowProcW(Window, Message, wParam, lParam);
  }
}

void CALLBACK MinTimeProc(HWND, UINT, UINT_PTR Timer, DWORD) {
  ::KillTimer(nullptr, Timer);
  MinTimeElapsed = true;
}

void MoveKeepingSize(HWND Window, int X, int Y) {
  RECT r;
  ::GetWindowRect(Window, &r);
  ::MoveWindow(Window, X, Y, r.right - r.left, r.bottom - r.top, TRUE);
}

// Sizes the window to its note, with the progress bar under it, and makes the bar.
void LayOut(HINSTANCE Instance) {
  SIZE note{};
  HDC dc = ::GetWindowDC(StatusWindow);
  ::SelectObject(dc, StatusFont);
  ::GetTextExtentPoint32W(dc, WaitNote, WaitNoteLength, &note);
  ::ReleaseDC(StatusWindow, dc);
  const int barTop = TextY + note.cy + BarGap;
  const int width = std::max<int>(MinWidth, TextX + note.cx + Margin);
  const int height = std::max(MinHeight, barTop + BarHeight + Margin);
  ::SetWindowPos(StatusWindow, nullptr, 0, 0, width, height,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);

  RECT frame;
  ::GetWindowRect(StatusWindow, &frame);
  POINT client{0, 0};
  ::ClientToScreen(StatusWindow, &client);
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
  ::InitCommonControlsEx(&controls);
  ProgressBar = ::CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE,
                                  TextX - (client.x - frame.left), barTop - (client.y - frame.top),
                                  width - TextX - Margin, BarHeight, StatusWindow, nullptr,
                                  Instance, nullptr);
}

} // namespace

bool CreateStatusWindow() {
  HINSTANCE instance = ::GetModuleHandleA(nullptr);
  WNDCLASSW wc{};
  if (!::GetClassInfoW(instance, ClassName, &wc)) {
    wc.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
    wc.lpfnWndProc = StatusWindowProc;
    wc.hInstance = instance;
    wc.hIcon = ::LoadIconA(instance, "SELFEXICON");
    wc.hCursor = ::LoadCursorA(nullptr, MAKEINTRESOURCEA(32514)); // IDC_WAIT
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = ClassName;
    if (!::RegisterClassW(&wc))
      return false;
  }
  StatusWindow =
      ::CreateWindowExW(0, ClassName, L"", WS_POPUP | WS_VISIBLE | WS_CAPTION, OffScreen, OffScreen,
                        MinWidth, MinHeight, nullptr, nullptr, instance, nullptr);
  if (!StatusWindow)
    return false;
  wchar_t title[255] = {};
  ::LoadStringW(instance, IDS_STATUS_CAPTION, title, 255);
  ::SetWindowTextW(StatusWindow, title);
  WaitNoteLength = ::LoadStringW(instance, IDS_WAIT_NOTE, WaitNote, 256);
  StatusIcon = ::LoadIconA(instance, "SELFEXICON");
  // Without the icon the note takes its place, in a larger font.
  StatusFont =
      StatusIcon ? MakeFont("Ms Sans Serif", 14, false, false) : MakeFont("Arial", 20, true, true);
  TextX = StatusIcon ? 70 : 20;
  LayOut(instance);

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  ::GetStartupInfoA(&startup);
  ::ShowWindow(StatusWindow,
               (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT);
  return true;
}

void BeginStatusDisplay(UINT Milliseconds) {
  MinTimeElapsed = false;
  ::SetTimer(nullptr, 0, Milliseconds, MinTimeProc);
  CenterWindow(StatusWindow);
  ::SetForegroundWindow(StatusWindow);
  for (int i = 0; i < 5; ++i)
    PumpOneMessage();
}

void EndStatusDisplay() {
  while (!MinTimeElapsed)
    if (!PumpOneMessage())
      WaitForQueue();
  MoveKeepingSize(StatusWindow, OffScreen, OffScreen);
  PumpOneMessage();
}

void StartProgress(std::uint64_t Total) {
  ProgressTotal = Total;
  ProgressShift = 0;
  while ((Total >> ProgressShift) > 0x7FFFFFFF)
    ++ProgressShift;
  // A range of at least 1, so that an archive of empty items still ends with a full bar.
  ProgressFull = std::max<LPARAM>(1, static_cast<LPARAM>(Total >> ProgressShift));
  ::SendMessageA(ProgressBar, PBM_SETRANGE32, 0, ProgressFull);
  ::SendMessageA(ProgressBar, PBM_SETPOS, 0, 0);
  ProgressShownAt = ::GetTickCount();
}

void ShowProgress(std::uint64_t Done) {
  // Each move costs a round trip to the window system (a slow one under emulation): the bar
  // moves at most every 100 ms, and when it becomes full.
  const bool full = Done >= ProgressTotal;
  if (!full && ::GetTickCount() - ProgressShownAt < 100)
    return;
  ProgressShownAt = ::GetTickCount();
  const auto position = full ? ProgressFull : static_cast<LPARAM>(Done >> ProgressShift);
  ::SendMessageA(ProgressBar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

POINT CenterOnScreen(int Width, int Height) {
  return {(::GetSystemMetrics(SM_CXFULLSCREEN) - Width) / 2,
          (::GetSystemMetrics(SM_CYFULLSCREEN) - Height) / 2};
}

void CenterWindow(HWND Window) {
  RECT r;
  ::GetWindowRect(Window, &r);
  const POINT p = CenterOnScreen(r.right - r.left, r.bottom - r.top);
  ::MoveWindow(Window, p.x, p.y, r.right - r.left, r.bottom - r.top, TRUE);
}

} // namespace vexa
