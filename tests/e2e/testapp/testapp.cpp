// e2e_testapp.exe: a Windows program with known behaviour that the driver's own scenarios drive,
// so that a fault of the harness shows apart from a fault of the stub.
//
//   e2e_testapp form OUTFILE   asks "Fill in the form?" (caption "E2E Test", Yes/No; No ends with
//                              3), then shows the window "E2E Form" (class "VexaE2EForm") with an
//                              edit field (id 100), OK (1) and Cancel (2). OK writes the field's
//                              text to OUTFILE and ends with 0; Cancel or Esc ends with 4; the
//                              close box with 5.
//   e2e_testapp move           the window "E2E Mover" (class "VexaE2EMover", 200 x 80) starts at
//                              (-1000, -1000), is centred 400 ms later for 800 ms, goes back,
//                              and ends the program with 0 another 400 ms later.
//   e2e_testapp browse OUTFILE the folder browser, captioned "E2E Browse"; OK writes the chosen
//                              path to OUTFILE and ends with 0, Cancel ends with 6.

#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <cstring>
#include <string>

namespace {

constexpr int kEditId = 100;
constexpr int kOffScreen = -1000;

std::string OutFile;

bool WriteOut(const std::string& text) {
  HANDLE file = CreateFileA(OutFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
            written == text.size();
  CloseHandle(file);
  return ok;
}

// The same centring rule as the stub's status window, so the harness can check both alike.
POINT Centre(int width, int height) {
  return {(GetSystemMetrics(SM_CXFULLSCREEN) - width) / 2,
          (GetSystemMetrics(SM_CYFULLSCREEN) - height) / 2};
}

int RunLoop(HWND dialogLike) {
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    if (dialogLike && IsDialogMessageA(dialogLike, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return static_cast<int>(msg.wParam);
}

LRESULT CALLBACK FormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        char text[256] = "";
        GetDlgItemTextA(window, kEditId, text, sizeof text);
        PostQuitMessage(WriteOut(text) ? 0 : 9);
        DestroyWindow(window);
      } else if (LOWORD(wParam) == IDCANCEL) {
        PostQuitMessage(4);
        DestroyWindow(window);
      }
      return 0;
    case WM_CLOSE:
      PostQuitMessage(5);
      DestroyWindow(window);
      return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

int Form(HINSTANCE instance) {
  if (MessageBoxA(nullptr, "Fill in the form?", "E2E Test", MB_YESNO | MB_ICONQUESTION) != IDYES)
    return 3;
  WNDCLASSA wc{};
  wc.lpfnWndProc = FormProc;
  wc.hInstance = instance;
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = "VexaE2EForm";
  RegisterClassA(&wc);
  HWND form = CreateWindowA("VexaE2EForm", "E2E Form", WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU,
                            100, 100, 300, 140, nullptr, nullptr, instance, nullptr);
  HWND edit = CreateWindowA("EDIT", "", WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP, 10, 10,
                            270, 24, form, reinterpret_cast<HMENU>(kEditId), instance, nullptr);
  CreateWindowA("BUTTON", "OK", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 10, 50, 80,
                26, form, reinterpret_cast<HMENU>(IDOK), instance, nullptr);
  CreateWindowA("BUTTON", "Cancel", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 100, 50, 80, 26, form,
                reinterpret_cast<HMENU>(IDCANCEL), instance, nullptr);
  ShowWindow(form, SW_SHOW);
  SetForegroundWindow(form);
  SetFocus(edit);
  return RunLoop(form);
}

enum MoverTimer : UINT_PTR { kToCentre = 1, kBack, kEnd };

LRESULT CALLBACK MoverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_TIMER) {
    KillTimer(window, wParam);
    RECT r;
    GetWindowRect(window, &r);
    int width = r.right - r.left, height = r.bottom - r.top;
    if (wParam == kToCentre) {
      POINT at = Centre(width, height);
      MoveWindow(window, at.x, at.y, width, height, TRUE);
      SetTimer(window, kBack, 800, nullptr);
    } else if (wParam == kBack) {
      MoveWindow(window, kOffScreen, kOffScreen, width, height, TRUE);
      SetTimer(window, kEnd, 400, nullptr);
    } else {
      DestroyWindow(window);
    }
    return 0;
  }
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

int Move(HINSTANCE instance) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = MoverProc;
  wc.hInstance = instance;
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = "VexaE2EMover";
  RegisterClassA(&wc);
  HWND mover = CreateWindowA("VexaE2EMover", "E2E Mover", WS_POPUP | WS_VISIBLE | WS_CAPTION,
                             kOffScreen, kOffScreen, 200, 80, nullptr, nullptr, instance, nullptr);
  SetTimer(mover, kToCentre, 400, nullptr);
  return RunLoop(nullptr);
}

int CALLBACK BrowseCallback(HWND window, UINT message, LPARAM, LPARAM) {
  if (message == BFFM_INITIALIZED) SetWindowTextA(window, "E2E Browse");
  return 0;
}

int Browse() {
  if (FAILED(CoInitialize(nullptr))) return 8;
  char display[MAX_PATH] = "";
  BROWSEINFOA info{};
  info.pszDisplayName = display;
  info.lpszTitle = "Pick a folder";
  info.ulFlags = BIF_RETURNONLYFSDIRS;
  info.lpfn = BrowseCallback;
  int code = 6;
  if (LPITEMIDLIST chosen = SHBrowseForFolderA(&info)) {
    char path[MAX_PATH] = "";
    code = SHGetPathFromIDListA(chosen, path) && WriteOut(path) ? 0 : 9;
    CoTaskMemFree(chosen);
  }
  CoUninitialize();
  return code;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  std::string args = commandLine;
  size_t space = args.find(' ');
  std::string mode = args.substr(0, space);
  if (space != std::string::npos) OutFile = args.substr(space + 1);
  if (mode == "form" && !OutFile.empty()) return Form(instance);
  if (mode == "move") return Move(instance);
  if (mode == "browse" && !OutFile.empty()) return Browse();
  MessageBoxA(nullptr, "usage: e2e_testapp form|move|browse [OUTFILE]", "E2E Test", MB_OK);
  return 2;
}
