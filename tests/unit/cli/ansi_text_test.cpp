#include "cli/ansi_text.h"

#include <gtest/gtest.h>

namespace vexa::tool {
namespace {

constexpr unsigned char Unused1252[] = {0x81, 0x8D, 0x8F, 0x90, 0x9D};

bool IsUnused(unsigned char Byte) {
  return std::find(std::begin(Unused1252), std::end(Unused1252), Byte) != std::end(Unused1252);
}

TEST(AnsiTextTest, EveryWindows1252CharacterGoesThereAndBack) {
  for (int b = 1; b < 256; ++b) {
    const std::string ansi(1, static_cast<char>(b));
    if (IsUnused(static_cast<unsigned char>(b))) {
      EXPECT_EQ(FromAnsi(ansi), "\xEF\xBF\xBD") << b;
      continue;
    }
    const std::optional<std::string> back = ToAnsi(FromAnsi(ansi));
    ASSERT_TRUE(back) << b;
    EXPECT_EQ(*back, ansi) << b;
  }
  EXPECT_EQ(ToAnsi("\xE2\x82\xAC 5, caf\xC3\xA9"), std::string("\x80 5, caf\xE9"));
}

TEST(AnsiTextTest, TextOutsideTheCodePageOrNotUtf8IsRefused) {
  for (const char* text :
       {"\xE6\x97\xA5", "\xE2\x98\x83", "\xF0\x9F\x98\x80", "\xC3", "\xE9t\xE9", "\xC2\x81"})
    EXPECT_FALSE(ToAnsi(text)) << text;
}

TEST(AnsiTextTest, UpperCaseFollowsWindows1252) {
  EXPECT_EQ(AnsiUpper("setup.exe"), "SETUP.EXE");
  EXPECT_EQ(AnsiUpper("\xE9\xFE\xF7\x9A\x9C\x9E\xFF\xDF"), "\xC9\xDE\xF7\x8A\x8C\x8E\x9F\xDF");
}

TEST(AnsiTextTest, NamesWindowsCannotHoldAreNamed) {
  for (const char* name :
       {"", "a:b", "a/b", "a\\b", "a?", "a*", "a|b", "a<b", "a>b", "a\"b", "tab\there", "dot.",
        "space ", "CON", "con.txt", "Nul", "COM1.log", "lpt9"})
    EXPECT_TRUE(WindowsNameProblem(name)) << name;
  for (const char* name : {"setup.exe", "COM10", "CONSOLE.txt", ".hidden", "caf\xE9.txt", "LPT"})
    EXPECT_FALSE(WindowsNameProblem(name)) << name;
}

} // namespace
} // namespace vexa::tool
