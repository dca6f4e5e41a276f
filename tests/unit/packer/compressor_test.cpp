#include "packer/compressor.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "archive/lzma2_item.h"
#include "streams/decompression_stream.h"
#include "streams/lzma2_decompression_stream.h"
#include "streams/resource_stream.h"
#include "support/memory_resource_module.h"
#include "support/random_bytes.h"

namespace vexa {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Incompressible(std::size_t Size) { return test::RandomBytes(Size, 987); }

// Text-like: words from a small vocabulary in a pseudo-random order.
Bytes Compressible(std::size_t Size) {
  static const char* const words[] = {"setup ",   "archive ", "file ",    "the ",  "window ",
                                      "data\r\n", "of ",      "program ", "Vexa ", "item "};
  std::mt19937 random(42);
  std::string text;
  while (text.size() < Size)
    text += words[random() % 10];
  return Bytes(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(Size));
}

// What the extractor makes of Stored: read through its own classes, 61440 bytes a time.
template <class TStreamClass, class... TArgs>
Bytes ExtractWith(const Bytes& Stored, bool& Ended, TArgs... Args) {
  test::MemoryResourceModule module;
  module.Add("Item1", Stored);
  TResourceStream resource(module, "Item1");
  TStreamClass stream(resource, Args...);
  Bytes all;
  Bytes buffer(61440);
  while (const std::int32_t n = stream.Read(buffer.data(), 61440))
    all.insert(all.end(), buffer.begin(), buffer.begin() + n);
  Ended = stream.StreamEnded();
  return all;
}

Bytes Extract(ItemMethod Method, const Bytes& Stored, std::size_t PlainSize, bool& Ended) {
  if (Method == imLzma2)
    return ExtractWith<TLzma2DecompressionStream>(Stored, Ended, std::uint64_t{PlainSize});
  return ExtractWith<TDecompressionStream>(Stored, Ended);
}

// CompressIfSmaller into memory: the stream, or nothing when storing serves better (the
// output then holds nothing either).
std::optional<Bytes> IfSmaller(TCompressor& Compressor, const Bytes& Plain) {
  TBytesOutput out;
  if (Compressor.CompressIfSmaller(Plain, out))
    return std::move(out.Stream);
  EXPECT_TRUE(out.Stream.empty());
  return std::nullopt;
}

constexpr int Levels[] = {0, 1, 6, 12};

struct TMethodLevel {
  CompressionMethod Method;
  int Level;
};

constexpr TMethodLevel MethodLevels[] = {
    {CompressionMethod::Deflate, 0}, {CompressionMethod::Deflate, 1},
    {CompressionMethod::Deflate, 6}, {CompressionMethod::Deflate, 12},
    {CompressionMethod::Lzma2, 0},   {CompressionMethod::Lzma2, 6},
    {CompressionMethod::Lzma2, 12},
};

std::string Name(const ::testing::TestParamInfo<TMethodLevel>& Info) {
  return std::string(Info.param.Method == CompressionMethod::Lzma2 ? "lzma2" : "deflate") +
         "_level" + std::to_string(Info.param.Level);
}

class CompressorRoundTrip : public ::testing::TestWithParam<TMethodLevel> {};

// Sizes on both sides of the copy buffer (61440), the source chunk (65536) and the
// stream's 8-byte minimum, with data that compresses and data that does not.
TEST_P(CompressorRoundTrip, ExtractorReadsBackEveryByte) {
  const auto compressor = MakeCompressor(GetParam().Method, GetParam().Level);
  const bool deflateStores =
      GetParam().Method == CompressionMethod::Deflate && GetParam().Level == 0;
  for (const std::size_t size : {0, 1, 7, 8, 9, 61440, 65536, 100000, 2 * 1024 * 1024 + 17}) {
    for (const bool compressible : {true, false}) {
      SCOPED_TRACE(std::to_string(size) + (compressible ? " compressible" : " incompressible"));
      const Bytes plain = compressible ? Compressible(size) : Incompressible(size);
      const Bytes stored = compressor->Compress(plain);
      bool ended = false;
      EXPECT_EQ(Extract(compressor->Method(), stored, size, ended), plain);
      EXPECT_TRUE(ended);

      const auto smaller = IfSmaller(*compressor, plain);
      if (smaller) {
        EXPECT_LT(smaller->size(), plain.size());
        EXPECT_EQ(*smaller, stored);
      }
      if (deflateStores || !compressible || size < 9) {
        EXPECT_FALSE(smaller);
      } else if (size >= 61440) {
        EXPECT_TRUE(smaller);
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Levels, CompressorRoundTrip, ::testing::ValuesIn(MethodLevels), Name);

// The extractor reserves the dictionary the stream names: never more than the item needs,
// and the preset's for larger items. Programs go through the x86 filter, other data not.
TEST(CompressorTest, Lzma2NamesTheSmallestDictionaryAndFiltersPrograms) {
  const std::pair<int, std::size_t> presets[] = {{0, 256 << 10}, {6, 8 << 20}};
  for (const auto& [level, presetDictionary] : presets) {
    TLzma2Compressor compressor(level);
    for (const std::size_t size : {0, 100, 5000, 100000, 300000}) {
      Bytes plain = Compressible(size);
      const Bytes stored = compressor.Compress(plain);
      EXPECT_EQ(stored[Lzma2Item::DictionaryOffset],
                Lzma2Item::SmallestDictionaryByte(std::min(size, presetDictionary)))
          << level << " " << size;
      EXPECT_EQ(stored[Lzma2Item::FilterOffset], Lzma2Item::NoFilter) << size;
      if (size < 2)
        continue;
      plain[0] = 'M', plain[1] = 'Z';
      const Bytes program = compressor.Compress(plain);
      EXPECT_EQ(program[Lzma2Item::FilterOffset], Lzma2Item::X86Filter) << size;
      bool ended = false;
      EXPECT_EQ(Extract(imLzma2, program, size, ended), plain);
    }
  }
}

// A block's parts make the stream of their bytes one after the other, whatever the cuts
// (empty parts too); its dictionary holds their total and the x86 filter serves a block
// whose bytes are mostly programs. A zlib stream holds one item only.
TEST(CompressorTest, Lzma2CompressesABlockOfPartsAsOneStream) {
  TLzma2Compressor compressor(6);
  Bytes program = Compressible(70000);
  program[0] = 'M', program[1] = 'Z';
  const Bytes text = Compressible(50000);
  const struct {
    std::vector<Bytes> Parts;
    std::uint8_t Filter;
  } cases[] = {
      {{program, {}, text}, Lzma2Item::X86Filter},
      {{text, program}, Lzma2Item::X86Filter},
      {{text, program, text}, Lzma2Item::NoFilter},
      {{{}, {}}, Lzma2Item::NoFilter},
  };
  for (const auto& c : cases) {
    Bytes whole;
    std::vector<std::span<const std::uint8_t>> parts;
    for (const Bytes& part : c.Parts) {
      whole.insert(whole.end(), part.begin(), part.end());
      parts.emplace_back(part);
    }
    SCOPED_TRACE(whole.size());
    TBytesOutput out;
    ASSERT_EQ(compressor.CompressIfSmaller(parts, out), !whole.empty());
    if (whole.empty())
      continue;
    EXPECT_EQ(out.Stream[Lzma2Item::FilterOffset], c.Filter);
    EXPECT_EQ(out.Stream[Lzma2Item::DictionaryOffset],
              Lzma2Item::SmallestDictionaryByte(whole.size()));
    bool ended = false;
    EXPECT_EQ(Extract(imLzma2, out.Stream, whole.size(), ended), whole);
    EXPECT_TRUE(ended);
  }
  TZlibCompressor zlib(6);
  const std::span<const std::uint8_t> two[] = {text, text};
  TBytesOutput out;
  EXPECT_THROW(zlib.CompressIfSmaller(two, out), std::invalid_argument);
}

// Noise followed by a growing run of zeros crosses the point where the stream becomes
// shorter than its input; a stream a single byte shorter is still worth keeping.
TEST(CompressorTest, KeepsEveryStreamShorterThanItsInput) {
  for (const int level : Levels) {
    if (level == 0)
      continue;
    TZlibCompressor compressor(level);
    TLzma2Compressor lzma2(level);
    for (std::size_t zeros = 0; zeros < 64; zeros += 7) {
      Bytes plain = Incompressible(4000);
      plain.insert(plain.end(), zeros * 4, 0);
      const std::size_t full = lzma2.Compress(plain).size();
      EXPECT_EQ(IfSmaller(lzma2, plain).has_value(), full < plain.size()) << level << " " << zeros;
    }
    int closeCalls = 0;
    for (std::size_t zeros = 0; zeros < 64; ++zeros) {
      Bytes plain = Incompressible(4000);
      plain.insert(plain.end(), zeros, 0);
      const std::size_t full = compressor.Compress(plain).size();
      const auto smaller = IfSmaller(compressor, plain);
      EXPECT_EQ(smaller.has_value(), full < plain.size()) << "level " << level << ", " << zeros;
      closeCalls += full < plain.size() && plain.size() - full <= 8;
    }
    EXPECT_GT(closeCalls, 0) << "no stream came within 8 bytes of its input";
  }
}

TEST(CompressorTest, LevelsOutsideZeroToTwelveAreRefused) {
  EXPECT_THROW(TZlibCompressor(-1), std::invalid_argument);
  EXPECT_THROW(TZlibCompressor(13), std::invalid_argument);
  EXPECT_THROW(TLzma2Compressor(-1), std::invalid_argument);
  EXPECT_THROW(TLzma2Compressor(13), std::invalid_argument);
  EXPECT_NO_THROW(TZlibCompressor(0));
  EXPECT_NO_THROW(TZlibCompressor(12));
}

} // namespace
} // namespace vexa
