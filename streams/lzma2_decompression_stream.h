#pragma once
// A read-only stream that decodes the data of an LZMA2 item (archive/lzma2_item.h), read
// on demand from a source stream: the item's bytes, and those of the items that continue
// its stream, PlainSize bytes in all.
//
// Contract of Read on top of the stream contract, as the zlib stream's:
// - Count bytes while the data lasts; fewer, then 0, when the source runs dry. A source
//   that runs dry before the end of the stream (a cut-short item) is no failure here: the
//   caller learns of it from StreamEnded(), which stays false.
// - Raise EDecompressionError "error" for: an unknown filter; a dictionary larger than
//   LZMA2 needs for PlainSize bytes or than an encoder writes; corrupt data; a stream that
//   holds more or fewer than PlainSize bytes; an Adler-32 mismatch; source bytes after the
//   trailer. The bytes decoded before the damage was found come out first (never more than
//   PlainSize), and the Read after them raises, so the damage of a block's stream shows at
//   the item it concerns: a stream that ends wrong, after the last item's bytes. A raising
//   Read reports none of the bytes placed in Buffer by that call. The stream stays failed.
// - Out of memory raises std::bad_alloc.
// Memory: the dictionary the stream names, and two 64 KiB buffers.
//
// The source is not owned and must outlive the stream. Nothing but this stream should
// move it; if something does, the next Read puts it back.

#include <cstdint>

#include <Lzma2Dec.h>

#include "streams/stream.h"

namespace vexa {

class TLzma2DecompressionStream : public TReadOnlyStream {
public:
  static constexpr std::int32_t BufferSize = 65536;

  TLzma2DecompressionStream(TStream& Source, std::uint64_t PlainSize);
  ~TLzma2DecompressionStream() override;
  TLzma2DecompressionStream(const TLzma2DecompressionStream&) = delete;
  TLzma2DecompressionStream& operator=(const TLzma2DecompressionStream&) = delete;

  std::int32_t Read(void* Buffer, std::int32_t Count) override;
  // Returns the bytes delivered so far, so Position works. Forward seeks read and
  // discard; running out of data on the way raises EReadError. Every other seek raises
  // EDecompressionError "Invalid stream operation" and changes nothing.
  std::int32_t Seek(std::int32_t Offset, std::uint16_t Origin) override;

  // True once the stream's end marker came after exactly PlainSize bytes, its checksum
  // matched and nothing followed it. A copy that ends while this is false was cut short.
  bool StreamEnded() const { return Ended; }

private:
  // Reads the prefix and sets up the decoder; false when the source runs dry first.
  bool Start();
  // Makes more output ready; false when the source ran dry or the stream has ended.
  bool Decode();
  bool RefillInput();
  // Checks the stream's end: its size, its trailer and that nothing follows.
  void Finish();
  // Marks the stream failed once what is ready has come out; true when something has.
  bool Fail();
  // Makes every decoded byte ready, the filter's last ones included.
  void ConvertRest();
  // Hands Output[Ready, NewReady) out, into the checksum.
  void MakeReady(std::int32_t NewReady);
  // Reads Count more bytes of the item's data, past what the decoder took.
  bool ReadRest(std::uint8_t* Buffer, std::int32_t Count);

  TStream& Source;
  const std::uint64_t PlainSize;
  std::int32_t SourcePosition;
  bool Started = false;
  // Finished: the decoder met the end marker; Ended: the trailer checked out too.
  bool Finished = false;
  bool Ended = false;
  bool Failed = false;
  std::uint8_t Filter = 0;
  std::uint32_t FilterState = 0;
  // Where Output[Ready] is in the plain bytes: the filter's instruction pointer.
  std::uint32_t FilterPosition = 0;
  std::uint32_t Checksum = 1;
  std::uint64_t Decoded = 0;
  std::uint64_t Delivered = 0;
  CLzma2Dec Decoder;
  std::int32_t InputHead = 0;
  std::int32_t InputEnd = 0;
  // Output[Head, Ready) is ready to hand out; Output[Ready, End) still awaits the filter,
  // which converts an instruction only once the bytes after it are known.
  std::int32_t Head = 0;
  std::int32_t Ready = 0;
  std::int32_t End = 0;
  std::uint8_t Input[BufferSize];
  std::uint8_t Output[BufferSize];
};

} // namespace vexa
