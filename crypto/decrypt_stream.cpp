#include "crypto/decrypt_stream.h"

#include <cstring>
#include <limits>
#include <new>

namespace vexa {

TBuffer::TBuffer(std::int32_t Size) : Bytes(new std::uint8_t[Size]), BufSize(Size) {}

TCryptStream::TCryptStream(std::unique_ptr<TCryptor> Cipher, TStream& Source)
    : Source(Source), Cipher(std::move(Cipher)) {
  const std::int32_t bs = this->Cipher->BlockSize();
  if (bs < 1 || bs > MaxBlockSize)
    throw TObject(); // a cipher this stream cannot serve is a programming error
}

TDeCryptStream::TDeCryptStream(std::unique_ptr<TCryptor> Cipher, std::int32_t PlainSize,
                               TStream& Source)
    : TCryptStream(std::move(Cipher), Source), FSize(PlainSize) {
  // A length past 2 GiB (a damaged StoredSize read as signed) would make every Read
  // return 0 at once, and the item would come out empty as if that were its data.
  if (PlainSize < 0)
    throw TStreamReadException();
}

std::int32_t TDeCryptStream::Read(void* Buffer, std::int32_t Count) {
  auto* out = static_cast<std::uint8_t*>(Buffer);
  if (Count > FSize - FPosition)
    Count = FSize - FPosition;
  if (Count < 0)
    Count = 0;

  if (Count <= LeftoverCount) {
    std::memcpy(out, Leftover, static_cast<std::size_t>(Count));
    std::memmove(Leftover, Leftover + Count, static_cast<std::size_t>(LeftoverCount - Count));
    LeftoverCount -= Count;
  } else {
    const std::int32_t bs = Cipher->BlockSize();
    std::memcpy(out, Leftover, static_cast<std::size_t>(LeftoverCount));
    const std::int32_t need = Count - LeftoverCount;
    const std::int64_t fill64 = (std::int64_t{bs} + need - 1) / bs * bs;
    if (fill64 + bs > std::numeric_limits<std::int32_t>::max())
      throw std::bad_alloc();
    const auto fill = static_cast<std::int32_t>(fill64);
    LastFill = fill;

    if (Scratch && Scratch->Size() < fill)
      Scratch.reset();
    if (!Scratch)
      Scratch = std::make_unique<TBuffer>(bs + fill);
    std::uint8_t* const scratch = Scratch->Data();

    // An intact item holds its padded length, so this is one read; deciphering bytes
    // that were never read would hand out garbage as item data.
    for (std::int32_t got = 0; got < fill;) {
      const std::int32_t n = Source.Read(scratch + got, fill - got);
      if (n <= 0)
        throw TStreamReadException();
      got += n;
    }
    Cipher->Decrypt(scratch, fill);
    TotalFill += fill;

    std::memcpy(out + LeftoverCount, scratch, static_cast<std::size_t>(need));
    LeftoverCount = fill - need;
    std::memcpy(Leftover, scratch + need, static_cast<std::size_t>(LeftoverCount));
  }

  LastRead = Count;
  FPosition += Count;
  return Count;
}

std::int32_t TDeCryptStream::Seek(std::int32_t Offset, std::uint16_t Origin) {
  FPosition = BoundedSeekTarget(Offset, Origin, FPosition, FSize);
  return FPosition;
}

} // namespace vexa
