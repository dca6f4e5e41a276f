#include "pe/pe_checksum.h"

#include <gtest/gtest.h>

#include "pe/pe_image.h"
#include "pe/pe_test_util.h"

namespace vexa::pe {
namespace {

std::uint32_t ChecksumOf(const test::Bytes& Data) {
  PeChecksum sum;
  sum.Add(Data);
  return sum.Value();
}

TEST(PeChecksum, SumsLittleEndianWordsFoldsCarriesAndAddsTheLength) {
  EXPECT_EQ(ChecksumOf({}), 0u);
  EXPECT_EQ(ChecksumOf({0x01, 0x02, 0x03}), 0x0201u + 0x0003u + 3u);
  // 0xFFFF + 0x0002 carries out of 16 bits; the carry comes back in at the bottom.
  EXPECT_EQ(ChecksumOf({0xFF, 0xFF, 0x02, 0x00}), 0x0002u + 4u);
}

TEST(PeChecksum, AnySplitOfTheInputGivesTheSameValue) {
  const test::Bytes data = test::Pattern(1001, 0xA5);
  const std::uint32_t whole = ChecksumOf(data);
  for (std::size_t a = 0; a < data.size(); a += 37) {
    for (std::size_t b = a; b < data.size(); b += 111) {
      PeChecksum sum;
      const std::span<const std::uint8_t> all(data);
      sum.Add(all.subspan(0, a));
      sum.Add(all.subspan(a, b - a));
      sum.Add(all.subspan(b));
      ASSERT_EQ(sum.Value(), whole) << a << " " << b;
    }
  }
}

TEST(PeChecksum, AgreesWithTheLinkersChecksumOfTheFixture) {
  VEXA_REQUIRE_FIXTURE(path);
  test::Bytes bytes = test::ReadAll(path);
  const PeImage pe = PeImage::Parse(bytes);
  const std::uint32_t stored = pe.Headers().CheckSum;
  ASSERT_NE(stored, 0u);
  const std::uint64_t field = pe.Headers().OptionalHeaderOffset + 64;
  EXPECT_EQ(FileChecksum(bytes, field), stored) << "the field itself must count as zero";
  std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(field), 4, 0);
  EXPECT_EQ(ChecksumOf(bytes), stored);
  bytes[field - 1] ^= 1;
  EXPECT_NE(FileChecksum(bytes, field), stored);
}

TEST(PeChecksum, AFileSummedInPiecesHandsOverEveryByteButTheFieldsOnceInOrder) {
  const test::Bytes data = test::Pattern((5u << 20) / 2 + 7, 0x3C);
  const std::span<const std::uint8_t> file(data);
  for (const std::size_t field : {std::size_t{0}, std::size_t{(1u << 20) - 2}, data.size() - 4}) {
    std::vector<int> handed(data.size());
    std::size_t next = 0;
    const std::uint32_t value = FileChecksum(file, field, [&](std::span<const std::uint8_t> Piece) {
      const auto begin = static_cast<std::size_t>(Piece.data() - data.data());
      EXPECT_GE(begin, next) << "pieces out of order";
      EXPECT_LE(Piece.size(), 1u << 20) << "a piece of more than a MiB";
      next = begin + Piece.size();
      for (std::size_t i = begin; i < next; ++i)
        ++handed[i];
    });
    EXPECT_EQ(value, FileChecksum(file, field)) << field;
    for (std::size_t i = 0; i < data.size(); ++i)
      ASSERT_EQ(handed[i], i >= field && i < field + 4 ? 0 : 1)
          << "byte " << i << ", field at " << field;
  }
}

} // namespace
} // namespace vexa::pe
