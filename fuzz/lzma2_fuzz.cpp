// TLzma2DecompressionStream over arbitrary item data, read to the end with varying read
// sizes, against liblzma's own raw decoder of the same bytes.
//
// Input: u32 read-size seed, u8 mode, u32 plain size (taken modulo 1 MiB + 1), then the
// item's data (prefix, raw LZMA2 stream, Adler-32 trailer).
//   mode bit 0: the source hands out its bytes in short pieces
// Properties: the stream never delivers more than the plain size nor needs more memory than
// the dictionary that size allows; every byte it delivers equals liblzma's; it ends
// (StreamEnded) exactly when liblzma decodes the whole stream to the plain size, the
// trailer holds the Adler-32 of those bytes and nothing follows it.

#include <lzma.h>
#include <zlib.h>

#include <cstdlib>
#include <memory>
#include <new>

#include "archive/lzma2_item.h"
#include "fuzz_input.h"
#include "streams/lzma2_decompression_stream.h"

namespace {

using namespace vexa;
using vexa::fuzz::TInput;

constexpr std::uint32_t MaxPlainSize = 1 << 20;
constexpr int MaxReads = 4000;

// liblzma's verdict on the whole item: its bytes, and whether the item is sound.
struct TReference {
  std::unique_ptr<std::uint8_t[]> Data{new std::uint8_t[MaxPlainSize + 1]};
  std::size_t Size = 0;
  bool Sound = false;
};

TReference Decode(std::span<const std::uint8_t> Item, std::uint32_t PlainSize) {
  TReference ref;
  if (Item.size() < Lzma2Item::PrefixSize)
    return ref;
  const std::uint8_t filter = Item[Lzma2Item::FilterOffset];
  const std::uint8_t dictionary = Item[Lzma2Item::DictionaryOffset];
  if ((filter != Lzma2Item::NoFilter && filter != Lzma2Item::X86Filter) ||
      dictionary > Lzma2Item::SmallestDictionaryByte(PlainSize))
    return ref;
  lzma_filter lzma2 = {LZMA_FILTER_LZMA2, nullptr};
  if (lzma_properties_decode(&lzma2, nullptr, &dictionary, 1) != LZMA_OK)
    return ref;
  const lzma_filter chain[] = {{LZMA_FILTER_X86, nullptr}, lzma2, {LZMA_VLI_UNKNOWN, nullptr}};
  std::size_t in = Lzma2Item::PrefixSize;
  const lzma_ret r = lzma_raw_buffer_decode(filter == Lzma2Item::X86Filter ? chain : chain + 1,
                                            nullptr, Item.data(), &in, Item.size(), ref.Data.get(),
                                            &ref.Size, PlainSize + 1);
  std::free(lzma2.options);
  if (r != LZMA_OK || ref.Size != PlainSize || Item.size() - in != Lzma2Item::TrailerSize)
    return ref;
  const uLong checksum = adler32(1, ref.Data.get(), static_cast<uInt>(ref.Size));
  const std::uint8_t* trailer = Item.data() + in;
  ref.Sound = checksum == (std::uint32_t{trailer[0]} << 24 | std::uint32_t{trailer[1]} << 16 |
                           std::uint32_t{trailer[2]} << 8 | trailer[3]);
  return ref;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  TInput in(Data, Size);
  fuzz::TReadSizes sizes(in.U32());
  const std::uint8_t mode = in.U8();
  const std::uint32_t plainSize = in.U32() % (MaxPlainSize + 1);
  const auto item = in.Rest();
  const TReference ref = Decode(item, plainSize);

  fuzz::TSourceStream source(item, mode & 1, static_cast<std::uint32_t>(Size));
  static std::uint8_t buffer[fuzz::TReadSizes::Largest];
  std::size_t got = 0;
  bool failed = false;
  try {
    TLzma2DecompressionStream stream(source, plainSize);
    for (int reads = 0; reads < MaxReads; ++reads) {
      const std::int32_t want = sizes.Next();
      std::int32_t n;
      try {
        n = stream.Read(buffer, want);
      } catch (const EDecompressionError& e) {
        FUZZ_CHECK(e.message() == "error");
        failed = true;
        break;
      }
      FUZZ_CHECK(n >= 0 && n <= want);
      FUZZ_CHECK(got + n <= plainSize);
      // liblzma decoded at least as far wherever the item is sound.
      if (ref.Sound)
        FUZZ_CHECK(std::memcmp(buffer, ref.Data.get() + got, n) == 0);
      got += static_cast<std::size_t>(n);
      FUZZ_CHECK(stream.Position() == static_cast<std::int32_t>(got));
      if (n == 0 && want != 0)
        break;
    }
    if (stream.StreamEnded()) {
      FUZZ_CHECK(ref.Sound && got == plainSize);
    } else if (ref.Sound && !failed && got == plainSize) {
      FUZZ_CHECK(false); // every byte came, yet a sound item did not end
    }
    if (ref.Sound)
      FUZZ_CHECK(!failed);
  } catch (const std::bad_alloc&) {
    std::abort(); // the dictionary is at most the plain size, 1 MiB
  }
  return 0;
}
