#include "pe/pe_resource_module.h"

#include <gtest/gtest.h>

#include "pe/pe_test_util.h"
#include "pe/resource_writer.h"
#include "streams/resource_stream.h"

namespace vexa {
namespace {

using pe::test::Bytes;

// An image written by our writer with the resources the extractor reads, plus neighbours
// that Find must not confuse with them.
class PeResourceModuleTest : public ::testing::Test {
protected:
  void SetUp() override {
    using pe::ResourceKey;
    auto data = [](Bytes B) { return std::make_shared<pe::BytesData>(std::move(B)); };
    const std::vector<pe::Resource> resources = {
        pe::test::RcData("Item1", pe::test::Pattern(40, 9)),
        pe::test::RcData("Item2", {}),
        pe::test::RcData("WelcomeText", Bytes{'Y', 'e', 's', '?', 0, 'x'}),
        pe::test::RcData("Twice", Bytes{'b'}, 1033),
        pe::test::RcData("Twice", Bytes{'a'}, 7),
        {ResourceKey::FromId(pe::RtGroupIcon), ResourceKey::FromName("SELFEXICON"), 0, 0,
         data({1})},
        {ResourceKey::FromId(pe::RtRcData), ResourceKey::FromId(1), 0, 0, data({2})},
    };
    const Bytes bare = pe::test::MinimalImage();
    pe::WriteImageWithResources(pe::PeImage::Parse(bare), resources, Dir / "image.exe");
    Image = pe::test::ReadAll(Dir / "image.exe");
    Module = std::make_unique<TPeResourceModule>(pe::PeImage::Parse(Image));
  }

  pe::test::ScratchDir Dir;
  Bytes Image;
  std::unique_ptr<TPeResourceModule> Module;
};

TEST_F(PeResourceModuleTest, FindsRcDataByNameWithoutRegardToCase) {
  const auto item1 = Module->Find("Item1");
  ASSERT_NE(item1, nullptr);
  EXPECT_EQ(Module->Find("ITEM1"), item1);
  EXPECT_EQ(Module->Find("iteM1"), item1);
  EXPECT_EQ(Module->SizeOf(item1), 40u);
  const std::uint8_t* bytes = Module->Lock(Module->Load(item1));
  EXPECT_EQ(Bytes(bytes, bytes + 40), pe::test::Pattern(40, 9));

  EXPECT_EQ(Module->Find("Item3"), nullptr);
  EXPECT_EQ(Module->Find("Item"), nullptr);
  EXPECT_EQ(Module->Find("SelfExIcon"), nullptr) << "a group icon is no RCDATA";
  EXPECT_EQ(Module->Find("1"), nullptr) << "ids are not names";
  EXPECT_EQ(Module->Find(nullptr), nullptr);
  EXPECT_EQ(Module->Load(nullptr), nullptr);
  EXPECT_EQ(Module->SizeOf(nullptr), 0u);
}

TEST_F(PeResourceModuleTest, TakesTheFirstLanguageStored) {
  const auto twice = Module->Find("twice");
  ASSERT_NE(twice, nullptr);
  EXPECT_EQ(*Module->Lock(Module->Load(twice)), 'a'); // language 7 sorts before 1033
}

TEST_F(PeResourceModuleTest, AZeroByteResourceStillHasAnAddress) {
  const auto empty = Module->Find("ITEM2");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(Module->SizeOf(empty), 0u);
  EXPECT_NE(Module->Lock(Module->Load(empty)), nullptr);
}

TEST_F(PeResourceModuleTest, ServesTheExtractorsStreams) {
  TResourceStream stream(*Module, "Item1");
  std::uint8_t buffer[64];
  EXPECT_EQ(stream.Read(buffer, 64), 40);
  EXPECT_EQ(Bytes(buffer, buffer + 40), pe::test::Pattern(40, 9));
  EXPECT_EQ(LoadResourceText(*Module, "WelcomeText"), "Yes?");
  EXPECT_THROW(TResourceStream(*Module, "Item3"), TStreamReadException);
}

} // namespace
} // namespace vexa
