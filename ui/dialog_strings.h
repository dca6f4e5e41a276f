#pragma once
// Which string of the string table fills which text of the stub's dialogs. A dialog's
// table is indexed by control id, entry 0 being the title; 0 leaves the template's text,
// so a template's texts are placeholders exactly where its table names a string. Portable,
// so that the tests hold every dialog template of the built stub against these tables.

#include <array>
#include <cstddef>
#include <cstdint>

#include "resources/resource_ids.h"

namespace vexa {

inline constexpr std::size_t DialogControlSlots = 15;
using DialogStringTable = std::array<std::uint32_t, DialogControlSlots>;

struct DialogStrings {
  int Template;
  DialogStringTable Ids;
};

// The question is the caller's; the delete question is the one the stub asks.
inline constexpr DialogStrings ConfirmStrings = {
    IDD_CONFIRM, {IDS_CONFIRM_TITLE, 0, 0, 0, 0, 0, IDS_YES, IDS_NO, 0, 0, IDS_DELETE_QUESTION}};

// The error line starts empty; a refused password puts IDS_PASSWORD_INVALID there.
inline constexpr DialogStrings PasswordStrings = {IDD_PASSWORD,
                                                  {IDS_PASSWORD_TITLE, IDS_OK, IDS_CANCEL, 0, 0, 0,
                                                   0, 0, 0, 0, IDS_PASSWORD_PROMPT, 0, 0, 0,
                                                   IDS_ENCRYPTED_NOTE}};

inline constexpr DialogStrings LocalisedDialogs[] = {ConfirmStrings, PasswordStrings};

} // namespace vexa
