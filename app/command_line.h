#pragma once
// The stub's command line, for installs that nobody watches. Switches are case-insensitive,
// start with '/' or '-', and each may be given once. Double quotes group a switch with
// spaces in it and have no escapes (a folder often ends in a backslash). Two switches take
// the rest of the line as it was given: an unquoted /D=, whose path may hold spaces (the
// convention deployment tools already follow, so it comes last), and --, after which
// everything goes to the started program.
//
// Portable, so that the unit tests hold the rules.

#include <string>
#include <string_view>

namespace vexa {

struct TCommandLine {
  bool Silent = false;  // /S: no window at all
  bool Passive = false; // /passive: no questions, the status window shows
  bool ExtractOnly = false;
  bool Help = false; // /? or /help
  std::string Destination;
  std::string PasswordFile;
  std::string Password;
  bool HasPassword = false; // /password= was given (an empty one is refused)
  std::string LogPath;
  std::string ProgramArguments; // after --, as given
  // The first switch that was unknown, repeated, without its value or at odds with another
  // one, as it was written up to its '='; empty when the line is accepted. The switches
  // around it are read all the same. An empty argument ("") is no switch and is passed over.
  std::string Refused;

  // Nobody answers: questions take their unattended answers, messages go to the log.
  bool Unattended() const { return Silent || Passive; }
};

// Arguments: the command line after the program's own name.
TCommandLine ParseCommandLine(std::string_view Arguments);

} // namespace vexa
