#include "texts/archive_texts.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/code_page.h"
#include "texts/ansi_text.h"
#include "texts/languages.h"
#include "texts/string_table.h"
#include "texts/stub_texts.h"
#include "tool_base/item_checksums.h"
#include "tool_base/local_path.h"
#include "tool_base/tool_error.h"

namespace vexa::tool {

namespace {

// The code pages that Windows uses as a system's ANSI code page.
constexpr unsigned AnsiCodePages[] = {874,  932,  936,  949,  950,  1250, 1251,
                                      1252, 1253, 1254, 1255, 1256, 1257, 1258};
constexpr std::uint8_t CodePageMagic[4] = {'V', 'X', 'P', '1'};

bool IsAnsiCodePage(unsigned CodePage) {
  return std::find(std::begin(AnsiCodePages), std::end(AnsiCodePages), CodePage) !=
         std::end(AnsiCodePages);
}

std::u16string English(std::uint16_t Id) { return *Utf16FromUtf8(FindStubText(Id)->English); }

std::string ReadTextsFile(const std::string& Path) {
  std::ifstream in(PathFromUtf8(Path), std::ios::binary);
  if (!in)
    throw ToolError("--texts " + Path + ": cannot be read");
  std::ostringstream content;
  content << in.rdbuf();
  if (in.bad())
    throw ToolError("--texts " + Path + ": cannot be read");
  return content.str();
}

// Text Id as Replaced gives it, else the stub's English.
std::u16string TextOf(const TextTable& Replaced, std::uint16_t Id) {
  const auto replaced = Replaced.find(Id);
  return replaced != Replaced.end() ? replaced->second : English(Id);
}

TextTable LanguageTexts(const Language& Shipped, unsigned CodePage) {
  return ParseTexts(Shipped.Texts, std::string("language ") + Shipped.Code, CodePage);
}

} // namespace

std::string ArchiveTexts::HeaderTextSection() const {
  return BuildHeaderTextSection(
      [&](std::uint16_t Id) { return *platform::EncodeInCodePage(TextOf(Replaced, Id), CodePage); });
}

std::vector<std::uint8_t> EncodeCodePage(unsigned CodePage) {
  std::vector<std::uint8_t> out(std::begin(CodePageMagic), std::end(CodePageMagic));
  for (int i = 0; i < 4; ++i)
    out.push_back(static_cast<std::uint8_t>(CodePage >> (8 * i)));
  return out;
}

std::optional<unsigned> RecordedCodePage(const pe::PeImage& Image) {
  const pe::ResourceKey type = pe::ResourceKey::FromName(ChecksumsType);
  const pe::ResourceKey name = pe::ResourceKey::FromName(CodePageResourceName);
  for (const pe::ResourceEntry& entry : Image.Entries()) {
    const std::span<const std::uint8_t> bytes = entry.Data;
    if (entry.Type != type || entry.Name != name || bytes.size() != 8 ||
        !std::equal(std::begin(CodePageMagic), std::end(CodePageMagic), bytes.begin()))
      continue;
    const unsigned page = bytes[4] | bytes[5] << 8 | bytes[6] << 16 | unsigned{bytes[7]} << 24;
    if (IsAnsiCodePage(page))
      return page;
  }
  return std::nullopt;
}

ArchiveTexts ChooseTexts(const TextChoice& Choice) {
  const Language* language = nullptr;
  if (Choice.Language) {
    language = FindLanguage(*Choice.Language);
    if (!language) {
      std::string list = LanguageList();
      list.pop_back();
      throw UsageError("--language " + *Choice.Language + ": no such language; vexa has:\n" + list);
    }
  }
  ArchiveTexts texts;
  if (Choice.CodePage) {
    if (!IsAnsiCodePage(*Choice.CodePage)) {
      std::string known;
      for (const unsigned page : AnsiCodePages)
        known.append(" ").append(std::to_string(page));
      throw UsageError("--codepage " + std::to_string(*Choice.CodePage) +
                       ": not a Windows ANSI code page; those are" + known);
    }
    texts.CodePage = *Choice.CodePage;
  } else if (language) {
    texts.CodePage = language->CodePage;
  }
  if (!platform::EncodeInCodePage(u"", texts.CodePage))
    throw ToolError("code page " + std::to_string(texts.CodePage) +
                    " cannot be converted to on this system");
  if (language)
    texts.Replaced = LanguageTexts(*language, texts.CodePage);
  if (Choice.TextsFile)
    for (auto& [id, text] :
         ParseTexts(ReadTextsFile(*Choice.TextsFile), *Choice.TextsFile, texts.CodePage))
      texts.Replaced.insert_or_assign(id, std::move(text));
  return texts;
}

std::string DescribeTexts(const pe::PeImage& Image) {
  const TextTable strings = ReadStrings(Image);
  const auto speaks = [&](const TextTable& Replaced) {
    for (const StubText& text : StubTexts()) {
      const auto found = strings.find(text.Id);
      if (found != strings.end() && found->second != TextOf(Replaced, text.Id))
        return false;
    }
    return true;
  };
  if (speaks({}))
    return "English";
  for (const Language& language : Languages())
    if (speaks(LanguageTexts(language, language.CodePage)))
      return std::string(language.Code) + " (" + language.Name + ")";
  return "custom texts";
}

} // namespace vexa::tool
