#pragma once
// The texts of the stub's string table that an archive may carry in another language:
// their ids, English defaults, and what the stub does with each, which decides what a
// replacement may hold.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace vexa::tool {

struct StubText {
  std::uint16_t Id;
  const char* English;
  // Size of the buffer the stub loads the text into, its NUL included: a longer text
  // would be cut where the buffer ends.
  std::size_t Buffer;
  // Shown in a message box, which breaks lines; every other text is one line, and the
  // header's text section (ids 2000-2017) counts a line break as the end of a text.
  bool Multiline;
};

// In id order.
std::span<const StubText> StubTexts();
const StubText* FindStubText(unsigned Id);

// The text lines of the archive header: 2000-2016 with 2017, the exit question, after
// 2005 (the order the stub's archives have always had), each in the archive's code page.
// TextOf gives the text of an id in that code page.
template <typename TextOfId> std::string BuildHeaderTextSection(TextOfId TextOf) {
  static constexpr std::uint16_t order[] = {2000, 2001, 2002, 2003, 2004, 2005, 2017, 2006, 2007,
                                            2008, 2009, 2010, 2011, 2012, 2013, 2014, 2015, 2016};
  std::string section;
  for (const std::uint16_t id : order)
    section.append(TextOf(id)).append("\r\n");
  section.push_back('\0');
  return section;
}

} // namespace vexa::tool
