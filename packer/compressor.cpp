#include "packer/compressor.h"

#include <algorithm>
#include <cstdint>
#include <new>
#include <stdexcept>

#include <libdeflate.h>
#include <zlib.h>

#include "archive/lzma2_item.h"
#include "platform/large_pages.h"
#include "tool_base/tool_error.h"

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

std::vector<std::uint8_t> TCompressor::Compress(std::span<const std::uint8_t> Input) {
  TBytesOutput out;
  const std::span<const std::uint8_t> parts[] = {Input};
  Encode(parts, out, std::nullopt);
  return std::move(out.Stream);
}

bool TCompressor::CompressIfSmaller(TInputParts Parts, TStreamOutput& Out) {
  std::size_t total = 0;
  for (const std::span<const std::uint8_t> part : Parts)
    total += part.size();
  return Encode(Parts, Out, total);
}

bool TCompressor::CompressIfSmaller(std::span<const std::uint8_t> Input, TStreamOutput& Out) {
  const std::span<const std::uint8_t> parts[] = {Input};
  return CompressIfSmaller(parts, Out);
}

std::unique_ptr<TCompressor> MakeCompressor(CompressionMethod Method, int Level) {
  switch (Method) {
  case CompressionMethod::Deflate:
    return std::make_unique<TZlibCompressor>(Level);
  case CompressionMethod::Lzma2:
    return std::make_unique<TLzma2Compressor>(Level);
  case CompressionMethod::Store:
    break;
  }
  return nullptr;
}

TZlibCompressor::TZlibCompressor(int Level) {
  if (Level < MinCompressionLevel || Level > MaxCompressionLevel)
    throw std::invalid_argument("compression level must be 0 to 12");
  Compressor = libdeflate_alloc_compressor(Level);
  if (!Compressor)
    throw std::bad_alloc();
}

TZlibCompressor::~TZlibCompressor() { libdeflate_free_compressor(Compressor); }

