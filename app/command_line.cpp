#include "app/command_line.h"

#include <cstdint>

namespace vexa {

namespace {

bool IsBlank(char C) { return C == ' ' || C == '\t'; }

char Lower(char C) { return C >= 'A' && C <= 'Z' ? static_cast<char>(C - 'A' + 'a') : C; }

bool StartsWithLetters(std::string_view Text, std::string_view Prefix) {
  if (Text.size() < Prefix.size())
    return false;
  for (std::size_t i = 0; i < Prefix.size(); ++i)
    if (Lower(Text[i]) != Prefix[i])
      return false;
  return true;
}

// Switches that exclude each other share a slot: giving both counts as giving one twice.
enum TSlot : std::uint8_t { Mode, Destination, Password, Extract, Log, Help, SlotCount };

struct TSwitch {
  std::string_view Name; // lower case; a trailing '=' takes a value
  TSlot Slot;
  void (*Apply)(TCommandLine& Line, std::string_view Value);
};

constexpr TSwitch Switches[] = {
    {"s", Mode, [](TCommandLine& L, std::string_view) { L.Silent = true; }},
    {"passive", Mode, [](TCommandLine& L, std::string_view) { L.Passive = true; }},
    {"d=", Destination, [](TCommandLine& L, std::string_view V) { L.Destination = V; }},
    {"password-file=", Password, [](TCommandLine& L, std::string_view V) { L.PasswordFile = V; }},
    {"password=", Password,
     [](TCommandLine& L, std::string_view V) {
       L.Password = V;
       L.HasPassword = true;
     }},
    {"extract", Extract, [](TCommandLine& L, std::string_view) { L.ExtractOnly = true; }},
    {"log=", Log, [](TCommandLine& L, std::string_view V) { L.LogPath = V; }},
    {"?", Help, [](TCommandLine& L, std::string_view) { L.Help = true; }},
    {"help", Help, [](TCommandLine& L, std::string_view) { L.Help = true; }},
};

// False for a switch that is unknown, has no value where it needs one, or fills a slot that
// is taken.
bool ApplySwitch(TCommandLine& Line, std::string_view Token, bool (&Taken)[SlotCount]) {
  if (Token.size() < 2 || (Token[0] != '/' && Token[0] != '-'))
    return false;
  const std::string_view name = Token.substr(1);
  for (const TSwitch& known : Switches) {
    const bool takesValue = known.Name.back() == '=';
    const bool matches =
        takesValue ? name.size() > known.Name.size() && StartsWithLetters(name, known.Name)
                   : name.size() == known.Name.size() && StartsWithLetters(name, known.Name);
    if (!matches)
      continue;
    if (Taken[known.Slot])
      return false;
    Taken[known.Slot] = true;
    known.Apply(Line, name.substr(takesValue ? known.Name.size() : name.size()));
    return true;
  }
  return false;
}

bool IsDestinationSwitch(std::string_view Rest) {
  return Rest.size() > 3 && (Rest[0] == '/' || Rest[0] == '-') &&
         StartsWithLetters(Rest.substr(1), "d=");
}

} // namespace

TCommandLine ParseCommandLine(std::string_view Arguments) {
  TCommandLine line;
  bool taken[SlotCount] = {};
  std::size_t at = 0;
  for (;;) {
    while (at < Arguments.size() && IsBlank(Arguments[at]))
      ++at;
    if (at == Arguments.size())
      break;
    const std::string_view rest = Arguments.substr(at);
    if (rest == "--" || (rest.starts_with("--") && IsBlank(rest[2]))) {
      const std::size_t first = rest.find_first_not_of(" \t", 2);
      if (first != std::string_view::npos)
        line.ProgramArguments = rest.substr(first);
      break;
    }
    std::string token;
    if (IsDestinationSwitch(rest)) {
      // The rest of the line: a path needs no quotes, and a path can hold none.
      for (const char c : rest.substr(0, rest.find_last_not_of(" \t") + 1))
        if (c != '"')
          token += c;
      at = Arguments.size();
    } else {
      bool quoted = false;
      for (; at < Arguments.size() && (quoted || !IsBlank(Arguments[at])); ++at) {
        if (Arguments[at] == '"')
          quoted = !quoted;
        else
          token += Arguments[at];
      }
    }
    // The rest is still read: a /S or /log= after the refused switch decides how the
    // refusal is told. Up to its '=': the value may be a password.
    if (token.empty() || ApplySwitch(line, token, taken) || !line.Refused.empty())
      continue;
    const std::size_t equals = token.find('=');
    line.Refused = equals == std::string::npos ? token : token.substr(0, equals + 1);
  }
  return line;
}

} // namespace vexa
