#pragma once
// Compression of one item's bytes into one zlib-format stream (header, deflate data,
// Adler-32), the format the extractor's decompression stream reads.
//
// libdeflate reads a whole item that the caller holds mapped (so the input costs address
// space and page cache rather than heap) and writes to a TStreamOutput: levels 0 (stored
// blocks only) to 12, smaller output than zlib's deflate at the same level, and faster.
// Both builds link the same version, so vexa and vexa.exe write the same bytes. It has no
// streaming API: it writes the whole stream into room the output reserves for it, which
// the packer maps from a work file.
//
// Memory: the engine's state, independent of item size: 6 KiB at level 0, 200 KiB at 1,
// 650 KiB at 2 to 9 and 8.6 MiB at 10 to 12. The output holds the stream wherever it
// likes.
//
// Items of 4 GiB and more work as far as the output allows (sizes are size_t
// throughout); on a 32-bit host the address space is the limit for the input and
// libdeflate's room together.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

struct libdeflate_compressor;

namespace vexa {

inline constexpr int MinCompressionLevel = 0;
inline constexpr int MaxCompressionLevel = 12;
// An archive is packed once and downloaded many times: the smallest output is worth the
// slower pack (libdeflate at 12 still packs faster than zip -9).
inline constexpr int DefaultCompressionLevel = 12;

// Where the compressor puts the stream of one item: it reserves room for all of it at once
// and commits what it used. Write serves outputs that are filled piece by piece.
class TStreamOutput {
public:
  virtual ~TStreamOutput() = default;
  // Appends Bytes to the stream.
  virtual void Write(std::span<const std::uint8_t> Bytes) = 0;
  // Writable room for Capacity bytes after the stream so far, valid until Commit.
  virtual std::span<std::uint8_t> Reserve(std::size_t Capacity) = 0;
  // Keeps the first Count bytes of the reserved room as the stream's next bytes.
  virtual void Commit(std::size_t Count) = 0;
  // Forgets the stream written so far for this item: storing it serves better.
  virtual void Discard() = 0;
  // The compressor has read Count more bytes of the input.
  virtual void Consumed(std::size_t Count) { (void)Count; }
};

// A stream held in memory, for small inputs and tests.
class TBytesOutput final : public TStreamOutput {
public:
  void Write(std::span<const std::uint8_t> Bytes) override;
  std::span<std::uint8_t> Reserve(std::size_t Capacity) override;
  void Commit(std::size_t Count) override;
  void Discard() override { Stream.clear(); }
  std::vector<std::uint8_t> Stream;

private:
  std::size_t ReservedAt = 0;
};

class TZlibCompressor {
public:
  // Level 0 to 12, else std::invalid_argument. One compressor serves any number of
  // items, one at a time; several compressors may work at once on different threads.
  explicit TZlibCompressor(int Level);
  ~TZlibCompressor();
  TZlibCompressor(const TZlibCompressor&) = delete;
  TZlibCompressor& operator=(const TZlibCompressor&) = delete;

  // The zlib stream of Input, whatever its size (at least 8 bytes, even for no input).
  std::vector<std::uint8_t> Compress(std::span<const std::uint8_t> Input);
  // Writes the zlib stream of Input to Out and returns true when it is shorter than
  // Input; otherwise gives up soon after the stream reaches Input's size, discards it
  // from Out and returns false: the item is then better stored as it is.
  bool CompressIfSmaller(std::span<const std::uint8_t> Input, TStreamOutput& Out);

private:
  // Writes the stream of Input to Out and returns true; with a Limit, gives up once the
  // stream reaches Limit bytes, discards it from Out and returns false.
  bool Compress(std::span<const std::uint8_t> Input, TStreamOutput& Out,
                std::optional<std::size_t> Limit);

  libdeflate_compressor* Compressor = nullptr;
};

} // namespace vexa
