#pragma once
// The log of a run started with /log=PATH: UTF-8 lines appended as the run goes, each after
// the local time, so that whoever deployed the archive can read what happened. Each line is
// written at once: a run that ends abruptly keeps what it had logged.

#include <initializer_list>
#include <string>
#include <string_view>

namespace vexa {

// Opens (or creates) the log; nothing is logged when Path is empty or cannot be opened. The
// last line, written at the normal process exit, is the exit code.
void OpenRunLog(const std::string& Path);

// One line, the parts one after the other, in the ANSI code page; line breaks become spaces.
void LogLine(std::initializer_list<std::string_view> Parts);
// One line of a text in UTF-16, as the string table holds the stub's messages.
void LogLine(const std::wstring& Text);

// Logs every message the stub shows; in an unattended run the boxes stay unshown and each
// of their messages makes the exit code 1.
void LogMessages(bool Unattended);

} // namespace vexa
