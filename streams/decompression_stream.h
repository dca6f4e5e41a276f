#pragma once
// A read-only stream that inflates zlib-format data (two-byte header, deflate data,
// Adler-32 trailer), reading the compressed bytes on demand from a source stream.
//
// Contract of Read on top of the stream contract:
// - Count bytes while the data lasts; fewer, then 0, when the source runs dry. A source
//   that runs dry before the end of the compressed data (a cut-short item) is no failure
//   here: the caller learns of it from StreamEnded(), which stays false.
// - Once the compressed data has ended, Read returns the bytes of that call and then 0;
//   whatever follows the data in the source is never looked at.
// - Corrupt data, a header that is not zlib's, an Adler-32 mismatch, or data that asks
//   for a preset dictionary raise EDecompressionError "error" (zlib's own texts are
//   never shown), and bytes already placed in Buffer by that call are not reported.
//   The inflater stays failed: a later Read that still has input raises again.
// - Out of memory raises std::bad_alloc.
//
// The source is not owned and must outlive the stream. Nothing but this stream should
// move it; if something does, the next Read puts it back.

#include <cstdint>

#include <zlib.h>

#include "streams/stream.h"

namespace vexa {

// A handler bound to an object; empty unless Code is set.
struct TNotifyEvent {
  void (*Code)(void* Data, TObject& Sender) = nullptr;
  void* Data = nullptr;
};

class TCustomZlibStream : public TStream {
public:
  static constexpr std::int32_t InputBufferSize = 65536;

  TCustomZlibStream(const TCustomZlibStream&) = delete;
  TCustomZlibStream& operator=(const TCustomZlibStream&) = delete;

  // Called after each refill of the input buffer, with the stream as Sender.
  TNotifyEvent OnProgress;

protected:
  // Records Source's position; the inflater or deflater itself is set up by the subclass.
  explicit TCustomZlibStream(TStream& Source);

  virtual void Progress(TObject& Sender);

  TStream& Source;
  // Where the compressed data began, and the source's position after the last refill.
  std::int32_t SourceStart;
  std::int32_t SourcePosition;
  z_stream ZRec{};
  std::uint8_t InputBuffer[InputBufferSize];
};

class TDecompressionStream : public TCustomZlibStream {
public:
  // Raises EDecompressionError "error" when the inflater cannot start, std::bad_alloc
  // when memory runs out; nothing stays allocated then.
  explicit TDecompressionStream(TStream& Source);
  ~TDecompressionStream() override;

  std::int32_t Read(void* Buffer, std::int32_t Count) override;
  // Always raises EDecompressionError "Invalid stream operation".
  std::int32_t Write(const void* Buffer, std::int32_t Count) override;
  // Returns the bytes delivered since creation or the last reset; so Position works and
  // Size raises. Seek(0, 0) starts over from where the compressed data began in the
  // source. Forward seeks (origin 1 with Offset >= 0, origin 0 past the current
  // position) read and discard; running out of data on the way raises EReadError.
  // Every other seek raises EDecompressionError "Invalid stream operation" and changes
  // nothing.
  std::int32_t Seek(std::int32_t Offset, std::uint16_t Origin) override;

  // True once the inflater has met the end of the compressed data (and its checksum
  // matched). A copy that ends while this is false was cut short.
  bool StreamEnded() const { return Ended; }

private:
  bool Ended = false;
};

} // namespace vexa
