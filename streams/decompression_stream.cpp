#include "streams/decompression_stream.h"

#include <cstddef>
#include <cstdint>
#include <new>

namespace vexa {

namespace {

// zlib's allocation hooks, on the program's heap. They must not throw through zlib's C
// frames: a failed allocation returns null, zlib reports Z_MEM_ERROR, and the stream
// raises std::bad_alloc from its own frame.
voidpf ZAlloc(voidpf, uInt Items, uInt Size) {
  if (Size != 0 && Items > SIZE_MAX / Size)
    return Z_NULL;
  return ::operator new (std::size_t{Items} * Size, std::nothrow);
}

void ZFree(voidpf, voidpf Address) { ::operator delete(Address); }

// Turns a negative zlib result into the stream's failure.
void Check(int Result) {
  if (Result == Z_MEM_ERROR)
    throw std::bad_alloc();
  if (Result < 0)
    throw EDecompressionError("error");
}

[[noreturn]] void InvalidOperation() { throw EDecompressionError("Invalid stream operation"); }

} // namespace

TCustomZlibStream::TCustomZlibStream(TStream& Source)
    : Source(Source), SourceStart(Source.Position()), SourcePosition(SourceStart) {
  ZRec.zalloc = ZAlloc;
  ZRec.zfree = ZFree;
  ZRec.next_in = InputBuffer;
  ZRec.avail_in = 0;
}

void TCustomZlibStream::Progress(TObject& Sender) {
  if (OnProgress.Code)
    OnProgress.Code(OnProgress.Data, Sender);
}

TDecompressionStream::TDecompressionStream(TStream& Source) : TCustomZlibStream(Source) {
  // The last step: when it fails, zlib has released what it took, and nothing after it
  // can fail, so the destructor's inflateEnd covers every stream that was created.
  Check(inflateInit(&ZRec));
}

TDecompressionStream::~TDecompressionStream() { inflateEnd(&ZRec); }

std::int32_t TDecompressionStream::Read(void* Buffer, std::int32_t Count) {
  if (Count <= 0 || Ended)
    return 0;
  ZRec.next_out = static_cast<Bytef*>(Buffer);
  ZRec.avail_out = static_cast<uInt>(Count);
  if (Source.Position() != SourcePosition)
    Source.SetPosition(SourcePosition);
  while (ZRec.avail_out > 0) {
    if (ZRec.avail_in == 0) {
      const std::int32_t n = Source.Read(InputBuffer, InputBufferSize);
      if (n <= 0) {
        // zlib may still hold output decoded from input it has taken (the rest of a
        // match, a literal that found no room in the last call); it comes out only by
        // another call. Z_BUF_ERROR here just says there was nothing left.
        ZRec.next_in = InputBuffer;
        const int r = inflate(&ZRec, Z_NO_FLUSH);
        if (r == Z_NEED_DICT)
          throw EDecompressionError("error");
        if (r != Z_BUF_ERROR)
          Check(r);
        Ended = r == Z_STREAM_END;
        break;
      }
      ZRec.next_in = InputBuffer;
      ZRec.avail_in = static_cast<uInt>(n);
      SourcePosition = Source.Position();
      Progress(*this);
    }
    const int r = inflate(&ZRec, Z_NO_FLUSH);
    // A preset dictionary has no place in an item: zlib would only ask for it again.
    if (r == Z_NEED_DICT)
      throw EDecompressionError("error");
    Check(r);
    if (r == Z_STREAM_END) {
      // Further inflate calls would consume and produce nothing; what follows the
      // compressed data is ignored.
      Ended = true;
      break;
    }
  }
  return Count - static_cast<std::int32_t>(ZRec.avail_out);
}

std::int32_t TDecompressionStream::Write(const void*, std::int32_t) { InvalidOperation(); }

std::int32_t TDecompressionStream::Seek(std::int32_t Offset, std::uint16_t Origin) {
  const std::int64_t total = ZRec.total_out;
  if (Offset == 0 && Origin == soBeginning) {
    Check(inflateReset(&ZRec));
    ZRec.next_in = InputBuffer;
    ZRec.avail_in = 0;
    Ended = false;
    Source.SetPosition(SourceStart);
    SourcePosition = SourceStart;
  } else if (Origin == soCurrent && Offset >= 0) {
    ReadAndDiscard(Offset);
  } else if (Origin == soBeginning && Offset > total) {
    ReadAndDiscard(Offset - total);
  } else {
    InvalidOperation();
  }
  return static_cast<std::int32_t>(ZRec.total_out);
}

} // namespace vexa
