#include "archive/vexa_header.h"

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "packer/header_builder.h"
#include "resources/resource_ids.h"
#include "support/memory_resource_module.h"

namespace vexa {
namespace {

using tool::BuildHeaderResource;
using tool::HeaderFields;
using tool::ItemRecordFields;

std::vector<unsigned> Reported;
void Record(unsigned TextId) { Reported.push_back(TextId); }

class HeaderTest : public ::testing::Test {
protected:
  void SetUp() override { Reported.clear(); }

  bool Load(const std::vector<std::uint8_t>& Bytes) {
    Module.Add("HEADER", Bytes);
    return Header.LoadFromResource(Module, "Header", Record);
  }

  test::MemoryResourceModule Module;
  TVexaHeader Header;
};

TEST_F(HeaderTest, EmptyArchiveLoadsWithTheTextSectionRightAfterTheBlock) {
  HeaderFields fields;
  fields.Flags = hfTempFolder;
  ASSERT_TRUE(Load(BuildHeaderResource(fields, {})));
  EXPECT_TRUE(Header.Items.empty());
  EXPECT_EQ(Header.Flags(), hfTempFolder);
  ASSERT_EQ(Header.Texts.size(), 18u);
  EXPECT_EQ(Header.Texts[0], "Extracting Files");
  EXPECT_EQ(Header.Texts[6], "Do you want to exit now?");
  EXPECT_EQ(Header.Texts[17], "I/O error occurrs. Check the destination disk is not write protected.");
  EXPECT_EQ(Module.Outstanding(), 0);
}

TEST_F(HeaderTest, FieldsAtTheirFullWidthAreReadWhole) {
  HeaderFields fields;
  fields.DestinationPath = std::string(256, 'D');
  fields.ProgramPath = std::string(255, 'P');
  ItemRecordFields item;
  item.FileName = std::string(32, 'n');
  item.Method = imLzma2;
  item.OriginalSize = 0xFFFFFFFF;
  item.StoredSize = 12345;
  item.FileTime = 46000.5;
  ASSERT_TRUE(Load(BuildHeaderResource(fields, {item})));
  EXPECT_EQ(Header.DestinationPath(), std::string(256, 'D'));
  EXPECT_EQ(Header.ProgramPath(), std::string(255, 'P'));
  ASSERT_EQ(Header.Items.size(), 1u);
  EXPECT_EQ(FileName(*Header.Items[0]), std::string(32, 'n'));
  EXPECT_EQ(Compressed(*Header.Items[0]), imLzma2);
  EXPECT_EQ(OriginalSize(*Header.Items[0]), 0xFFFFFFFFu);
  EXPECT_EQ(StoredSize(*Header.Items[0]), 12345u);
  EXPECT_EQ(FileTime(*Header.Items[0]), 46000.5);
}

TEST_F(HeaderTest, SecondLoadReplacesTheFirst) {
  std::vector<ItemRecordFields> three(3);
  three[0].FileName = "a";
  three[1].FileName = "b";
  three[2].FileName = "c";
  Module.Add("FIRST", BuildHeaderResource({}, three));
  Module.Add("SECOND", BuildHeaderResource({}, {three[1]}));
  ASSERT_TRUE(Header.LoadFromResource(Module, "First", Record));
  ASSERT_TRUE(Header.LoadFromResource(Module, "second", Record));
  ASSERT_EQ(Header.Items.size(), 1u);
  EXPECT_EQ(FileName(*Header.Items[0]), "b");
  EXPECT_EQ(Header.Texts.size(), 18u);
}

TEST_F(HeaderTest, MissingHeaderIsReportedAndLeavesTheHeaderEmpty) {
  Module.Add("HEADER", BuildHeaderResource({}, std::vector<ItemRecordFields>(2)));
  ASSERT_TRUE(Header.LoadFromResource(Module, "Header", Record));
  EXPECT_FALSE(Header.LoadFromResource(Module, "Other", Record));
  EXPECT_EQ(Reported, std::vector<unsigned>{IDS_HEADER_MISSING});
  EXPECT_TRUE(Header.Items.empty());
  EXPECT_TRUE(Header.Texts.empty());
  EXPECT_EQ(Header.Flags(), 0);
}

TEST_F(HeaderTest, DamagedHeadersAreRefusedWithoutReadingPastTheResource) {
  HeaderFields fields;
  fields.Flags = hfFixedFolder;
  const std::vector<std::uint8_t> good = BuildHeaderResource(fields, std::vector<ItemRecordFields>(2));

  std::vector<std::vector<std::uint8_t>> damaged;
  damaged.emplace_back(good.begin(), good.begin() + 600);            // shorter than the block
  damaged.emplace_back(good.begin(), good.begin() + 656 + 81 + 40);  // item table cut
  damaged.emplace_back(good.begin(), good.end() - 1);                // text without its NUL
  std::vector<std::uint8_t> longer = good;                            // count beyond the table
  longer[ArchiveLayout::ItemCountOffset] = 200;
  damaged.push_back(longer);
  std::vector<std::uint8_t> noProgramNul = good;
  std::memset(&noProgramNul[ArchiveLayout::ProgramPathOffset], 'x', 256);
  damaged.push_back(noProgramNul);

  for (const auto& bytes : damaged) {
    Reported.clear();
    test::MemoryResourceModule module;
    module.Add("HEADER", std::vector<std::uint8_t>(bytes));
    EXPECT_FALSE(Header.LoadFromResource(module, "Header", Record)) << bytes.size();
    EXPECT_EQ(Reported, std::vector<unsigned>{IDS_HEADER_UNREADABLE});
    EXPECT_TRUE(Header.Items.empty());
    EXPECT_EQ(module.Outstanding(), 0);
  }
}

TEST_F(HeaderTest, TextSectionLinesEndAtCrLfOrEitherAlone) {
  std::vector<std::uint8_t> bytes = BuildHeaderResource({}, {});
  bytes.resize(656);
  for (const char c : std::string("one\r\ntwo\nthree\rfour"))
    bytes.push_back(static_cast<std::uint8_t>(c));
  bytes.push_back(0);
  bytes.push_back('x'); // after the NUL: not text
  ASSERT_TRUE(Load(bytes));
  EXPECT_EQ(Header.Texts, (std::vector<std::string>{"one", "two", "three", "four"}));

  std::vector<std::uint8_t> onlyNul = BuildHeaderResource({}, {});
  onlyNul.resize(657);
  onlyNul[656] = 0;
  test::MemoryResourceModule module;
  module.Add("HEADER", onlyNul);
  ASSERT_TRUE(Header.LoadFromResource(module, "Header", Record));
  EXPECT_TRUE(Header.Texts.empty());
}

TEST(HeaderBuilderTest, BlockLayoutIsByteExact) {
  HeaderFields fields;
  fields.Flags = hfEncrypted | hfAskFolder;
  fields.PasswordCheck.fill(0xAB);
  fields.DestinationPath = "D:\\Setup";
  ItemRecordFields item;
  item.FileName = "setup.exe";
  item.OriginalSize = 0x01020304;
  item.StoredSize = 0x05060708;
  const std::vector<std::uint8_t> bytes = BuildHeaderResource(fields, {item});
  const std::string texts = tool::InterfaceTextSection();
  ASSERT_EQ(bytes.size(), 656u + 81u + texts.size());
  EXPECT_EQ(bytes[0], hfEncrypted | hfAskFolder);
  EXPECT_EQ(bytes[1], 0);
  EXPECT_EQ(bytes[2], 14);
  EXPECT_EQ(bytes[3], 0);
  for (int i = 4; i < 12; ++i)
    EXPECT_EQ(bytes[i], 0) << i;
  EXPECT_EQ(bytes[12], 1);
  EXPECT_EQ(bytes[14] | bytes[15] << 8, static_cast<int>(texts.size()));
  EXPECT_EQ(bytes[16], 0xAB);
  EXPECT_EQ(bytes[143], 0xAB);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[144])), "D:\\Setup");
  const std::uint8_t* record = &bytes[656];
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(record)), "setup.exe");      // ItemName
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(record + 32)), "setup.exe"); // FileName
  EXPECT_EQ(record[73], 0x04);
  EXPECT_EQ(record[76], 0x01);
  EXPECT_EQ(record[77], 0x08);
  EXPECT_EQ(record[80], 0x05);
  EXPECT_EQ(texts.back(), '\0');
  EXPECT_EQ(texts.substr(texts.size() - 3), std::string("\r\n\0", 3));
}

TEST(HeaderBuilderTest, DatesCountDaysSinceTheEndOf1899) {
  EXPECT_EQ(tool::DaysSince1899(0), 25569.0);
  EXPECT_EQ(tool::DaysSince1899(86400 + 43200), 25570.5);
}

} // namespace
} // namespace vexa
