#include "pe/pe_image.h"

#include <gtest/gtest.h>

#include <random>

#include "pe/byte_order.h"
#include "pe/pe_test_util.h"

namespace vexa::pe {
namespace {

using detail::Put16;
using detail::Put32;
using test::Bytes;

constexpr std::uint32_t HighBit = 0x80000000u;
constexpr std::uint32_t RsrcRva = 0x2000; // of the .rsrc section that MinimalImage(1, ...) adds

// RCDATA "ITEM" in language 1033, code page 1252, holding "hello":
//   0x00 root (1 id entry) -> 0x18 type table (1 named entry) -> 0x30 name table (1 id
//   entry) -> 0x48 data entry; 0x60 the name string; 0x70 the data.
Bytes HandTree() {
  Bytes t(0x78);
  Put16(&t[0x0E], 1);
  Put32(&t[0x10], RtRcData);
  Put32(&t[0x14], HighBit | 0x18);
  Put16(&t[0x18 + 12], 1);
  Put32(&t[0x28], HighBit | 0x60);
  Put32(&t[0x2C], HighBit | 0x30);
  Put16(&t[0x30 + 14], 1);
  Put32(&t[0x40], 1033);
  Put32(&t[0x44], 0x48);
  Put32(&t[0x48], RsrcRva + 0x70);
  Put32(&t[0x4C], 5);
  Put32(&t[0x50], 1252);
  Put16(&t[0x60], 4);
  for (int i = 0; i < 4; ++i)
    Put16(&t[0x62 + 2 * i], "ITEM"[i]);
  std::memcpy(&t[0x70], "hello", 5);
  return t;
}

// Parses MinimalImage with Tree as its resource section; the message of the error, or "".
std::string ParseError(const Bytes& Tree) {
  const Bytes image = test::MinimalImage(1, Tree);
  try {
    PeImage::Parse(image);
    return {};
  } catch (const PeFormatError& e) {
    return e.what();
  }
}

TEST(PeImage, ReadsAHandMadeTree) {
  const Bytes image = test::MinimalImage(1, HandTree());
  const PeImage pe = PeImage::Parse(image);
  ASSERT_EQ(pe.Entries().size(), 1u);
  const ResourceEntry& e = pe.Entries()[0];
  EXPECT_EQ(e.Type, ResourceKey::FromId(RtRcData));
  EXPECT_EQ(e.Name, ResourceKey::FromName("ITEM"));
  EXPECT_EQ(e.Language, 1033);
  EXPECT_EQ(e.CodePage, 1252u);
  EXPECT_EQ(std::string(e.Data.begin(), e.Data.end()), "hello");
  EXPECT_EQ(pe.Sections().size(), 2u);
  EXPECT_FALSE(pe.HasCertificate());
}

TEST(PeImage, ImageWithoutResourcesHasNoEntries) {
  const Bytes image = test::MinimalImage();
  EXPECT_TRUE(PeImage::Parse(image).Entries().empty());
}

TEST(PeImage, RejectsWhatIsNotAPe32Image) {
  const auto message = [](Bytes b) {
    try {
      PeImage::Parse(b);
      return std::string();
    } catch (const PeFormatError& e) {
      return std::string(e.what());
    }
  };
  EXPECT_NE(message(Bytes{}).find("no MZ header"), std::string::npos);
  EXPECT_NE(message(Bytes(100, 'M')).find("no MZ header"), std::string::npos);

  Bytes b = test::MinimalImage();
  b[0x40] = 'N';
  EXPECT_NE(message(b).find("no PE signature"), std::string::npos);

  b = test::MinimalImage();
  Put16(&b[0x58], 0x107);
  EXPECT_NE(message(b).find("magic 0x107"), std::string::npos);

  b = test::MinimalImage();
  Put32(&b[0x3C], 0xFFFFFFF0); // e_lfanew far past the end
  EXPECT_NE(message(b).find("truncated"), std::string::npos);

  b = test::MinimalImage();
  Put16(&b[0x54], 64); // optional header too small for PE32
  EXPECT_NE(message(b).find("too small"), std::string::npos);

  b = test::MinimalImage();
  Put16(&b[0x46], 0xFFFF); // NumberOfSections: a table far longer than the file
  EXPECT_NE(message(b).find("section table"), std::string::npos);
}

TEST(PeImage, EveryTruncationIsRejected) {
  const Bytes whole = test::MinimalImage(1, HandTree());
  ASSERT_NO_THROW(PeImage::Parse(whole));
  for (std::size_t n = 0; n < whole.size(); ++n) {
    const Bytes part(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
    EXPECT_THROW(PeImage::Parse(part), PeFormatError) << n << " bytes";
  }
}

TEST(PeImage, RejectsHostileTrees) {
  struct Case {
    const char* What;
    std::size_t Offset;
    std::uint32_t Value;
    const char* Expected;
  };
  const Case cases[] = {
      {"a type table that points back at the root", 0x2C, HighBit | 0x00, "loops"},
      {"a type table that points at itself", 0x2C, HighBit | 0x18, "loops"},
      {"a subdirectory past the section", 0x14, HighBit | 0x7FFFFF00, "truncated"},
      {"a name string past the section", 0x28, HighBit | 0x7FFFFFF0, "truncated"},
      {"a name string that runs past the section", 0x60, 0xFFFF, "runs past"},
      {"an empty name", 0x60, 0, "is empty"},
      {"a data entry past the section", 0x44, 0x7FFFFFF0, "truncated"},
      {"data at an RVA outside every section", 0x48, 0x7FFF0000, "outside the image's sections"},
      {"data that runs past its section", 0x4C, 0x1000, "outside the image's sections"},
      {"data whose end wraps around 4 GiB", 0x4C, 0xFFFFFFFF, "outside the image's sections"},
      {"huge entry counts", 0x0C, 0xFFFFFFFF, "runs past"},
      {"an id above 16 bits", 0x10, 0x12345, "out of range"},
      {"data where a type table belongs", 0x14, 0x48, "where a directory belongs"},
      {"a fourth level", 0x44, HighBit | 0x18, "deeper than three levels"},
      {"a named language", 0x40, HighBit | 0x60, "named resource language"},
  };
  for (const Case& c : cases) {
    Bytes tree = HandTree();
    Put32(&tree[c.Offset], c.Value);
    const std::string error = ParseError(tree);
    EXPECT_NE(error.find(c.Expected), std::string::npos) << c.What << ": " << error;
  }
}

TEST(PeImage, RejectsOverlappingTables) {
  // One type table of 3000 names, each name table starting 8 bytes after the one before:
  // no table is reached twice, and each is sound on its own (one language whose data
  // entry lies at 0x10000), but together they claim more than the section holds.
  constexpr std::uint32_t Names = 3000, Slots = 0x6000, DataEntry = 0x10000;
  Bytes tree(DataEntry + 16);
  Put16(&tree[0x0E], 1);
  Put32(&tree[0x10], RtRcData);
  Put32(&tree[0x14], HighBit | 0x18);
  Put16(&tree[0x18 + 14], Names);
  for (std::uint32_t i = 0; i < Names; ++i) {
    Put32(&tree[0x28 + 8 * i], i + 1);
    Put32(&tree[0x2C + 8 * i], HighBit | (Slots + 8 * i));
  }
  // Read as a table header, each slot's second word gives 0 named and 1 id entry; read as
  // an entry, it is language 1033 with its data entry at 0x10000.
  for (std::uint32_t i = 0; i < Names + 2; ++i) {
    Put32(&tree[Slots + 8 * i], 1033);
    Put32(&tree[Slots + 8 * i + 4], DataEntry);
  }
  Put32(&tree[DataEntry], RsrcRva + DataEntry);
  ASSERT_EQ(ParseError(tree), "resource directory tables overlap");
}

TEST(PeImage, SurvivesRandomDamageToTheTree) {
  const Bytes good = HandTree();
  std::mt19937 random(20240613);
  for (int round = 0; round < 3000; ++round) {
    Bytes tree = good;
    const int flips = 1 + static_cast<int>(random() % 4);
    for (int i = 0; i < flips; ++i)
      tree[random() % tree.size()] = static_cast<std::uint8_t>(random());
    const Bytes image = test::MinimalImage(1, tree);
    try {
      const PeImage parsed = PeImage::Parse(image);
      for (const ResourceEntry& e : parsed.Entries()) {
        // Every span must lie inside the image.
        ASSERT_GE(e.Data.data(), image.data());
        ASSERT_LE(e.Data.data() + e.Data.size(), image.data() + image.size());
      }
    } catch (const PeFormatError&) {
    }
  }
}

TEST(PeImage, ReadsTheFixtureAsCompiled) {
  VEXA_REQUIRE_FIXTURE(path);
  const Bytes bytes = test::ReadAll(path);
  const PeImage pe = PeImage::Parse(bytes);
  std::vector<std::string> keys;
  for (const ResourceEntry& e : pe.Entries())
    keys.push_back(e.Type.ToString() + "/" + e.Name.ToString() + "/" + std::to_string(e.Language));
  // The resource compiler stores names upper-cased, named entries before ids.
  EXPECT_EQ(keys, (std::vector<std::string>{"3/1/1033", "3/2/1033", "3/3/1033", "3/4/1033",
                                            "5/200/1033", "6/126/1033", "10/FIXTUREDATA/1033",
                                            "10/7/1033", "14/SELFEXICON/1033", "14/111/1033"}));
  const auto& data = pe.Entries()[6].Data;
  EXPECT_EQ(std::string(data.begin(), data.end()), std::string("fixture bytes\0", 14));
}

} // namespace
} // namespace vexa::pe
