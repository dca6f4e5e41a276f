#include "ui/localised_dialog.h"

#include "app/status_window.h"
#include "platform/win32/windows.h"
#include "resources/resource_ids.h"
#include "ui/dialog_layout.h"
#include "ui/message_boxes.h"
#include "ui/password_prompt.h"

namespace vexa {

DialogStringTable DialogStringIds = {};
char PasswordBuffer[128] = {};

namespace {

constexpr INT_PTR Handled = -1;

void OnInitDialog(HWND Dialog) {
  ::SetWindowTextW(Dialog, LoadStubString(DialogStringIds[0]).c_str());

  for (HWND child = ::GetWindow(Dialog, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
    const unsigned id = static_cast<unsigned>(::GetDlgCtrlID(child));
    if (id >= DialogStringIds.size() || DialogStringIds[id] == 0)
      continue;
    if (const std::wstring text = LoadStubString(DialogStringIds[id]); !text.empty())
      ::SetWindowTextW(child, text.c_str());
  }
  // The password buffer holds 127 characters and a NUL; the field never takes more.
  if (HWND field = ::GetDlgItem(Dialog, IDC_PASSWORD))
    ::SendMessageA(field, EM_LIMITTEXT, sizeof PasswordBuffer - 1, 0);
  FitDialogToTexts(Dialog);
  CenterWindow(Dialog);
}

void OnOk(HWND Dialog) {
  HWND field = ::GetDlgItem(Dialog, IDC_PASSWORD);
  if (!field)
    return;
  // The password is checked in the code page it was packed in. There, 127 characters of a
  // double-byte code page may take more bytes than the buffer holds: longer than any password
  // packed, so refused whole rather than cut to a shorter one.
  wchar_t typed[sizeof PasswordBuffer] = {};
  ::GetWindowTextW(field, typed, sizeof PasswordBuffer);
  if (::WideCharToMultiByte(CP_ACP, 0, typed, -1, PasswordBuffer, sizeof PasswordBuffer, nullptr,
                            nullptr) == 0)
    ::MessageBeep(1);
  else if (CheckPassword(PasswordBuffer)) {
    ::EndDialog(Dialog, 1);
    return;
  }
  ::SetDlgItemTextW(Dialog, IDC_ERROR_LINE, LoadStubString(IDS_PASSWORD_INVALID).c_str());
  if (FitDialogToTexts(Dialog))
    CenterWindow(Dialog);
  ::SetFocus(field);
  ::SendMessageA(field, EM_SETSEL, 0, -1);
}

void OnCommand(HWND Dialog, WPARAM wParam) {
  if (LOWORD(wParam) == IDC_PASSWORD && HIWORD(wParam) == EN_CHANGE)
    ::SetDlgItemTextW(Dialog, IDC_ERROR_LINE, L"");
  else if (wParam == IDOK)
    OnOk(Dialog);
  else if (wParam >= IDCANCEL && wParam <= 8) // Cancel, Abort, Retry, Ignore, Yes, No, Close
    ::EndDialog(Dialog, static_cast<INT_PTR>(wParam));
}

INT_PTR CALLBACK LocalisedDialogProc(HWND Dialog, UINT Message, WPARAM wParam, LPARAM) {
  switch (Message) {
  case WM_INITDIALOG:
    OnInitDialog(Dialog);
    return Handled;
  case WM_SHOWWINDOW:
    ::SetForegroundWindow(Dialog);
    return Handled;
  case WM_COMMAND:
    OnCommand(Dialog, wParam);
    return Handled;
  default:
    return 0;
  }
}

} // namespace

// A Unicode dialog: its texts come from the string table whole, whatever the ANSI code page.
int ShowLocalisedDialog(int TemplateId) {
  return static_cast<int>(::DialogBoxParamW(::GetModuleHandleW(nullptr),
                                            MAKEINTRESOURCEW(TemplateId), StatusWindow,
                                            LocalisedDialogProc, 0));
}

int ConfirmDialog(std::uint32_t QuestionId) {
  DialogStringIds = ConfirmStrings.Ids;
  DialogStringIds[IDC_MAIN_TEXT] = QuestionId;
  return ShowLocalisedDialog(ConfirmStrings.Template);
}

int PasswordDialog(bool ShowInvalidNote) {
  DialogStringIds = PasswordStrings.Ids;
  if (ShowInvalidNote)
    DialogStringIds[IDC_ERROR_LINE] = IDS_PASSWORD_INVALID;
  return ShowLocalisedDialog(PasswordStrings.Template);
}

} // namespace vexa
