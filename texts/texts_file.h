#pragma once
// Texts for the stub's string table as an author (or a shipped translation) writes them:
// UTF-8, one `ID=text` per line, where \n stands for a line break; blank lines and lines
// that begin with # are skipped. Every text is checked against what the stub does with
// it, in the code page the archive is written for, so a text that the stub would cut,
// fill wrongly or show as question marks is refused here.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace vexa::tool {

// Texts by string id, in UTF-16 as the image's string table holds them.
using TextTable = std::map<std::uint16_t, std::u16string>;

// Raises ToolError "Source:LINE: why" for the first line that cannot be used: an unknown
// id, an id given twice, an empty text, a %s missing or added, a line break where the stub
// shows one line, a character CodePage cannot hold, or a text longer than the stub's
// buffer for it once in CodePage.
TextTable ParseTexts(std::string_view Content, const std::string& Source, unsigned CodePage);

} // namespace vexa::tool
