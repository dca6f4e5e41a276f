#pragma once
// The stub's two modal dialogs, built from templates 200 (confirmation) and 400
// (password) and filled from the string table through DialogStringIds, so translating
// the string table localises them without touching the templates. Each dialog sizes its
// controls to the texts it was given, so no translation is cut.

#include <cstdint>

#include "ui/dialog_strings.h"

namespace vexa {

// The shown dialog's strings (ui/dialog_strings.h), which its entry point chose.
extern DialogStringTable DialogStringIds;

// What the password field held when OK was last pressed: at most 127 characters and
// a NUL (the field is limited to 127).
extern char PasswordBuffer[128];

// Runs a template modally, owned by the status window: the id that ended it, or -1.
int ShowLocalisedDialog(int TemplateId);

// 6 Yes, 7 No, 2 Esc or close box, -1 when it cannot be shown.
int ConfirmDialog(std::uint32_t QuestionId);

// 1 when a password passed the check, 2 Cancel/Esc/close box, -1 when it cannot be shown.
int PasswordDialog(bool ShowInvalidNote);

} // namespace vexa
