#pragma once
// Compression of items' bytes into the stored data of one method: a zlib-format stream
// (header, deflate data, Adler-32) of one item, or an LZMA2 stream (archive/lzma2_item.h) of
// one item or of the items of a block, the formats the extractor's decompression streams
// read.
//
// zlib:
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

#include <lzma.h>

#include "archive/vexa_header.h"

struct libdeflate_compressor;

namespace vexa {

inline constexpr int MinCompressionLevel = 0;
inline constexpr int MaxCompressionLevel = 12;
// An archive is packed once and downloaded many times: the smallest output is worth the
// slower pack (libdeflate at 12 still packs faster than zip -9). LZMA2's preset 9 packs in
// about the time of its peers' strongest settings; its extreme variant (12) takes twice that.
inline constexpr int DefaultCompressionLevel = 12;
inline constexpr int DefaultLzma2Level = 9;

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

// Input one after the other in one stream: the bytes of one item, or of the items of a block.
using TInputParts = std::span<const std::span<const std::uint8_t>>;

// Items' bytes into the stored data of one method.
class TCompressor {
public:
  virtual ~TCompressor() = default;
  // The Compressed byte of the items it compresses.
  virtual ItemMethod Method() const = 0;
  // The whole stored data of Input, whatever its size.
  std::vector<std::uint8_t> Compress(std::span<const std::uint8_t> Input);
  // Writes the stored data of Parts, one after the other, to Out and returns true when it is
  // shorter than they are together; otherwise gives up soon after the data reaches their
  // size, discards it from Out and returns false: the items are then better stored as they
  // are.
  bool CompressIfSmaller(TInputParts Parts, TStreamOutput& Out);
  bool CompressIfSmaller(std::span<const std::uint8_t> Input, TStreamOutput& Out);

protected:
  // Writes the stream of Parts to Out and returns true; with a Limit, gives up once the
  // stream reaches Limit bytes, discards it from Out and returns false.
  virtual bool Encode(TInputParts Parts, TStreamOutput& Out, std::optional<std::size_t> Limit) = 0;
};

enum class CompressionMethod { Store, Deflate, Lzma2 };

// The compressor of Method at Level (MinCompressionLevel to MaxCompressionLevel); none for
// Store.
std::unique_ptr<TCompressor> MakeCompressor(CompressionMethod Method, int Level);

class TZlibCompressor final : public TCompressor {
public:
  // Level 0 to 12, else std::invalid_argument. One compressor serves any number of
  // items, one at a time; several compressors may work at once on different threads.
  explicit TZlibCompressor(int Level);
  ~TZlibCompressor();
  TZlibCompressor(const TZlibCompressor&) = delete;
  TZlibCompressor& operator=(const TZlibCompressor&) = delete;

  ItemMethod Method() const override { return imZlib; }

protected:
  // A zlib stream holds one item: more Parts than one are std::invalid_argument (libdeflate
  // has no streaming API). No input still gives a stream of 8 bytes.
  bool Encode(TInputParts Parts, TStreamOutput& Out, std::optional<std::size_t> Limit) override;

private:
  libdeflate_compressor* Compressor = nullptr;
};

// LZMA2 by liblzma, which vexa links from Debian and vexa.exe builds from Debian's source of
// the same version (cmake/liblzma_mingw.cmake): both write the same bytes. Levels 0 to 9
// are liblzma's presets, 10 to 12 preset 9's extreme variant. The dictionary is the
// preset's, down to the size of the input: never more memory for the extractor than the
// stream needs. The x86 filter serves a stream whose bytes are mostly Windows programs:
// the input goes through it when the parts that start like one ("MZ") hold at least half
// of its bytes.
//
// Memory: liblzma's encoder, about ten times the dictionary (674 MiB at presets 8 and 9
// for items of 64 MiB and more), for the life of the compressor, on large pages where the
// system grants them (platform/large_pages.h).
class TLzma2Compressor final : public TCompressor {
public:
  // Level 0 to 12, else std::invalid_argument.
  explicit TLzma2Compressor(int Level);
  ~TLzma2Compressor();
  TLzma2Compressor(const TLzma2Compressor&) = delete;
  TLzma2Compressor& operator=(const TLzma2Compressor&) = delete;

  ItemMethod Method() const override { return imLzma2; }

protected:
  bool Encode(TInputParts Parts, TStreamOutput& Out, std::optional<std::size_t> Limit) override;

private:
  lzma_options_lzma Preset;
  // Kept between items: liblzma reuses the match finder's memory when the next item's
  // options need no more of it.
  lzma_stream Encoder = LZMA_STREAM_INIT;
  std::vector<std::uint8_t> Room; // the encoder's output before it is handed on
};

} // namespace vexa
