#include "platform/mapped_file.h"

#include <fstream>
#include <sstream>

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

// The resident bytes of this process's mapping that holds Address, from /proc/self/smaps.
std::size_t ResidentBytes(const void* Address) {
  const auto address = reinterpret_cast<std::uintptr_t>(Address);
  std::ifstream smaps("/proc/self/smaps");
  bool inMapping = false;
  for (std::string line; std::getline(smaps, line);) {
    std::uintptr_t begin = 0, end = 0;
    char dash = 0;
    std::istringstream fields(line);
    if (fields >> std::hex >> begin >> dash >> end && dash == '-') {
      inMapping = begin <= address && address < end;
    } else if (inMapping && line.rfind("Rss:", 0) == 0) {
      std::size_t kib = 0;
      std::istringstream(line.substr(4)) >> kib;
      return kib * 1024;
    }
  }
  ADD_FAILURE() << "no mapping holds the address";
  return 0;
}

TEST(MappedFile, ReleasedPagesLeaveMemoryAndReadBackUnchanged) {
  constexpr std::size_t MiB = 1 << 20;
  pe::test::ScratchDir dir;
  const pe::test::Bytes content = pe::test::Pattern(8 * MiB, 5);
  pe::test::WriteAll(dir / "data", content);
  MappedFile file;
  ASSERT_EQ(file.Open(dir / "data"), "");
  ASSERT_EQ(pe::test::Bytes(file.Bytes().begin(), file.Bytes().end()), content);
  ASSERT_GE(ResidentBytes(file.Data()), 8 * MiB);

  // A reader hands back what it has passed in steps that need not meet page bounds: no
  // page may stay behind between two steps. (A kernel that maps the file in huge pages
  // may let pages around them go too.) Every byte reads back as it was.
  file.Release(file.Data(), MiB + 1);
  file.Release(file.Data() + MiB + 1, 3 * MiB);
  file.Release(file.Data() + 4 * MiB + 1, 3 * MiB);
  EXPECT_LE(ResidentBytes(file.Data()), MiB + 4096);

  EXPECT_EQ(pe::test::Bytes(file.Bytes().begin(), file.Bytes().end()), content);
  file.Release(file.Data(), 0);
  file.Release(file.Data() + 100, 200); // within one page: nothing to release
  EXPECT_GE(ResidentBytes(file.Data()), 8 * MiB);
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
