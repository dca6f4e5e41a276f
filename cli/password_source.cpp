#include "cli/password_source.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>

#include "crypto/password_check.h"
#include "texts/ansi_text.h"
#include "tool_base/local_path.h"
#include "tool_base/tool_error.h"

#ifdef _WIN32
#include <conio.h>
#include <io.h>
#else
#include <termios.h>
#include <unistd.h>
#endif

namespace vexa::tool {

namespace {

std::string ReadPasswordFile(const std::string& Path) {
  std::ifstream in(SystemPath(PathFromUtf8(Path)), std::ios::binary);
  if (!in)
    throw ToolError("cannot read the password file " + Path);
  // The first line is the password; its line ending is the file's.
  std::string password;
  std::getline(in, password);
  if (!password.empty() && password.back() == '\r')
    password.pop_back();
  return password;
}

bool StdinIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stdin));
#else
  return ::isatty(STDIN_FILENO);
#endif
}

std::string PromptHidden(const char* Prompt) {
  std::cerr << Prompt << std::flush;
  std::string line;
#ifdef _WIN32
  std::wstring typed;
  for (wint_t c = _getwch(); c != L'\r' && c != L'\n'; c = _getwch()) {
    if (c == L'\b') {
      if (!typed.empty())
        typed.pop_back();
    } else {
      typed.push_back(static_cast<wchar_t>(c));
    }
  }
  line = Utf8FromWide(typed);
#else
  termios saved{};
  ::tcgetattr(STDIN_FILENO, &saved);
  termios quiet = saved;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  ::tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
  std::getline(std::cin, line);
  ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
#endif
  std::cerr << '\n';
  return line;
}

std::optional<std::string> PasswordVariable() {
#ifdef _WIN32
  const wchar_t* value = _wgetenv(L"VEXA_PASSWORD");
  return value ? std::optional(Utf8FromWide(value)) : std::nullopt;
#else
  const char* value = std::getenv("VEXA_PASSWORD");
  return value ? std::optional<std::string>(value) : std::nullopt;
#endif
}

std::string Prompt(bool Confirm) {
  if (!StdinIsTerminal())
    throw ToolError("a password is needed: give --password-file FILE or set VEXA_PASSWORD "
                    "(there is no terminal to ask on)");
  std::string password = PromptHidden("Password: ");
  if (Confirm && PromptHidden("Password again: ") != password)
    throw ToolError("the two passwords differ");
  return password;
}

} // namespace

std::optional<std::string> ObtainPassword(const PasswordOptions& Options, bool Confirm,
                                          unsigned CodePage) {
  std::string password;
  if (!Options.File.empty())
    password = ReadPasswordFile(Options.File);
  else if (Options.Text)
    password = *Options.Text;
  else if (const std::optional<std::string> env = PasswordVariable(); env && Options.Wanted)
    password = *env;
  else if (Options.Wanted)
    password = Prompt(Confirm);
  else
    return std::nullopt;

  const std::optional<std::string> ansi = ToAnsi(password, CodePage);
  if (!ansi)
    throw ToolError("the password holds a character outside the " + CodePageName(CodePage) +
                    " code page, which users could not type into the extractor's password field");
  if (const char* problem = PasswordProblem(*ansi))
    throw ToolError(problem);
  return ansi;
}

} // namespace vexa::tool
