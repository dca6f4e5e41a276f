#pragma once
// The stub's message boxes and small questions. None has an owner window.

#include <string>
#include <string_view>

#include "streams/resource_module.h"

namespace vexa {

// Every text and caption comes from the string table, in UTF-16 as it is stored there, so a
// translated table shows them in its language whatever the system's ANSI code page.

// Hears the text of every information and error box before it shows; a listener that
// answers true keeps the box unshown (nobody is at the screen to close it).
using TMessageListener = bool (*)(const std::wstring& Text);
void SetMessageListener(TMessageListener Listener);

// "Information" box, task-modal, with the whole text after ExpandLineBreaks.
void ShowInformation(const std::wstring& Text);

// "Error" box with the error icon, brought to the foreground.
void ShowError(const wchar_t* Text);
// The same with the string table's text TextId.
void ShowError(unsigned TextId);

// "Error" box naming a folder that the ANSI code page cannot spell and that has no short
// name either (the ANSI functions would see '?' in its place and write nothing); then
// leaves by EAbort.
[[noreturn]] void FolderCannotBeNamed(const wchar_t* Folder);

// The archive's welcome question, when it has one: its UTF-16 texts when the archive
// carries them, else the ones in the ANSI code page. False when it was answered No.
bool AskWelcomeQuestion(const TResourceModule& Module);

// "Do you want to exit now?"; true for Yes. A box that cannot be shown counts as No.
bool AskExitNow();

// Question tone, then the confirmation dialog with the delete question; true for Yes.
bool AskDeleteTempFiles();

// Loads a string of the stub's string table; empty when it is missing.
std::wstring LoadStubString(unsigned Id);
// The same with its %s filled in by Path, which is in the ANSI code page.
std::wstring LoadStubString(unsigned Id, std::string_view Path);
std::wstring LoadStubString(unsigned Id, std::wstring_view Path);

} // namespace vexa
