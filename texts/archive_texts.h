#pragma once
// The language an archive speaks: the stub's English texts, a shipped translation, or the
// author's own texts over either, all written for one ANSI code page. The same code page
// serves the archive's other 8-bit texts (the header's text lines, the welcome question,
// the paths, the item names, the password), since the stub reads them all as text of the
// user's code page.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "pe/pe_image.h"
#include "texts/texts_file.h"

namespace vexa::tool {

struct TextChoice {
  std::optional<std::string> Language;  // a shipped language's code
  std::optional<std::string> TextsFile; // the author's texts file (UTF-8 name)
  std::optional<unsigned> CodePage;     // default: the language's, else 1252
};

struct ArchiveTexts {
  unsigned CodePage = 1252;
  TextTable Replaced; // empty: the stub's string table stays as it is

  // The header's text lines in CodePage.
  std::string HeaderTextSection() const;
};

// The texts file's own ids override the language's. Raises UsageError for an unknown
// language (listing the shipped ones) or a code page that is not a Windows ANSI one, and
// ToolError for a texts file that cannot be read or used.
ArchiveTexts ChooseTexts(const TextChoice& Choice);

// The archive's 8-bit texts carry no word of their code page, so the packer records it for
// the tool that reads the archive later, in a resource of its own type beside the item
// checksums ("VEXA" / "CODEPAGE"); the stub never reads it.
inline constexpr char CodePageResourceName[] = "CODEPAGE";
std::vector<std::uint8_t> EncodeCodePage(unsigned CodePage);
// The code page Image records; nothing when it records none (an archive from another
// builder, or from a vexa that did not record it) or one that is not a Windows ANSI one.
std::optional<unsigned> RecordedCodePage(const pe::PeImage& Image);

// What `vexa list` says of an image's string table: "English", a shipped language such as
// "de (German (Deutsch))", or "custom texts". Ids that the image lacks are not compared,
// so an archive from a stub with fewer texts is still recognised.
std::string DescribeTexts(const pe::PeImage& Image);

} // namespace vexa::tool
