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

// The password in the archive's code page, CodePage, the one in which the extractor's
// password field takes what users type; nothing when none was asked for. Raises ToolError
// when a source cannot be read, nothing can be prompted for, or the password is unusable
// (empty, over 127 bytes, a NUL byte, a character outside CodePage). Confirm asks twice at
// a prompt (for packing).
std::optional<std::string> ObtainPassword(const PasswordOptions& Options, bool Confirm,
                                          unsigned CodePage);

} // namespace vexa::tool
