#include "texts/ansi_text.h"

#include <gtest/gtest.h>

namespace vexa::tool {
namespace {

// The single-byte code pages in which names and passwords are most often written, with the
// bytes that spell no character there.
struct SingleByteCodePage {
  unsigned CodePage;
  std::vector<unsigned char> Unused;
};
const SingleByteCodePage SingleByte[] = {
    {1252, {0x81, 0x8D, 0x8F, 0x90, 0x9D}},
    {1251, {0x98}},
};

TEST(AnsiTextTest, EveryCharacterOfACodePageGoesThereAndBack) {
  for (const SingleByteCodePage& page : SingleByte)
    for (int b = 1; b < 256; ++b) {
      const std::string ansi(1, static_cast<char>(b));
      const bool unused = std::find(page.Unused.begin(), page.Unused.end(), b) != page.Unused.end();
      if (unused) {
        EXPECT_EQ(FromAnsi(ansi, page.CodePage), "\xEF\xBF\xBD") << page.CodePage << " " << b;
        continue;
      }
      const std::optional<std::string> back = ToAnsi(FromAnsi(ansi, page.CodePage), page.CodePage);
      ASSERT_TRUE(back) << page.CodePage << " " << b;
      EXPECT_EQ(*back, ansi) << page.CodePage << " " << b;
    }
  EXPECT_EQ(ToAnsi("€ 5, café", 1252), std::string("\x80 5, caf\xE9"));
  EXPECT_EQ(ToAnsi("пароль, Ёж", 1251), std::string("\xEF\xE0\xF0\xEE\xEB\xFC, \xA8\xE6"));
  EXPECT_EQ(FromAnsi("\xE8\xEC\xFF/\xF4\xE0\xE9\xEB.txt", 1251), "имя/файл.txt");
  // Two bytes to a character: a backslash may be the second, and a lead byte alone is none.
  EXPECT_EQ(ToAnsi("ソフト", 932), std::string("\x83\x5C\x83\x74\x83\x67"));
  EXPECT_EQ(FromAnsi("\x83\x74\x83", 932), "フ\xEF\xBF\xBD");
  // 1258 holds a letter back for the accent that may follow it: the last one, and the one
  // before a byte that spells nothing, still come out.
  EXPECT_EQ(FromAnsi("Ab", 1258), "Ab");
  EXPECT_EQ(FromAnsi("a\x81" "b", 1258), "a\xEF\xBF\xBD" "b");
}

TEST(AnsiTextTest, TextOutsideTheCodePageOrNotUtf8IsRefused) {
  const std::pair<const char*, unsigned> refused[] = {
      {"日", 1252},       {"☃", 1252},      {"😀", 1252},    {"\xC3", 1252}, {"\xE9t\xE9", 1252},
      {"\xC2\x81", 1252}, {"пароль", 1252}, {"café", 1251}, {"日", 1251},   {"ї", 1250},
  };
  for (const auto& [text, page] : refused)
    EXPECT_FALSE(ToAnsi(text, page)) << text << " in " << page;
  EXPECT_EQ(CodePageName(1251), "Windows-1251");
}

TEST(AnsiTextTest, NamesAreOneFileWhenWindowsFoldsThemToTheSameUpperCase) {
  const std::pair<const char*, const char*> same[] = {
      {"setup.exe", "SETUP.EXE"},   {"é þ ÿ š œ ž", "É Þ Ÿ Š Œ Ž"},
      {"имя чё.txt", "ИМЯ ЧЁ.TXT"}, {"ґ є і ї ў ђ љ џ", "Ґ Є І Ї Ў Ђ Љ Џ"},
      {"αβγ ά ώ ς", "ΑΒΓ Ά Ώ Σ"},   {"ą ł ĺ ź ż ő", "Ą Ł Ĺ Ź Ż Ő"},
      {"ｅｘｅ ⅳ", "ＥＸＥ Ⅳ"},     {"ơ ư ạ", "Ơ Ư Ạ"},
  };
  for (const auto& [lower, upper] : same)
    EXPECT_EQ(NameKey(lower), NameKey(upper)) << lower;
  // Bytes that are a case pair in one code page are two letters in another: я (0xFF in
  // Windows-1251) is not џ (0x9F), which ÿ and Ÿ are in Windows-1252.
  const std::pair<const char*, const char*> apart[] = {
      {"я", "џ"}, {"÷", "×"}, {"ß", "SS"}, {"ĸ", "Ĺ"}, {"Ÿ", "Ź"}, {"ă", "ą"},
  };
  for (const auto& [a, b] : apart)
    EXPECT_NE(NameKey(a), NameKey(b)) << a << " " << b;
}

TEST(AnsiTextTest, NamesWindowsCannotHoldAreNamed) {
  for (const char* name :
       {"", "a:b", "a/b", "a\\b", "a?", "a*", "a|b", "a<b", "a>b", "a\"b", "tab\there", "dot.",
        "space ", "CON", "con.txt", "Nul", "COM1.log", "lpt9"})
    EXPECT_TRUE(WindowsNameProblem(name)) << name;
  for (const char* name :
       {"setup.exe", "COM10", "CONSOLE.txt", ".hidden", "caf\xE9.txt", "LPT", "файл.txt"})
    EXPECT_FALSE(WindowsNameProblem(name)) << name;
}

} // namespace
} // namespace vexa::tool