bool TZlibCompressor::Encode(TInputParts Parts, TStreamOutput& Out,
                             std::optional<std::size_t> Limit) {
  if (Parts.size() != 1)
    throw std::invalid_argument("a zlib stream holds one item");
  const std::span<const std::uint8_t> Input = Parts.front();
  // libdeflate gives up when less than a machine word of room would remain, so a limited
  // stream gets room a little beyond the longest one worth keeping.
  constexpr std::size_t Slack = 32;
  const std::size_t capacity =
      Limit ? *Limit + Slack : libdeflate_zlib_compress_bound(Compressor, Input.size());
  const std::span<std::uint8_t> room = Out.Reserve(capacity);
  const std::size_t n =
      libdeflate_zlib_compress(Compressor, Input.data(), Input.size(), room.data(), room.size());
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

namespace {

// liblzma's results, as the packer reports failures: memory, or a fault of its own.
void CheckLzma(lzma_ret Result) {
  if (Result == LZMA_MEM_ERROR)
    throw std::bad_alloc();
  if (Result != LZMA_OK && Result != LZMA_STREAM_END)
    throw std::logic_error("liblzma refused to compress: error " + std::to_string(Result));
}

// The match finder's tables and the dictionary are read at scattered places millions of
// times a second: they go on large pages where the system has them.
void* AllocateForLzma(void*, std::size_t Count, std::size_t Size) {
  if (Size != 0 && Count > SIZE_MAX / Size)
    return nullptr;
  return platform::AllocateLargePaged(Count * Size);
}

void FreeForLzma(void*, void* Block) { platform::FreeLargePaged(Block); }

constexpr lzma_allocator LzmaAllocator = {AllocateForLzma, FreeForLzma, nullptr};

bool LooksLikeAProgram(std::span<const std::uint8_t> Input) {
  return Input.size() >= 2 && Input[0] == 'M' && Input[1] == 'Z';
}

} // namespace

TLzma2Compressor::TLzma2Compressor(int Level) {
  if (Level < MinCompressionLevel || Level > MaxCompressionLevel)
    throw std::invalid_argument("compression level must be 0 to 12");
  constexpr int MaxPreset = 9;
  const std::uint32_t preset =
      Level > MaxPreset ? MaxPreset | LZMA_PRESET_EXTREME : static_cast<std::uint32_t>(Level);
  if (lzma_lzma_preset(&Preset, preset))
    throw std::logic_error("liblzma has no preset " + std::to_string(Level));
  Encoder.allocator = &LzmaAllocator;
}

TLzma2Compressor::~TLzma2Compressor() { lzma_end(&Encoder); }

bool TLzma2Compressor::Encode(TInputParts Parts, TStreamOutput& Out,
                              std::optional<std::size_t> Limit) {
  std::uint64_t total = 0;
  std::uint64_t programs = 0;
  for (const std::span<const std::uint8_t> part : Parts) {
    total += part.size();
    programs += LooksLikeAProgram(part) ? part.size() : 0;
  }
  lzma_options_lzma options = Preset;
  options.dict_size = static_cast<std::uint32_t>(
      std::clamp<std::uint64_t>(total, LZMA_DICT_SIZE_MIN, Preset.dict_size));
  const bool x86 = programs > 0 && programs >= total - programs;
  const lzma_filter filters[] = {
      {LZMA_FILTER_X86, nullptr}, {LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  const lzma_filter* chain = x86 ? filters : filters + 1;
  if (const lzma_ret r = lzma_raw_encoder(&Encoder, chain); r == LZMA_MEM_ERROR)
    throw tool::ToolError("not enough memory for LZMA2 at this level: its encoder needs " +
                          std::to_string(lzma_raw_encoder_memusage(chain) >> 20) +
                          " MiB for this item; a lower --level, or --method deflate, needs less");
  else
    CheckLzma(r);

  std::uint8_t prefix[Lzma2Item::PrefixSize];
  prefix[Lzma2Item::FilterOffset] = x86 ? Lzma2Item::X86Filter : Lzma2Item::NoFilter;
  const lzma_filter properties = {LZMA_FILTER_LZMA2, &options};
  CheckLzma(lzma_properties_encode(&properties, &prefix[Lzma2Item::DictionaryOffset]));
  Out.Write(prefix);
  std::size_t written = sizeof prefix;

  // The input goes in slices, so that progress moves while a large item is compressed. The
  // output is handed on by Write, piece by piece: written in place (Reserve and Commit), a
  // piece may not leave the room an enciphering output needs for the bytes it held back.
  constexpr std::size_t Slice = std::size_t{1} << 20;
  Room.resize(std::size_t{1} << 20);
  Encoder.avail_in = 0;
  std::size_t part = 0;
  std::size_t fed = 0; // of Parts[part]
  uLong checksum = adler32_z(0, nullptr, 0);
  for (;;) {
    while (Encoder.avail_in == 0 && part < Parts.size()) {
      const std::span<const std::uint8_t> input = Parts[part];
      const std::size_t n = std::min(Slice, input.size() - fed);
      Encoder.next_in = input.data() + fed;
      Encoder.avail_in = n;
      // zlib takes no data (a null pointer, as an empty part may have) for a fresh start.
      if (n != 0)
        checksum = adler32_z(checksum, input.data() + fed, n);
      fed += n;
      if (fed == input.size())
        ++part, fed = 0;
    }
    Encoder.next_out = Room.data();
    Encoder.avail_out = Room.size();
    const std::size_t before = Encoder.avail_in;
    const lzma_ret r = lzma_code(&Encoder, part == Parts.size() ? LZMA_FINISH : LZMA_RUN);
    Out.Consumed(before - Encoder.avail_in);
    const std::size_t produced = Room.size() - Encoder.avail_out;
    Out.Write({Room.data(), produced});
    written += produced;
    CheckLzma(r);
    if (Limit && written + Lzma2Item::TrailerSize >= *Limit) {
      Out.Discard();
      return false;
    }
    if (r == LZMA_STREAM_END)
      break;
  }
  std::uint8_t trailer[Lzma2Item::TrailerSize];
  for (int i = 0; i < Lzma2Item::TrailerSize; ++i)
    trailer[i] = static_cast<std::uint8_t>(checksum >> (8 * (Lzma2Item::TrailerSize - 1 - i)));
  Out.Write(trailer);
  return true;
}

} // namespace vexa
