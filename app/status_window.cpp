#include "app/status_window.h"

#include <cstring>

#include "app/extraction_run.h"
#include "app/message_pump.h"
#include "resources/resource_ids.h"

namespace vexa {

HWND StatusWindow = nullptr;

namespace {

constexpr char ClassName[] = "QuorvantaSelfExtractorWindow";
constexpr int OffScreen = -1000;

char WaitNote[256] = {};
int WaitNoteLength = 0;
HICON StatusIcon = nullptr;
HFONT StatusFont = nullptr;
bool FallbackFontDone = false;
int TextX = 70;
int TextY = 40;
bool MinTimeElapsed = true;
bool RunStarted = false;

HFONT MakeFont(const char* Face, int Height, bool Bold, bool Italic) {
  LOGFONTA font{};
  font.lfHeight = Height;
  font.lfWeight = Bold ? 800 : 400;
  font.lfItalic = Italic ? 1 : 0;
  // The system's own character set: the note comes from the string table, which may be
  // in any language that the ANSI code page holds (on Western systems this is ANSI).
  font.lfCharSet = DEFAULT_CHARSET;
  font.lfQuality = PROOF_QUALITY;
  font.lfPitchAndFamily = FF_SWISS;
  std::strncpy(font.lfFaceName, Face, LF_FACESIZE - 1);
  if (HFONT made = ::CreateFontIndirectA(&font))
    return made;
  return static_cast<HFONT>(::GetStockObject(SYSTEM_FONT));
}

void Paint(HWND Window, WPARAM wParam, LPARAM lParam) {
  ::DefWindowProcA(Window, WM_PAINT, wParam, lParam);
  HDC dc = ::GetWindowDC(Window);
  if (StatusIcon)
    ::DrawIcon(dc, 20, 35, StatusIcon);
  if (!StatusIcon && !FallbackFontDone) {
    FallbackFontDone = true;
    ::DeleteObject(StatusFont);
    StatusFont = MakeFont("Arial", 20, true, true);
    TextX = 20;
  }
  ::SelectObject(dc, StatusFont);
  ::SetBkMode(dc, TRANSPARENT);
  ::TextOutA(dc, TextX, TextY, WaitNote, WaitNoteLength);
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
    const LRESULT result = ::DefWindowProcA(Window, Message, wParam, lParam);
    ::PostMessageA(Window, WM_STARTRUN, 0, 0);
    return result;
  }
  case WM_STARTRUN:
    OnStartRun(Window);
    return 0;
  default:
    return ::DefWindowProcA(Window, Message, wParam, lParam);
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

} // namespace

bool CreateStatusWindow() {
  HINSTANCE instance = ::GetModuleHandleA(nullptr);
  WNDCLASSA wc{};
  if (!::GetClassInfoA(instance, ClassName, &wc)) {
    wc.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
    wc.lpfnWndProc = StatusWindowProc;
    wc.hInstance = instance;
    wc.hIcon = ::LoadIconA(instance, "SELFEXICON");
    wc.hCursor = ::LoadCursorA(nullptr, MAKEINTRESOURCEA(32514)); // IDC_WAIT
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = ClassName;
    if (!::RegisterClassA(&wc))
      return false;
  }
  StatusWindow = ::CreateWindowExA(0, ClassName, "", WS_POPUP | WS_VISIBLE | WS_CAPTION, OffScreen,
                                   OffScreen, 310, 100, nullptr, nullptr, instance, nullptr);
  if (!StatusWindow)
    return false;
  char title[255] = {};
  ::LoadStringA(instance, IDS_STATUS_CAPTION, title, sizeof title);
  ::SetWindowTextA(StatusWindow, title);
  WaitNoteLength = ::LoadStringA(instance, IDS_WAIT_NOTE, WaitNote, sizeof WaitNote);
  StatusIcon = ::LoadIconA(instance, "SELFEXICON");
  StatusFont = MakeFont("Ms Sans Serif", 14, false, false);

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
