#include "texts/languages.h"

#include <algorithm>
#include <cstddef>

namespace vexa::tool {

// The texts files, embedded at build time (texts/CMakeLists.txt lists the same codes).
#define VEXA_LANGUAGE_TEXTS(Symbol)                                                                \
  extern const unsigned char Symbol[];                                                             \
  extern const std::size_t Symbol##Size;
VEXA_LANGUAGE_TEXTS(LanguageTexts_de)
VEXA_LANGUAGE_TEXTS(LanguageTexts_fr)
VEXA_LANGUAGE_TEXTS(LanguageTexts_es)
VEXA_LANGUAGE_TEXTS(LanguageTexts_it)
VEXA_LANGUAGE_TEXTS(LanguageTexts_pt_BR)
VEXA_LANGUAGE_TEXTS(LanguageTexts_nl)
VEXA_LANGUAGE_TEXTS(LanguageTexts_pl)
VEXA_LANGUAGE_TEXTS(LanguageTexts_cs)
VEXA_LANGUAGE_TEXTS(LanguageTexts_ru)
VEXA_LANGUAGE_TEXTS(LanguageTexts_uk)
VEXA_LANGUAGE_TEXTS(LanguageTexts_tr)
VEXA_LANGUAGE_TEXTS(LanguageTexts_ja)
VEXA_LANGUAGE_TEXTS(LanguageTexts_zh_CN)
VEXA_LANGUAGE_TEXTS(LanguageTexts_ko)
#undef VEXA_LANGUAGE_TEXTS

namespace {

#define VEXA_TEXTS(Symbol) std::string_view(reinterpret_cast<const char*>(Symbol), Symbol##Size)
const Language Shipped[] = {
    {"cs", "Czech (Čeština)", 1250, VEXA_TEXTS(LanguageTexts_cs)},
    {"de", "German (Deutsch)", 1252, VEXA_TEXTS(LanguageTexts_de)},
    {"es", "Spanish (Español)", 1252, VEXA_TEXTS(LanguageTexts_es)},
    {"fr", "French (Français)", 1252, VEXA_TEXTS(LanguageTexts_fr)},
    {"it", "Italian (Italiano)", 1252, VEXA_TEXTS(LanguageTexts_it)},
    {"ja", "Japanese (日本語)", 932, VEXA_TEXTS(LanguageTexts_ja)},
    {"ko", "Korean (한국어)", 949, VEXA_TEXTS(LanguageTexts_ko)},
    {"nl", "Dutch (Nederlands)", 1252, VEXA_TEXTS(LanguageTexts_nl)},
    {"pl", "Polish (Polski)", 1250, VEXA_TEXTS(LanguageTexts_pl)},
    {"pt-BR", "Brazilian Portuguese (Português do Brasil)", 1252, VEXA_TEXTS(LanguageTexts_pt_BR)},
    {"ru", "Russian (Русский)", 1251, VEXA_TEXTS(LanguageTexts_ru)},
    {"tr", "Turkish (Türkçe)", 1254, VEXA_TEXTS(LanguageTexts_tr)},
    {"uk", "Ukrainian (Українська)", 1251, VEXA_TEXTS(LanguageTexts_uk)},
    {"zh-CN", "Simplified Chinese (简体中文)", 936, VEXA_TEXTS(LanguageTexts_zh_CN)},
};
#undef VEXA_TEXTS

bool SameCode(std::string_view A, std::string_view B) {
  return A.size() == B.size() && std::equal(A.begin(), A.end(), B.begin(), [](char a, char b) {
           const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; };
           return lower(a) == lower(b);
         });
}

} // namespace

std::span<const Language> Languages() { return Shipped; }

const Language* FindLanguage(std::string_view Code) {
  for (const Language& language : Shipped)
    if (SameCode(language.Code, Code))
      return &language;
  return nullptr;
}

std::string LanguageList() {
  std::string list;
  for (const Language& language : Shipped) {
    std::string code = language.Code;
    code.resize(7, ' ');
    list += "  " + code + language.Name + ", code page " + std::to_string(language.CodePage) + "\n";
  }
  return list;
}

} // namespace vexa::tool
