#include "ui/message_boxes.h"

#include "platform/win32/ansi_path.h"
#include "platform/win32/windows.h"
#include "resources/fill_placeholder.h"
#include "resources/resource_ids.h"
#include "runtime/exceptions.h"
#include "streams/resource_stream.h"
#include "ui/expand_line_breaks.h"
#include "ui/localised_dialog.h"

namespace vexa {

namespace {

constexpr UINT QuestionBox = MB_YESNO | MB_ICONQUESTION | MB_SETFOREGROUND;

std::wstring WideResourceText(const TResourceModule& Module, const char* Name) {
  const std::u16string text = LoadResourceWideText(Module, Name);
  return std::wstring(text.begin(), text.end());
}

TMessageListener Listener = nullptr;

bool Heard(const std::wstring& Text) { return Listener && Listener(Text); }

} // namespace

void SetMessageListener(TMessageListener NewListener) { Listener = NewListener; }

void ShowInformation(const std::wstring& Text) {
  // The whole text is shown, however long the program path in it.
  const std::wstring shown = ExpandLineBreaks(Text);
  if (Heard(shown))
    return;
  ::MessageBoxW(nullptr, shown.c_str(), LoadStubString(IDS_INFORMATION).c_str(),
                MB_OK | MB_ICONINFORMATION | MB_TASKMODAL);
}

void ShowError(const wchar_t* Text) {
  if (Heard(Text))
    return;
  ::MessageBoxW(nullptr, Text, LoadStubString(IDS_ERROR).c_str(),
                MB_OK | MB_ICONHAND | MB_SETFOREGROUND);
}

void ShowError(unsigned TextId) { ShowError(LoadStubString(TextId).c_str()); }

void FolderCannotBeNamed(const wchar_t* Folder) {
  ShowError(FillPlaceholder(LoadStubString(IDS_FOLDER_UNNAMEABLE), Folder).c_str());
  throw EAbort();
}

bool AskWelcomeQuestion(const TResourceModule& Module) {
  if (const std::wstring text = WideResourceText(Module, "WelcomeTextW"); !text.empty())
    return ::MessageBoxW(nullptr, text.c_str(), WideResourceText(Module, "WelcomeTitleW").c_str(),
                         QuestionBox) != IDNO;
  const std::string text = LoadResourceText(Module, "WelcomeText");
  return text.empty() ||
         ::MessageBoxA(nullptr, text.c_str(), LoadResourceText(Module, "WelcomeTitle").c_str(),
                       QuestionBox) != IDNO;
}

bool AskExitNow() {
  return ::MessageBoxW(nullptr, LoadStubString(IDS_EXIT_QUESTION).c_str(),
                       LoadStubString(IDS_CONFIRM_TITLE).c_str(), QuestionBox) == IDYES;
}

bool AskDeleteTempFiles() {
  ::MessageBeep(MB_ICONQUESTION);
  return ConfirmDialog(IDS_DELETE_QUESTION) == IDYES;
}

std::wstring LoadStubString(unsigned Id) {
  // The usage text of the switches is the longest.
  wchar_t text[1024] = {};
  ::LoadStringW(::GetModuleHandleW(nullptr), Id, text, 1024);
  return text;
}

std::wstring LoadStubString(unsigned Id, std::string_view Path) {
  return LoadStubString(Id, std::wstring_view(win32::WideFromAnsi(Path)));
}

std::wstring LoadStubString(unsigned Id, std::wstring_view Path) {
  return FillPlaceholder(LoadStubString(Id), Path);
}

} // namespace vexa
