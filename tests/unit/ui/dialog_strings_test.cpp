#include "ui/dialog_strings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "pe/byte_order.h"
#include "pe/pe_image.h"
#include "pe/resource.h"
#include "platform/mapped_file.h"
#include "texts/string_table.h"
#include "texts/stub_texts.h"

namespace vexa {
namespace {

constexpr std::uint32_t DsSetFont = 0x40;
constexpr std::uint32_t SsTypeMask = 0x1F;
constexpr std::uint32_t SsIcon = 0x03;
constexpr std::uint16_t StaticClass = 0x0082;

// What a dialog template shows before its procedure runs: the caption and each control's
// text, or none for a control whose text names a resource (an icon).
struct TemplateText {
  unsigned Control; // 0: the caption
  std::optional<std::u16string> Text;
};

// Reads a dialog template, classic or extended, walking it as the system does.
class TemplateReader {
public:
  explicit TemplateReader(std::span<const std::uint8_t> Bytes) : Data(Bytes) {}

  std::vector<TemplateText> Texts() {
    const bool extended = Word(0) == 1 && Word(2) == 0xFFFF;
    At = extended ? 8 : 0;
    const std::uint32_t style = Dword(extended ? At + 4 : At);
    At += 8;
    const unsigned count = Word(At);
    At += 2 + 8;
    NameOrOrdinal(); // menu
    NameOrOrdinal(); // class
    std::vector<TemplateText> texts = {{0, String()}};
    if (style & DsSetFont) {
      At += extended ? 6 : 2;
      String();
    }
    for (unsigned i = 0; i < count; ++i) {
      At = (At + 3) & ~std::size_t{3};
      const std::uint32_t itemStyle = Dword(extended ? At + 8 : At);
      At += extended ? 20 : 16;
      const unsigned id = extended ? Dword(At) : Word(At);
      At += extended ? 4 : 2;
      const bool isStatic = ReadClassIsStatic();
      std::optional<std::u16string> text = NameOrOrdinal();
      if (isStatic && (itemStyle & SsTypeMask) == SsIcon)
        text.reset();
      At += 2 + Word(At);
      texts.push_back({id, text});
    }
    return texts;
  }

private:
  std::uint16_t Word(std::size_t Offset) const { return pe::detail::U16(Data, Offset, "template"); }
  std::uint32_t Dword(std::size_t Offset) const {
    return pe::detail::U32(Data, Offset, "template");
  }

  std::u16string String() {
    std::u16string text;
    for (std::uint16_t c; (c = Word(At)) != 0; At += 2)
      text.push_back(static_cast<char16_t>(c));
    At += 2;
    return text;
  }
  // A resource or class named by ordinal is no text.
  std::optional<std::u16string> NameOrOrdinal() {
    if (Word(At) == 0xFFFF) {
      At += 4;
      return std::nullopt;
    }
    return String();
  }
  bool ReadClassIsStatic() {
    if (Word(At) == 0xFFFF) {
      At += 4;
      return Word(At - 2) == StaticClass;
    }
    std::u16string name = String();
    for (char16_t& c : name)
      c = (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
    return name == u"static";
  }

  std::span<const std::uint8_t> Data;
  std::size_t At = 0;
};

std::string Utf8(const std::u16string& Text) { return std::string(Text.begin(), Text.end()); }

// Every text that a dialog of the built stub shows must come from the string table through
// the dialog's table, or English would stay in a translated archive.
TEST(DialogStringsTest, EveryTextOfEveryDialogOfTheStubComesFromTheStringTable) {
#ifndef VEXA_STUB_IMAGE
  GTEST_SKIP() << "configure with -DVEXA_WIN32_BUILD_DIR to test against the stub";
#else
  ASSERT_TRUE(std::filesystem::exists(VEXA_STUB_IMAGE)) << VEXA_STUB_IMAGE << " not built";
  platform::MappedFile file;
  ASSERT_EQ(file.Open(VEXA_STUB_IMAGE), "");
  const pe::PeImage image = pe::PeImage::Parse(file.Bytes());
  const tool::TextTable strings = tool::ReadStrings(image);

  std::vector<int> templates;
  for (const pe::ResourceEntry& entry : image.Entries()) {
    if (entry.Type != pe::ResourceKey::FromId(pe::RtDialog))
      continue;
    const int id = entry.Name.Id;
    SCOPED_TRACE("dialog " + entry.Name.ToString());
    templates.push_back(id);
    const auto dialog = std::find_if(std::begin(LocalisedDialogs), std::end(LocalisedDialogs),
                                     [&](const DialogStrings& d) { return d.Template == id; });
    ASSERT_NE(dialog, std::end(LocalisedDialogs)) << "no table fills this template";

    std::vector<unsigned> controls;
    for (const TemplateText& shown : TemplateReader(entry.Data).Texts()) {
      controls.push_back(shown.Control);
      if (!shown.Text || shown.Text->empty())
        continue;
      EXPECT_TRUE(shown.Control < DialogControlSlots && dialog->Ids[shown.Control] != 0)
          << "control " << shown.Control << " shows \"" << Utf8(*shown.Text)
          << "\", which no string replaces";
    }
    for (unsigned control = 0; control < DialogControlSlots; ++control) {
      const std::uint32_t string = dialog->Ids[control];
      if (string == 0)
        continue;
      EXPECT_TRUE(std::ranges::find(controls, control) != controls.end())
          << "string " << string << " is for control " << control << ", which the template lacks";
      EXPECT_TRUE(strings.contains(static_cast<std::uint16_t>(string)))
          << "the stub's string table has no string " << string;
      EXPECT_NE(tool::FindStubText(string), nullptr)
          << "string " << string << " cannot be translated: the tool does not know it";
    }
  }
  for (const DialogStrings& dialog : LocalisedDialogs)
    EXPECT_TRUE(std::ranges::find(templates, dialog.Template) != templates.end())
        << "the stub has no dialog " << dialog.Template;
#endif
}

} // namespace
} // namespace vexa
