#include "texts/texts_file.h"

#include <gtest/gtest.h>

#include "texts/ansi_text.h"
#include "texts/languages.h"
#include "texts/stub_texts.h"
#include "tool_base/tool_error.h"

namespace vexa::tool {
namespace {

std::u16string Wide(const std::string& Utf8) { return *Utf16FromUtf8(Utf8); }

std::string Repeated(const std::string& Text, std::size_t Times) {
  std::string out;
  while (Times-- > 0)
    out += Text;
  return out;
}

TEST(TextsFileTest, ReadsIdsTextsLineBreaksAndSkipsCommentsAndBlankLines) {
  const TextTable texts = ParseTexts("\xEF\xBB\xBF# a comment\r\n"
                                     "\n"
                                     "2009=&Ja\r\n"
                                     "2025=Kann %s nicht starten.\\nBitte von Hand.\n"
                                     "2003=a = b",
                                     "t.txt", 1252);
  EXPECT_EQ(texts, (TextTable{{2003, u"a = b"},
                              {2009, u"&Ja"},
                              {2025, u"Kann %s nicht starten.\r\nBitte von Hand."}}));
  EXPECT_EQ(ParseTexts("2013=Ошибка", "t", 1251).at(2013), u"Ошибка");
}

TEST(TextsFileTest, RefusesWhatTheStubWouldShowWronglyNamingTheLine) {
  struct Case {
    std::string Line;
    unsigned CodePage;
    const char* Expected;
  } cases[] = {
      {"Hello", 1252, "t.txt:2: expected ID=text"},
      {"20x9=Ja", 1252, "t.txt:2: expected ID=text"},
      {"1999=Hallo", 1252, "t.txt:2: the stub has no text 1999 (it has 2000 to 2032)"},
      {"2010=", 1252, "t.txt:2: the text is empty"},
      {"2009=&Ja", 1252, "t.txt:2: 2009 is given twice"},
      {"2005=Löschen?\\nJa", 1252, "t.txt:2: text 2005 is one line"},
      {"2005=Tab\there", 1252, "control character"},
      {"2025=Nicht gestartet.", 1252, "t.txt:2: the %s is missing"},
      {"2025=%s und %s", 1252, "t.txt:2: only one %s"},
      {"2013=Fehler in %s", 1252, "t.txt:2: text 2013 has no %s"},
      {"2013=Błąd", 1252, "t.txt:2: code page 1252 has no place for the character U+0142"},
      {"2013=エラー", 1251, "code page 1251 has no place for the character U+30A8"},
      {"2013=\xFF", 1252, "not valid UTF-8"},
      // 255 bytes fit the dialogs' 256-byte buffer; 254 the status window's 255.
      {"2000=" + std::string(255, 'x'), 1252,
       "t.txt:2: the text is 255 bytes in code page 1252; the stub reads at most 254"},
      // Two bytes a character in Japanese: 128 characters are 256 bytes.
      {"2011=" + Repeated("あ", 128), 932,
       "t.txt:2: the text is 256 bytes in code page 932; the stub reads at most 255"},
  };
  for (const Case& c : cases) {
    try {
      ParseTexts("2009=&Ja\n" + c.Line + "\n", "t.txt", c.CodePage);
      ADD_FAILURE() << "accepted: " << c.Line;
    } catch (const ToolError& e) {
      EXPECT_NE(std::string(e.what()).find(c.Expected), std::string::npos)
          << e.what() << "\nexpected: " << c.Expected;
    }
  }
  // The limits are the stub's: exactly at them passes.
  EXPECT_NO_THROW(ParseTexts("2000=" + std::string(254, 'x'), "t", 1252));
  EXPECT_NO_THROW(ParseTexts("2003=" + std::string(259, 'x'), "t", 1252));
  EXPECT_NO_THROW(ParseTexts("2011=" + Repeated("あ", 127), "t", 932));
}

TEST(TextsFileTest, EveryShippedLanguageTranslatesEveryTextWithinTheStubsLimits) {
  for (const Language& language : Languages()) {
    SCOPED_TRACE(language.Code);
    const TextTable texts = ParseTexts(language.Texts, language.Code, language.CodePage);
    EXPECT_EQ(texts.size(), StubTexts().size());
    // The buttons keep an access key, and not the English one by accident of copying.
    EXPECT_NE(texts.at(2009).find(u'&'), std::u16string::npos);
    EXPECT_NE(texts.at(2010).find(u'&'), std::u16string::npos);
    EXPECT_NE(texts.at(2005), Wide(FindStubText(2005)->English));
  }
}

} // namespace
} // namespace vexa::tool
