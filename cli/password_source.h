#pragma once
// Where an archive's password comes from, in order of preference: a file, the
// VEXA_PASSWORD environment variable, or a prompt on the terminal. A password on the
// command line is accepted but shows up in process listings and shell history.

#include <optional>
#include <string>

namespace vexa::tool {

struct PasswordOptions {
  std::string File;                // --password-file
  std::optional<std::string> Text; // --password
  bool Wanted = false;             // the command needs a password (e.g. --encrypt)
};

// The password in the archive's code page, or nothing when none was asked for. Raises
// ToolError when a source cannot be read, nothing can be prompted for, or the password
// is unusable (empty, over 127 bytes, a NUL byte, a character outside the code page).
// Confirm asks twice at a prompt (for packing).
std::optional<std::string> ObtainPassword(const PasswordOptions& Options, bool Confirm);

} // namespace vexa::tool
