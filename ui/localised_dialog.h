#pragma once
// The stub's two modal dialogs, built from templates 200 (confirmation) and 400
// (password) and filled from the string table through DialogStringIds, so translating
// the string table localises them without touching the templates.

#include <cstdint>

namespace vexa {

// String ids by control id; entry 0 is the dialog title, 0 keeps the template text.
extern std::uint32_t DialogStringIds[14];

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
