// TDecompressionStream over arbitrary bytes, read to the end with varying read sizes,
// against zlib's own inflate of the same bytes in one pass.
//
// Input: u32 read-size seed, u8 mode, then the compressed bytes.
//   mode bit 0: the source hands out its bytes in short pieces
//   mode bit 1: skip forward with Seek(n, 1) partway
//   mode bit 2: read a while, Seek(0, 0) back to the start, then read to the end
// Properties: every byte delivered equals zlib's byte at that offset; the stream ends
// (StreamEnded) exactly when zlib reaches the end of the data, fails exactly where zlib
// fails, and is cut short (0 without an end) exactly where zlib runs out of input.

#include <zlib.h>

#include <memory>
#include <new>

#include "fuzz_input.h"
#include "streams/decompression_stream.h"

namespace {

using namespace vexa;
using vexa::fuzz::TInput;

// Output beyond this is not compared: a few bytes can inflate to gigabytes. It still
// spans several of the stream's 65536-byte input refills and the copy buffer's 61440.
constexpr std::size_t OutputLimit = 256 << 10;
// Tiny reads of a large output would spend the run on one input.
constexpr int MaxReads = 2000;

enum class TEnd { Ended, Failed, CutShort, Limit };

// zlib's own inflate of the whole input in one call, up to OutputLimit bytes.
struct TReference {
  std::unique_ptr<std::uint8_t[]> Data{new std::uint8_t[OutputLimit]};
  std::size_t Size = 0;
  TEnd End = TEnd::Limit;
};

TReference Inflate(std::span<const std::uint8_t> In) {
  TReference ref;
  z_stream z{};
  inflateInit(&z);
  z.next_in = const_cast<Bytef*>(In.data());
  z.avail_in = static_cast<uInt>(In.size());
  z.next_out = ref.Data.get();
  z.avail_out = static_cast<uInt>(OutputLimit);
  const int r = inflate(&z, Z_NO_FLUSH);
  if (r == Z_STREAM_END)
    ref.End = TEnd::Ended;
  else if (r == Z_NEED_DICT || r == Z_DATA_ERROR || r == Z_STREAM_ERROR)
    ref.End = TEnd::Failed;
  else if (z.avail_out != 0)
    ref.End = TEnd::CutShort;
  ref.Size = z.total_out;
  inflateEnd(&z);
  return ref;
}

enum class TOutcome { Finished, Failed, Stopped };

// Reads until Read returns 0 or Limit bytes came, checking each byte against Ref from
// offset Start. Failed: the stream raised EDecompressionError; Stopped: MaxReads reads
// did not get there.
TOutcome ReadAndCompare(TDecompressionStream& Stream, const TReference& Ref, std::size_t Start,
                        std::size_t Limit, fuzz::TReadSizes& Sizes, std::size_t& Got) {
  static std::uint8_t buffer[fuzz::TReadSizes::Largest];
  Got = Start;
  for (int reads = 0; Got < Limit; ++reads) {
    if (reads == MaxReads)
      return TOutcome::Stopped;
    const std::int32_t want = Sizes.Next();
    std::int32_t n;
    try {
      n = Stream.Read(buffer, want);
    } catch (const EDecompressionError& e) {
      FUZZ_CHECK(e.message() == "error");
      return TOutcome::Failed;
    }
    FUZZ_CHECK(n >= 0 && n <= want);
    FUZZ_CHECK(Got + n <= Ref.Size || Ref.End == TEnd::Limit);
    const std::size_t comparable = std::min<std::size_t>(n, Ref.Size - std::min(Got, Ref.Size));
    FUZZ_CHECK(std::memcmp(buffer, Ref.Data.get() + Got, comparable) == 0);
    Got += static_cast<std::size_t>(n);
    FUZZ_CHECK(Stream.Position() == static_cast<std::int32_t>(Got));
    if (n == 0 && want != 0)
      break;
  }
  return TOutcome::Finished;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  TInput in(Data, Size);
  fuzz::TReadSizes sizes(in.U32());
  const std::uint8_t mode = in.U8();
  const auto compressed = in.Rest();
  const TReference ref = Inflate(compressed);

  fuzz::TSourceStream source(compressed, mode & 1, static_cast<std::uint32_t>(Size));

  try {
    TDecompressionStream stream(source);
    std::size_t got = 0;
    if (mode & 4) {
      ReadAndCompare(stream, ref, 0, 70000, sizes, got);
      FUZZ_CHECK(stream.Seek(0, soBeginning) == 0);
    }
    std::size_t start = 0;
    if (mode & 2) {
      const TOutcome outcome = ReadAndCompare(stream, ref, 0, 5000, sizes, got);
      if (outcome == TOutcome::Failed)
        FUZZ_CHECK(ref.End == TEnd::Failed);
      if (outcome != TOutcome::Finished)
        return 0;
      const std::int32_t skip = sizes.Next();
      try {
        FUZZ_CHECK(stream.Seek(skip, soCurrent) == static_cast<std::int32_t>(got + skip));
        start = got + static_cast<std::size_t>(skip);
      } catch (const EReadError&) {
        // The data ended (or ran dry) before skip bytes were there.
        FUZZ_CHECK(ref.End == TEnd::Ended || ref.End == TEnd::CutShort);
        FUZZ_CHECK(ref.Size < got + skip);
        return 0;
      } catch (const EDecompressionError&) {
        FUZZ_CHECK(ref.End == TEnd::Failed);
        return 0;
      }
    }
    const TOutcome outcome = ReadAndCompare(stream, ref, start, OutputLimit, sizes, got);
    if (outcome == TOutcome::Failed)
      FUZZ_CHECK(ref.End == TEnd::Failed);
    if (outcome != TOutcome::Finished || got >= OutputLimit)
      return 0;
    FUZZ_CHECK(ref.End != TEnd::Failed);
    FUZZ_CHECK(got == ref.Size);
    FUZZ_CHECK(stream.StreamEnded() == (ref.End == TEnd::Ended));
    // Once it has ended or run dry, it stays so.
    std::uint8_t one;
    FUZZ_CHECK(stream.Read(&one, 1) == 0);
  } catch (const std::bad_alloc&) {
    std::abort(); // inflating never needs more than zlib's window
  }
  return 0;
}
