#pragma once
// How the stub starts a program it waits for. CreateProcessW is the way, except for one
// refusal: a program whose manifest requires elevation fails there with
// ERROR_ELEVATION_REQUIRED when the stub runs unelevated (it asks for no rights of its
// own). Nothing is wrong with such a program; only the shell can show the consent
// prompt and start it, so the start is retried through ShellExecuteExW. Every other
// failure stays a failure.
//
// Kept free of <windows.h> so that the decision can be tested on its own: Wine never
// refuses with this error.

#include <cstdint>

namespace vexa {

inline constexpr std::uint32_t ErrorElevationRequired = 740; // ERROR_ELEVATION_REQUIRED

enum class TStartRoute {
  Started,      // CreateProcessW created the process
  ThroughShell, // retry with ShellExecuteExW and wait on the handle it returns
  NotStarted,   // report the program as not started
};

// The route after CreateProcessW returned Created with LastError (GetLastError, read
// only on failure). The shell takes a program file and its parameters apart, while a
// command line starts with the program itself, so the retry is made only for a start by
// program path alone (HasApplication, empty command line): the only kind the launching
// step makes.
constexpr TStartRoute RouteAfterCreateProcess(bool Created, std::uint32_t LastError,
                                              bool HasApplication, bool HasCommandLine) {
  if (Created)
    return TStartRoute::Started;
  if (LastError == ErrorElevationRequired && HasApplication && !HasCommandLine)
    return TStartRoute::ThroughShell;
  return TStartRoute::NotStarted;
}

} // namespace vexa
