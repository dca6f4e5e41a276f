#include "packer/compressor.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "streams/decompression_stream.h"
#include "streams/resource_stream.h"
#include "support/memory_resource_module.h"
#include "support/random_bytes.h"

namespace vexa {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Incompressible(std::size_t Size) { return test::RandomBytes(Size, 987); }

// Text-like: words from a small vocabulary in a pseudo-random order.
Bytes Compressible(std::size_t Size) {
  static const char* const words[] = {"setup ", "archive ", "file ", "the ", "window ",
                                      "data\r\n", "of ", "program ", "Vexa ", "item "};
  std::mt19937 random(42);
  std::string text;
  while (text.size() < Size)
    text += words[random() % 10];
  return Bytes(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(Size));
}

// What the extractor makes of Stored: read through its own classes, 61440 bytes a time.
Bytes Extract(const Bytes& Stored, bool& Ended) {
  test::MemoryResourceModule module;
  module.Add("Item1", Stored);
  TResourceStream resource(module, "Item1");
  TDecompressionStream stream(resource);
  Bytes all;
  Bytes buffer(61440);
  while (const std::int32_t n = stream.Read(buffer.data(), 61440))
    all.insert(all.end(), buffer.begin(), buffer.begin() + n);
  Ended = stream.StreamEnded();
  return all;
}

// CompressIfSmaller into memory: the stream, or nothing when storing serves better (the
// output then holds nothing either).
std::optional<Bytes> IfSmaller(TZlibCompressor& Compressor, const Bytes& Plain) {
  TBytesOutput out;
  if (Compressor.CompressIfSmaller(Plain, out))
    return std::move(out.Stream);
  EXPECT_TRUE(out.Stream.empty());
  return std::nullopt;
}

constexpr int Levels[] = {0, 1, 6, 12};

std::string Name(const ::testing::TestParamInfo<int>& Info) {
  return "level" + std::to_string(Info.param);
}

class CompressorRoundTrip : public ::testing::TestWithParam<int> {};

// Sizes on both sides of the copy buffer (61440), the source chunk (65536) and the
// stream's 8-byte minimum, with data that compresses and data that does not.
TEST_P(CompressorRoundTrip, ExtractorReadsBackEveryByte) {
  TZlibCompressor compressor(GetParam());
  for (const std::size_t size : {0, 1, 7, 8, 9, 61440, 65536, 100000, 2 * 1024 * 1024 + 17}) {
    for (const bool compressible : {true, false}) {
      SCOPED_TRACE(std::to_string(size) + (compressible ? " compressible" : " incompressible"));
      const Bytes plain = compressible ? Compressible(size) : Incompressible(size);
      const Bytes stored = compressor.Compress(plain);
      bool ended = false;
      EXPECT_EQ(Extract(stored, ended), plain);
      EXPECT_TRUE(ended);

      const auto smaller = IfSmaller(compressor, plain);
      if (smaller) {
        EXPECT_LT(smaller->size(), plain.size());
        EXPECT_EQ(*smaller, stored);
      }
      if (GetParam() == 0 || !compressible || size < 9) {
        EXPECT_FALSE(smaller);
      } else if (size >= 61440) {
        EXPECT_TRUE(smaller);
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Levels, CompressorRoundTrip, ::testing::ValuesIn(Levels), Name);

// Noise followed by a growing run of zeros crosses the point where the stream becomes
// shorter than its input; a stream a single byte shorter is still worth keeping.
TEST(CompressorTest, KeepsEveryStreamShorterThanItsInput) {
  for (const int level : Levels) {
    if (level == 0)
      continue;
    TZlibCompressor compressor(level);
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
  EXPECT_NO_THROW(TZlibCompressor(0));
  EXPECT_NO_THROW(TZlibCompressor(12));
}

} // namespace
} // namespace vexa
