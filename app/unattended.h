#pragma once
// What the command line answers in place of a person: the usage box and the refusal of a
// command line, the password of an encrypted archive and the /D= folder.

#include <cstdint>
#include <optional>
#include <string>

#include "app/command_line.h"

namespace vexa {

// The run's switches, read once at the start.
extern TCommandLine Switches;

// The switches and exit codes, in the archive's language.
void ShowUsage();

// Refuses the command line: Reason goes to the log and, unless the run is silent, into the
// usage box above the switches; the exit code becomes 2.
void RefuseCommandLine(const std::wstring& Reason);

// The password that /password-file= or /password= gives, once the archive has accepted it.
// Nothing after saying why: none given or the file unreadable (exit code 2), or refused by
// the archive (3).
std::optional<std::string> PasswordFromSwitches(const std::uint8_t* PasswordCheck);

// The /D= folder as a full path, made with the parents it lacks; empty after saying why it
// cannot be.
std::string MakeDestination();

// Removes the folders that MakeDestination made, innermost first, each only when empty.
void RemoveMadeFolders();

} // namespace vexa
