#include "cli/compressor.h"

#include <algorithm>
#include <new>
#include <stdexcept>

#include <zlib.h>

#ifdef VEXA_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

namespace vexa {

// One engine: a whole item into a caller's buffer.
class detail::TDeflater {
public:
  virtual ~TDeflater() = default;
  virtual TDeflateEngine Engine() const = 0;
  // Enough room for the stream of any input of Size bytes.
  virtual std::size_t Bound(std::size_t Size) = 0;
  // The stream's length, or 0 when it does not fit into Capacity bytes (a zlib stream is
  // never empty, so 0 is unambiguous).
  virtual std::size_t Compress(std::span<const std::uint8_t> Input, std::uint8_t* Output,
                               std::size_t Capacity) = 0;
};

namespace {

class TZlibEngine final : public detail::TDeflater {
public:
  explicit TZlibEngine(int Level) {
    // zlib's scale ends at 9; libdeflate's 10 to 12 mean "harder still".
    const int r = deflateInit(&Z, std::min(Level, 9));
    if (r == Z_MEM_ERROR)
      throw std::bad_alloc();
    if (r != Z_OK)
      throw std::runtime_error("zlib deflate cannot start");
  }
  ~TZlibEngine() override { deflateEnd(&Z); }

  TDeflateEngine Engine() const override { return TDeflateEngine::Zlib; }

  std::size_t Bound(std::size_t Size) override {
    const uLong bound = deflateBound(&Z, static_cast<uLong>(Size));
    if (static_cast<std::size_t>(static_cast<uLong>(Size)) != Size || bound < Size)
      throw std::length_error("item too large to compress on this host");
    return bound;
  }

  std::size_t Compress(std::span<const std::uint8_t> Input, std::uint8_t* Output,
                       std::size_t Capacity) override {
    if (deflateReset(&Z) != Z_OK)
      throw std::runtime_error("zlib deflate cannot restart");
    // zlib counts in 32-bit units; larger items go through in slices.
    constexpr std::size_t Slice = std::size_t{1} << 30;
    std::size_t in = 0;
    std::size_t out = 0;
    for (;;) {
      const std::size_t inSlice = std::min(Input.size() - in, Slice);
      const std::size_t outSlice = std::min(Capacity - out, Slice);
      Z.next_in = const_cast<Bytef*>(Input.data() + in);
      Z.avail_in = static_cast<uInt>(inSlice);
      Z.next_out = Output + out;
      Z.avail_out = static_cast<uInt>(outSlice);
      const bool last = in + inSlice == Input.size();
      const int r = deflate(&Z, last ? Z_FINISH : Z_NO_FLUSH);
      in += inSlice - Z.avail_in;
      out += outSlice - Z.avail_out;
      if (r == Z_STREAM_END)
        return out;
      if (r == Z_MEM_ERROR)
        throw std::bad_alloc();
      if (r != Z_OK && r != Z_BUF_ERROR)
        throw std::runtime_error("zlib deflate failed");
      // Not finished with room left cannot happen; without room the stream does not fit.
      if (out == Capacity)
        return 0;
    }
  }

private:
  z_stream Z{};
};

#ifdef VEXA_HAVE_LIBDEFLATE
class TLibdeflateEngine final : public detail::TDeflater {
public:
  explicit TLibdeflateEngine(int Level) : Compressor(libdeflate_alloc_compressor(Level)) {
    if (!Compressor)
      throw std::bad_alloc();
  }
  ~TLibdeflateEngine() override { libdeflate_free_compressor(Compressor); }

  TDeflateEngine Engine() const override { return TDeflateEngine::Libdeflate; }

  std::size_t Bound(std::size_t Size) override {
    return libdeflate_zlib_compress_bound(Compressor, Size);
  }

  std::size_t Compress(std::span<const std::uint8_t> Input, std::uint8_t* Output,
                       std::size_t Capacity) override {
    return libdeflate_zlib_compress(Compressor, Input.data(), Input.size(), Output, Capacity);
  }

private:
  libdeflate_compressor* Compressor;
};
#endif

// The stream in a buffer of Capacity bytes, handed back at its own length; nothing when
// it does not fit. The scratch buffer is left uninitialised so that the pages the engine
// never writes are never touched.
std::optional<std::vector<std::uint8_t>> CompressInto(detail::TDeflater& Engine,
                                                      std::span<const std::uint8_t> Input,
                                                      std::size_t Capacity) {
  const std::unique_ptr<std::uint8_t[]> scratch(new std::uint8_t[Capacity]);
  const std::size_t n = Engine.Compress(Input, scratch.get(), Capacity);
  if (n == 0)
    return std::nullopt;
  return std::vector<std::uint8_t>(scratch.get(), scratch.get() + n);
}

} // namespace

bool TZlibCompressor::Available(TDeflateEngine Engine) {
#ifdef VEXA_HAVE_LIBDEFLATE
  return Engine == TDeflateEngine::Libdeflate || Engine == TDeflateEngine::Zlib;
#else
  return Engine == TDeflateEngine::Zlib;
#endif
}

TDeflateEngine TZlibCompressor::DefaultEngine() {
  return Available(TDeflateEngine::Libdeflate) ? TDeflateEngine::Libdeflate
                                               : TDeflateEngine::Zlib;
}

TZlibCompressor::TZlibCompressor(int Level, TDeflateEngine Engine) {
  if (Level < MinCompressionLevel || Level > MaxCompressionLevel)
    throw std::invalid_argument("compression level must be 0 to 12");
  if (!Available(Engine))
    throw std::invalid_argument("this build has no libdeflate");
#ifdef VEXA_HAVE_LIBDEFLATE
  if (Engine == TDeflateEngine::Libdeflate) {
    Impl = std::make_unique<TLibdeflateEngine>(Level);
    return;
  }
#endif
  Impl = std::make_unique<TZlibEngine>(Level);
}

TZlibCompressor::~TZlibCompressor() = default;

TDeflateEngine TZlibCompressor::Engine() const { return Impl->Engine(); }

std::vector<std::uint8_t> TZlibCompressor::Compress(std::span<const std::uint8_t> Input) {
  std::optional<std::vector<std::uint8_t>> stream =
      CompressInto(*Impl, Input, Impl->Bound(Input.size()));
  if (!stream)
    throw std::logic_error("compressed stream exceeds the engine's own bound");
  return std::move(*stream);
}

std::optional<std::vector<std::uint8_t>>
TZlibCompressor::CompressIfSmaller(std::span<const std::uint8_t> Input) {
  // libdeflate gives up when less than a machine word of room would remain, so the
  // buffer goes a little beyond the longest stream worth keeping.
  constexpr std::size_t Slack = 32;
  std::optional<std::vector<std::uint8_t>> stream =
      CompressInto(*Impl, Input, Input.size() + Slack);
  if (stream && stream->size() >= Input.size())
    return std::nullopt;
  return stream;
}

} // namespace vexa
