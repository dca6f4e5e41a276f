#include "app/command_line.h"

#include <gtest/gtest.h>

namespace vexa {
namespace {

// What a parsed line holds, spelt out so that one row states the whole outcome.
std::string Describe(const TCommandLine& Line) {
  std::string text;
  const auto add = [&text](const std::string& Part) { text += (text.empty() ? "" : " ") + Part; };
  if (Line.Silent)
    add("silent");
  if (Line.Passive)
    add("passive");
  if (Line.ExtractOnly)
    add("extract");
  if (Line.Help)
    add("help");
  if (!Line.Destination.empty())
    add("dest[" + Line.Destination + "]");
  if (!Line.PasswordFile.empty())
    add("pwfile[" + Line.PasswordFile + "]");
  if (Line.HasPassword)
    add("pw[" + Line.Password + "]");
  if (!Line.LogPath.empty())
    add("log[" + Line.LogPath + "]");
  if (!Line.ProgramArguments.empty())
    add("args[" + Line.ProgramArguments + "]");
  if (!Line.Refused.empty())
    add("refused[" + Line.Refused + "]");
  return text;
}

TEST(StubCommandLineTest, ReadsEverySwitchByItsRules) {
  const struct {
    const char* Line;
    const char* Expected;
  } cases[] = {
      {"", ""},
      {"   \t ", ""},
      {"\"\" /S", "silent"},
      // Case and prefix.
      {"/S", "silent"},
      {"/s", "silent"},
      {"-S", "silent"},
      {"/PASSIVE", "passive"},
      {"-Passive /Extract", "passive extract"},
      {"/?", "help"},
      {"-HELP", "help"},
      // Values, and quotes that group them without escapes.
      {"/log=C:\\logs\\setup.log /S", "silent log[C:\\logs\\setup.log]"},
      {"\"/LOG=C:\\my logs\\a.log\" /s", "silent log[C:\\my logs\\a.log]"},
      {"/log=\"C:\\my logs\\a.log\"", "log[C:\\my logs\\a.log]"},
      {"/password-file=C:\\p.txt /passive", "passive pwfile[C:\\p.txt]"},
      {"/password=\"s3cret word\"", "pw[s3cret word]"},
      {"/Password=a=b", "pw[a=b]"},
      // /D= unquoted takes the rest of the line, spaces and all, without its quotes and
      // trailing blanks; quoted it is one switch among others.
      {"/S /D=C:\\Program Files\\Acme  ", "silent dest[C:\\Program Files\\Acme]"},
      {"/S /D=C:\\Program Files\\Acme /extract", "silent dest[C:\\Program Files\\Acme /extract]"},
      {"/S /D=\"C:\\Program Files\\Acme\\\"", "silent dest[C:\\Program Files\\Acme\\]"},
      {"-d=D:\\x", "dest[D:\\x]"},
      {"\"/D=C:\\Program Files\\Acme\" /S", "silent dest[C:\\Program Files\\Acme]"},
      {"/S /D=C:\\a -- /quiet", "silent dest[C:\\a -- /quiet]"},
      // Everything after -- goes to the program as given.
      {"/S -- /quiet \"C:\\a b\\c.ini\"  x", "silent args[/quiet \"C:\\a b\\c.ini\"  x]"},
      {"-- /S", "args[/S]"},
      {"/S --", "silent"},
      {"\"/D=C:\\a b\" -- -D=x", "dest[C:\\a b] args[-D=x]"},
      // Refused: unknown, repeated, exclusive with another, missing its value.
      {"/S /silent", "silent refused[/silent]"},
      {"/S /s", "silent refused[/s]"},
      {"/S /passive", "silent refused[/passive]"},
      {"/password=a /password-file=b", "pw[a] refused[/password-file=]"},
      {"/log=a -LOG=b", "log[a] refused[-LOG=]"},
      {"/? /help", "help refused[/help]"},
      {"/log= /S", "silent refused[/log=]"},
      {"/bogus /S /log=x /bogus", "silent log[x] refused[/bogus]"},
      {"/password=", "refused[/password=]"},
      {"/D=", "refused[/D=]"},
      {"/D=   ", "refused[/D=]"},
      {"S", "refused[S]"},
      {"/", "refused[/]"},
      {"--S", "refused[--S]"},
      {"/extract=yes", "refused[/extract=]"},
      {"/Sx", "refused[/Sx]"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Describe(ParseCommandLine(c.Line)), c.Expected) << "line: " << c.Line;
}

} // namespace
} // namespace vexa
