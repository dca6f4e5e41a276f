#pragma once
// Compression of one item's bytes into one zlib-format stream (header, deflate data,
// Adler-32), the format the extractor's decompression stream reads.
//
// Two engines, both one-shot over a whole item held in memory (the caller maps the
// file, so the input costs address space and page cache rather than heap):
// - libdeflate: levels 0 (stored blocks only) to 12; smaller output than zlib at the
//   same level, and faster. It has no streaming API, so it needs the whole input at
//   once and writes the whole output into one buffer.
// - zlib's deflate: levels above 9 act as 9. The only engine of the Windows build,
//   which has no libdeflate to link. It could stream, but a whole-item API keeps the
//   two engines interchangeable, so it is driven the same way.
//
// Memory: the output buffer plus the engine's state. Compress reserves the engine's
// worst-case bound (a little more than the input); CompressIfSmaller the input's size
// and a few bytes; pages the engine never writes stay untouched, and the result is
// handed back at its own length. The engine state is fixed, independent of item size:
// zlib's deflate about 270 KiB; libdeflate 6 KiB at level 0, 200 KiB at 1, 650 KiB at
// 2 to 9 and 8.6 MiB at 10 to 12.
//
// Items of 4 GiB and more work as far as memory allows (sizes are size_t throughout);
// on a 32-bit host the address space is the limit.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace vexa {

namespace detail {
class TDeflater;
}

enum class TDeflateEngine { Libdeflate, Zlib };

inline constexpr int MinCompressionLevel = 0;
inline constexpr int MaxCompressionLevel = 12;

class TZlibCompressor {
public:
  // Whether this build can use Engine; the default engine always can.
  static bool Available(TDeflateEngine Engine);
  // libdeflate where the build has it, otherwise zlib.
  static TDeflateEngine DefaultEngine();

  // Level 0 to 12, else std::invalid_argument; an engine this build lacks raises
  // std::invalid_argument too. One compressor serves any number of items, one at a time.
  explicit TZlibCompressor(int Level, TDeflateEngine Engine = DefaultEngine());
  ~TZlibCompressor();
  TZlibCompressor(const TZlibCompressor&) = delete;
  TZlibCompressor& operator=(const TZlibCompressor&) = delete;

  // The zlib stream of Input, whatever its size (at least 8 bytes, even for no input).
  std::vector<std::uint8_t> Compress(std::span<const std::uint8_t> Input);
  // The zlib stream of Input when it is shorter than Input, else nothing: the item is
  // then better stored as it is. Gives up soon after the output reaches Input's size.
  std::optional<std::vector<std::uint8_t>> CompressIfSmaller(std::span<const std::uint8_t> Input);

  TDeflateEngine Engine() const;

private:
  std::unique_ptr<detail::TDeflater> Impl;
};

} // namespace vexa
