#include "ui/password_prompt.h"

#include <cstring>

#include "crypto/password_check.h"
#include "platform/win32/windows.h"
#include "ui/localised_dialog.h"

namespace vexa {

bool AskPassword(const std::uint8_t* PasswordCheck) {
  std::memcpy(CheckBlockSlot.data(), PasswordCheck, CheckBlockSlot.size());
  return PasswordDialog(false) == 1;
}

bool CheckPassword(const char* Typed) {
  const bool accepted = vexa::CheckPassword(CheckBlockSlot.data(), Typed);
  if (!accepted)
    ::MessageBeep(1);
  return accepted;
}

} // namespace vexa
