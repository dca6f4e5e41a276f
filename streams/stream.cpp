#include "streams/stream.h"

namespace vexa {

std::int32_t TStream::Size() {
  const std::int32_t p = Seek(0, soCurrent);
  const std::int32_t s = Seek(0, soEnd);
  Seek(p, soBeginning);
  return s;
}

void TStream::ReadBuffer(void* Buffer, std::int32_t Count) {
  if (Count != 0 && Read(Buffer, Count) != Count)
    throw EReadError();
}

void TStream::WriteBuffer(const void* Buffer, std::int32_t Count) {
  if (Count != 0 && Write(Buffer, Count) != Count)
    throw EWriteError();
}

void TStream::ReadAndDiscard(std::int64_t Count) {
  constexpr std::int32_t ScratchSize = 4096;
  std::uint8_t scratch[ScratchSize];
  for (std::int64_t i = Count / ScratchSize; i > 0; --i)
    ReadBuffer(scratch, ScratchSize);
  ReadBuffer(scratch, static_cast<std::int32_t>(Count % ScratchSize));
}

std::int32_t BoundedSeekTarget(std::int32_t Offset, std::uint16_t Origin, std::int32_t Position,
                               std::int32_t Size) {
  std::int64_t target;
  switch (Origin) {
  case soBeginning:
    target = Offset;
    break;
  case soCurrent:
    target = std::int64_t{Position} + Offset;
    break;
  case soEnd:
    target = std::int64_t{Size} + Offset;
    break;
  default:
    throw TStreamReadException();
  }
  if (target < 0 || target > Size)
    throw TStreamReadException();
  return static_cast<std::int32_t>(target);
}

std::int32_t TReadOnlyStream::Write(const void*, std::int32_t) { throw TObject(); }

} // namespace vexa
