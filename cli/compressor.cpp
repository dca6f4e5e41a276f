#include "cli/compressor.h"

#include <algorithm>
#include <new>
#include <stdexcept>

#include <libdeflate.h>
#include <zlib.h>

namespace vexa {

// One engine: a whole item into an output, up to an optional limit on the stream's length.
class detail::TDeflater {
public:
  virtual ~TDeflater() = default;
  virtual TDeflateEngine Engine() const = 0;
  // Writes the stream of Input to Out and returns true; with a Limit, gives up once the
  // stream reaches Limit bytes, discards it from Out and returns false.
  virtual bool Compress(std::span<const std::uint8_t> Input, TStreamOutput& Out,
                        std::optional<std::size_t> Limit) = 0;
};

namespace {

class TZlibEngine final : public detail::TDeflater {
public:
  explicit TZlibEngine(int Level) : Buffer(OutputSlice) {
    // zlib's scale ends at 9; libdeflate's 10 to 12 mean "harder still".
    const int r = deflateInit(&Z, std::min(Level, 9));
    if (r == Z_MEM_ERROR)
      throw std::bad_alloc();
    if (r != Z_OK)
      throw std::runtime_error("zlib deflate cannot start");
  }
  ~TZlibEngine() override { deflateEnd(&Z); }

  TDeflateEngine Engine() const override { return TDeflateEngine::Zlib; }

  // Without Z_FLUSH, deflate's decisions depend on the bytes only, never on how they
  // arrive, so slicing the input keeps the stream of one call over all of it.
  bool Compress(std::span<const std::uint8_t> Input, TStreamOutput& Out,
                std::optional<std::size_t> Limit) override {
    if (deflateReset(&Z) != Z_OK)
      throw std::runtime_error("zlib deflate cannot restart");
    std::size_t given = 0;
    std::size_t written = 0;
    for (;;) {
      if (Z.avail_in == 0 && given < Input.size()) {
        const std::size_t slice = std::min(Input.size() - given, InputSlice);
        Z.next_in = const_cast<Bytef*>(Input.data() + given);
        Z.avail_in = static_cast<uInt>(slice);
        given += slice;
        Out.Consumed(slice);
      }
      Z.next_out = Buffer.data();
      Z.avail_out = static_cast<uInt>(Buffer.size());
      const int r = deflate(&Z, given == Input.size() ? Z_FINISH : Z_NO_FLUSH);
      if (r == Z_MEM_ERROR)
        throw std::bad_alloc();
      if (r != Z_OK && r != Z_STREAM_END)
        throw std::runtime_error("zlib deflate failed");
      const std::size_t produced = Buffer.size() - Z.avail_out;
      Out.Write({Buffer.data(), produced});
      written += produced;
      if (Limit && written >= *Limit) {
        Out.Discard();
        return false;
      }
      if (r == Z_STREAM_END)
        return true;
    }
  }

private:
  static constexpr std::size_t InputSlice = std::size_t{1} << 20;
  static constexpr std::size_t OutputSlice = std::size_t{256} << 10;
  z_stream Z{};
  std::vector<Bytef> Buffer;
};

class TLibdeflateEngine final : public detail::TDeflater {
public:
  explicit TLibdeflateEngine(int Level) : Compressor(libdeflate_alloc_compressor(Level)) {
    if (!Compressor)
      throw std::bad_alloc();
  }
  ~TLibdeflateEngine() override { libdeflate_free_compressor(Compressor); }

  TDeflateEngine Engine() const override { return TDeflateEngine::Libdeflate; }

  bool Compress(std::span<const std::uint8_t> Input, TStreamOutput& Out,
                std::optional<std::size_t> Limit) override {
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

private:
  libdeflate_compressor* Compressor;
};

} // namespace

void TBytesOutput::Write(std::span<const std::uint8_t> Bytes) {
  Stream.insert(Stream.end(), Bytes.begin(), Bytes.end());
}

std::span<std::uint8_t> TBytesOutput::Reserve(std::size_t Capacity) {
  ReservedAt = Stream.size();
  Stream.resize(ReservedAt + Capacity);
  return {Stream.data() + ReservedAt, Capacity};
}

void TBytesOutput::Commit(std::size_t Count) { Stream.resize(ReservedAt + Count); }

TZlibCompressor::TZlibCompressor(int Level, TDeflateEngine Engine) {
  if (Level < MinCompressionLevel || Level > MaxCompressionLevel)
    throw std::invalid_argument("compression level must be 0 to 12");
  if (Engine == TDeflateEngine::Libdeflate)
    Impl = std::make_unique<TLibdeflateEngine>(Level);
  else
    Impl = std::make_unique<TZlibEngine>(Level);
}

TZlibCompressor::~TZlibCompressor() = default;

TDeflateEngine TZlibCompressor::Engine() const { return Impl->Engine(); }

std::vector<std::uint8_t> TZlibCompressor::Compress(std::span<const std::uint8_t> Input) {
  TBytesOutput out;
  Impl->Compress(Input, out, std::nullopt);
  return std::move(out.Stream);
}

bool TZlibCompressor::CompressIfSmaller(std::span<const std::uint8_t> Input, TStreamOutput& Out) {
  return Impl->Compress(Input, Out, Input.size());
}

} // namespace vexa
