#pragma once
// Asking for an encrypted archive's password. The dialog's OK runs CheckPassword until
// the typed text passes, so a true AskPassword means PasswordBuffer holds the password.

#include <cstdint>

namespace vexa {

// Keeps a copy of the header's 128-byte check block and shows the password dialog.
// False when the user gave up (or the dialog could not be shown).
bool AskPassword(const std::uint8_t* PasswordCheck);

// The dialog's check of the typed text against the kept check block; beeps when the
// text is refused.
bool CheckPassword(const char* Typed);

} // namespace vexa
