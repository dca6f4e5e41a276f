#include "streams/lzma2_decompression_stream.h"

#include <Bra.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "archive/lzma2_item.h"

namespace vexa {

namespace {

// The decoder's allocations, on the program's heap; they must not throw through its C
// frames, so a failure returns null and the stream raises std::bad_alloc itself.
void* SdkAlloc(void*, std::size_t Size) { return ::operator new(Size, std::nothrow); }
void SdkFree(void*, void* Address) { ::operator delete(Address); }
ISzAlloc Allocator = {SdkAlloc, SdkFree};

[[noreturn]] void Damaged() { throw EDecompressionError("error"); }

} // namespace

TLzma2DecompressionStream::TLzma2DecompressionStream(TStream& Source, std::uint64_t PlainSize)
    : Source(Source), PlainSize(PlainSize), SourcePosition(Source.Position()) {
  Lzma2Dec_Construct(&Decoder);
}

TLzma2DecompressionStream::~TLzma2DecompressionStream() { Lzma2Dec_Free(&Decoder, &Allocator); }

std::int32_t TLzma2DecompressionStream::Read(void* Buffer, std::int32_t Count) {
  if (Count <= 0)
    return 0;
  if (Source.Position() != SourcePosition)
    Source.SetPosition(SourcePosition);
  auto* out = static_cast<std::uint8_t*>(Buffer);
  std::int32_t done = 0;
  try {
    while (done < Count) {
      if (Head == Ready && (Failed || !Decode()))
        break;
      const std::int32_t n = std::min(Count - done, Ready - Head);
      std::memcpy(out + done, Output + Head, static_cast<std::size_t>(n));
      Head += n;
      done += n;
    }
    // The bytes decoded before the damage came out first; the damage shows now.
    if (done == 0 && Failed)
      Damaged();
  } catch (const EDecompressionError&) {
    Failed = true;
    throw;
  }
  Delivered += static_cast<std::uint64_t>(done);
  return done;
}

bool TLzma2DecompressionStream::Start() {
  std::uint8_t prefix[Lzma2Item::PrefixSize];
  for (std::int32_t got = 0; got < Lzma2Item::PrefixSize;) {
    const std::int32_t n = Source.Read(prefix + got, Lzma2Item::PrefixSize - got);
    if (n <= 0)
      return false;
    got += n;
    SourcePosition = Source.Position();
  }
  Filter = prefix[Lzma2Item::FilterOffset];
  const std::uint8_t dictionary = prefix[Lzma2Item::DictionaryOffset];
  if (Filter != Lzma2Item::NoFilter && Filter != Lzma2Item::X86Filter)
    Damaged();
  if (dictionary > Lzma2Item::SmallestDictionaryByte(PlainSize))
    Damaged();
  const SRes r = Lzma2Dec_Allocate(&Decoder, dictionary, &Allocator);
  if (r == SZ_ERROR_MEM)
    throw std::bad_alloc();
  if (r != SZ_OK)
    Damaged();
  Lzma2Dec_Init(&Decoder);
  x86_Convert_Init(FilterState);
  Started = true;
  return true;
}

bool TLzma2DecompressionStream::RefillInput() {
  const std::int32_t n = Source.Read(Input, BufferSize);
  if (n <= 0)
    return false;
  SourcePosition = Source.Position();
  InputHead = 0;
  InputEnd = n;
  return true;
}

bool TLzma2DecompressionStream::Decode() {
  if (Finished || (!Started && !Start()))
    return false;
  // What the filter held back goes to the front, to be converted with what follows it.
  std::memmove(Output, Output + Ready, static_cast<std::size_t>(End - Ready));
  End -= Ready;
  Head = Ready = 0;
  for (;;) {
    if (InputHead == InputEnd && !RefillInput())
      return false;
    // One byte more than the items hold shows a stream that is too long.
    SizeT outLength =
        static_cast<SizeT>(std::min<std::uint64_t>(BufferSize - End, PlainSize - Decoded + 1));
    SizeT inLength = static_cast<SizeT>(InputEnd - InputHead);
    ELzmaStatus status;
    if (Lzma2Dec_DecodeToBuf(&Decoder, Output + End, &outLength, Input + InputHead, &inLength,
                             LZMA_FINISH_ANY, &status) != SZ_OK)
      return Fail();
    // Input left and room for output, yet nothing moved: the decoder would stall.
    if (inLength == 0 && outLength == 0 && status != LZMA_STATUS_FINISHED_WITH_MARK)
      return Fail();
    InputHead += static_cast<std::int32_t>(inLength);
    End += static_cast<std::int32_t>(outLength);
    Decoded += outLength;
    if (Decoded > PlainSize) {
      // The items' bytes come out whole; the byte past them is the damage.
      End -= static_cast<std::int32_t>(Decoded - PlainSize);
      Decoded = PlainSize;
      ConvertRest();
      return Fail();
    }
    if (status == LZMA_STATUS_FINISHED_WITH_MARK) {
      Finished = true;
      Finish();
      return Ready > Head;
    }
    if (Filter == Lzma2Item::X86Filter) {
      const SizeT n = x86_Convert(Output + Ready, static_cast<SizeT>(End - Ready), FilterPosition,
                                  &FilterState, 0);
      FilterPosition += static_cast<std::uint32_t>(n);
      MakeReady(Ready + static_cast<std::int32_t>(n));
    } else {
      MakeReady(End);
    }
    if (Ready > Head)
      return true;
  }
}

bool TLzma2DecompressionStream::Fail() {
  Failed = true;
  return Ready > Head;
}

void TLzma2DecompressionStream::ConvertRest() {
  // The filter leaves the stream's last few bytes as they are.
  if (Filter == Lzma2Item::X86Filter)
    x86_Convert(Output + Ready, static_cast<SizeT>(End - Ready), FilterPosition, &FilterState, 0);
  MakeReady(End);
}

void TLzma2DecompressionStream::MakeReady(std::int32_t NewReady) {
  Checksum = static_cast<std::uint32_t>(
      adler32(Checksum, Output + Ready, static_cast<uInt>(NewReady - Ready)));
  Ready = NewReady;
}

bool TLzma2DecompressionStream::ReadRest(std::uint8_t* Buffer, std::int32_t Count) {
  for (std::int32_t got = 0; got < Count;) {
    if (InputHead == InputEnd && !RefillInput())
      return false;
    const std::int32_t n = std::min(Count - got, InputEnd - InputHead);
    std::memcpy(Buffer + got, Input + InputHead, static_cast<std::size_t>(n));
    InputHead += n;
    got += n;
  }
  return true;
}

void TLzma2DecompressionStream::Finish() {
  ConvertRest();
  if (Decoded != PlainSize) {
    Fail();
    return;
  }
  std::uint8_t trailer[Lzma2Item::TrailerSize + 1];
  if (!ReadRest(trailer, Lzma2Item::TrailerSize)) {
    // Cut short in the trailer: what was decoded comes out, the item stays incomplete.
    return;
  }
  const std::uint32_t stored = std::uint32_t{trailer[0]} << 24 | std::uint32_t{trailer[1]} << 16 |
                               std::uint32_t{trailer[2]} << 8 | trailer[3];
  if (stored != Checksum || ReadRest(trailer, 1))
    Fail();
  else
    Ended = true;
}

std::int32_t TLzma2DecompressionStream::Seek(std::int32_t Offset, std::uint16_t Origin) {
  const auto position = static_cast<std::int64_t>(Delivered);
  if (Origin == soCurrent && Offset >= 0)
    ReadAndDiscard(Offset);
  else if (Origin == soBeginning && Offset >= position)
    ReadAndDiscard(Offset - position);
  else
    throw EDecompressionError("Invalid stream operation");
  return static_cast<std::int32_t>(Delivered);
}

} // namespace vexa
