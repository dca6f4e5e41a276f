#include "platform/mapped_file.h"

#include <gtest/gtest.h>

#include "pe/pe_test_util.h"

namespace vexa::platform {
namespace {

TEST(MappedFile, MapsAWholeFileAndEmptyFiles) {
  pe::test::ScratchDir dir;
  const pe::test::Bytes content = pe::test::Pattern(70000, 3);
  pe::test::WriteAll(dir / "data", content);
  pe::test::WriteAll(dir / "empty", {});

  MappedFile file;
  ASSERT_EQ(file.Open(dir / "data"), "");
  EXPECT_EQ(pe::test::Bytes(file.Bytes().begin(), file.Bytes().end()), content);

  MappedFile moved = std::move(file);
  EXPECT_EQ(file.Size(), 0u);
  EXPECT_EQ(moved.Size(), content.size());

  ASSERT_EQ(moved.Open(dir / "empty"), "");
  EXPECT_EQ(moved.Size(), 0u);
  EXPECT_TRUE(moved.Bytes().empty());
}

TEST(MappedFile, NamesTheFileItCannotMap) {
  pe::test::ScratchDir dir;
  MappedFile file;
  const std::string missing = dir / "missing.exe";
  EXPECT_NE(file.Open(missing).find(missing), std::string::npos);
  EXPECT_EQ(file.Data(), nullptr);
  const std::string folder = dir / "";
  EXPECT_NE(file.Open(folder).find("not a regular file"), std::string::npos);
}

} // namespace
} // namespace vexa::platform
