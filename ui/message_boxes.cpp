#include "ui/message_boxes.h"

#include "platform/win32/ansi_path.h"
#include "platform/win32/windows.h"
#include "resources/fill_placeholder.h"
#include "resources/resource_ids.h"
#include "runtime/exceptions.h"
#include "ui/expand_line_breaks.h"
#include "ui/localised_dialog.h"

namespace vexa {

namespace {

TMessageListener Listener = nullptr;

bool Heard(const std::string& Text) { return Listener && Listener(Text); }

} // namespace

void SetMessageListener(TMessageListener NewListener) { Listener = NewListener; }

void ShowInformation(const std::string& Text) {
  // The whole text is shown, however long the program path in it.
  const std::string shown = ExpandLineBreaks(Text);
  if (Heard(shown))
    return;
  ::MessageBoxA(nullptr, shown.c_str(), LoadStubString(IDS_INFORMATION).c_str(),
                MB_OK | MB_ICONINFORMATION | MB_TASKMODAL);
}

void ShowError(const char* Text) {
  if (Heard(Text))
    return;
  ::MessageBoxA(nullptr, Text, LoadStubString(IDS_ERROR).c_str(),
                MB_OK | MB_ICONHAND | MB_SETFOREGROUND);
}

void ShowError(unsigned TextId) { ShowError(LoadStubString(TextId).c_str()); }

void FolderCannotBeNamed(const wchar_t* Folder) {
  ShowError(LoadStubString(IDS_FOLDER_UNNAMEABLE, win32::ShownPath(Folder)).c_str());
  throw EAbort();
}

bool AskExitNow() {
  return ::MessageBoxA(nullptr, LoadStubString(IDS_EXIT_QUESTION).c_str(),
                       LoadStubString(IDS_CONFIRM_TITLE).c_str(),
                       MB_YESNO | MB_ICONQUESTION | MB_SETFOREGROUND) == IDYES;
}

bool AskDeleteTempFiles() {
  ::MessageBeep(MB_ICONQUESTION);
  return ConfirmDialog(IDS_DELETE_QUESTION) == IDYES;
}

std::string LoadStubString(unsigned Id) {
  char text[1024] = {};
  ::LoadStringA(::GetModuleHandleA(nullptr), Id, text, sizeof text);
  return text;
}

std::string LoadStubString(unsigned Id, std::string_view Path) {
  return FillPlaceholder(LoadStubString(Id), Path);
}

} // namespace vexa
