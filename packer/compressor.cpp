#include "packer/compressor.h"

#include <new>
#include <stdexcept>

#include <libdeflate.h>

namespace vexa {

void TBytesOutput::Write(std::span<const std::uint8_t> Bytes) {
  Stream.insert(Stream.end(), Bytes.begin(), Bytes.end());
}

std::span<std::uint8_t> TBytesOutput::Reserve(std::size_t Capacity) {
  ReservedAt = Stream.size();
  Stream.resize(ReservedAt + Capacity);
  return {Stream.data() + ReservedAt, Capacity};
}

void TBytesOutput::Commit(std::size_t Count) { Stream.resize(ReservedAt + Count); }

TZlibCompressor::TZlibCompressor(int Level) {
  if (Level < MinCompressionLevel || Level > MaxCompressionLevel)
    throw std::invalid_argument("compression level must be 0 to 12");
  Compressor = libdeflate_alloc_compressor(Level);
  if (!Compressor)
    throw std::bad_alloc();
}

TZlibCompressor::~TZlibCompressor() { libdeflate_free_compressor(Compressor); }

bool TZlibCompressor::Compress(std::span<const std::uint8_t> Input, TStreamOutput& Out,
                               std::optional<std::size_t> Limit) {
  // libdeflate gives up when less than a machine word of room would remain, so a limited
  // stream gets room a little beyond the longest one worth keeping.
  constexpr std::size_t Slack = 32;
  const std::size_t capacity =
      Limit ? *Limit + Slack : libdeflate_zlib_compress_bound(Compressor, Input.size());
  const std::span<std::uint8_t> room = Out.Reserve(capacity);
  const std::size_t n = libdeflate_zlib_compress(Compressor, Input.data(), Input.size(),
                                                 room.data(), room.size());
  Out.Consumed(Input.size());
  if (n == 0 && !Limit)
    throw std::logic_error("compressed stream exceeds the engine's own bound");
  if (n == 0 || (Limit && n >= *Limit)) {
    Out.Commit(0);
    Out.Discard();
    return false;
  }
  Out.Commit(n);
  return true;
}

std::vector<std::uint8_t> TZlibCompressor::Compress(std::span<const std::uint8_t> Input) {
  TBytesOutput out;
  Compress(Input, out, std::nullopt);
  return std::move(out.Stream);
}

bool TZlibCompressor::CompressIfSmaller(std::span<const std::uint8_t> Input, TStreamOutput& Out) {
  return Compress(Input, Out, Input.size());
}

} // namespace vexa
