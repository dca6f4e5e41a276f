#pragma once
// The translations of the stub's texts that vexa ships, chosen with `pack --language`.
// Each is a texts file (resources/languages/CODE.txt) built into the tool.

#include <span>
#include <string>
#include <string_view>

namespace vexa::tool {

struct Language {
  const char* Code;       // as --language takes it: de, pt-BR
  const char* Name;       // in English and in the language itself
  unsigned CodePage;      // the Windows ANSI code page of systems set to the language
  std::string_view Texts; // the texts file, UTF-8
};

std::span<const Language> Languages();
// Nothing for a code that is not shipped; codes match without regard to case.
const Language* FindLanguage(std::string_view Code);
// One line per language: code, name, code page.
std::string LanguageList();

} // namespace vexa::tool
