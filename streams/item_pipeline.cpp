#include "streams/item_pipeline.h"

#include <algorithm>

#include "archive/archive_paths.h"
#include "crypto/blowfish.h"
#include "crypto/decrypt_stream.h"
#include "streams/decompression_stream.h"
#include "streams/file_stream.h"
#include "streams/lzma2_decompression_stream.h"
#include "streams/resource_stream.h"

namespace vexa {

void CopyStream(TStream& Source, TStream& Target, const BufferWritten& AfterBuffer) {
  const std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[CopyBufferSize]);
  std::int32_t n;
  do {
    n = Source.Read(buffer.get(), CopyBufferSize);
    if (Target.Write(buffer.get(), n) != n)
      throw EWriteError();
    if (n != 0 && AfterBuffer)
      AfterBuffer(n);
  } while (n != 0);
}

TItemReader::TItemReader(const TResourceModule& Module, const std::string& ResName,
                         const std::string& Password, const TItemRecord& Item)
    : TItemReader(Module, ResName, Password, Item, OriginalSize(Item)) {}

TItemReader::TItemReader(const TResourceModule& Module, const std::string& ResName,
                         const std::string& Password, const TItemRecord& Item,
                         std::uint64_t PlainSize)
    : Resource(std::make_unique<TResourceStream>(Module, ResName)) {
  TStream* top = Resource.get();
  if (!Password.empty()) {
    // A cipher of its own for every item: each item's chain starts from zero.
    auto cipher = std::make_unique<TBlowfish>();
    cipher->SetKey(Password);
    Decrypt = std::make_unique<TDeCryptStream>(std::move(cipher),
                                               static_cast<std::int32_t>(StoredSize(Item)), *top);
    top = Decrypt.get();
  }
  switch (Compressed(Item)) {
  case imStored:
    break;
  case imLzma2:
    Lzma2 = std::make_unique<TLzma2DecompressionStream>(*top, PlainSize);
    break;
  case imLzma2Continued:
    // Its bytes are in another item's stream, which a reader of one item does not have.
    throw EDecompressionError("error");
  default:
    Inflate = std::make_unique<TDecompressionStream>(*top);
  }
}

// The decrypting stream goes first, the resource stream last: no stream owns its source.
TItemReader::~TItemReader() {
  Decrypt.reset();
  Inflate.reset();
  Lzma2.reset();
}

TStream& TItemReader::Top() {
  if (Inflate)
    return *Inflate;
  if (Lzma2)
    return *Lzma2;
  if (Decrypt)
    return *Decrypt;
  return *Resource;
}

void TItemReader::CheckComplete() const {
  if ((Inflate && !Inflate->StreamEnded()) || (Lzma2 && !Lzma2->StreamEnded()))
    throw EDecompressionError("error");
}

bool WriteItem(const TResourceModule& Module, const std::string& ResName,
               const std::string& Password, const TItemRecord& Item,
               const TargetCreator& CreateTarget, const BufferWritten& AfterBuffer) {
  TItemReader reader(Module, ResName, Password, Item);
  const std::unique_ptr<TStream> file = CreateTarget();
  if (!file)
    return false;
  CopyStream(reader.Top(), *file, AfterBuffer);
  reader.CheckComplete();
  return true;
}

std::size_t BlockLength(const TItemRecords& Items, std::size_t First) {
  const std::uint8_t method = Compressed(*Items[First]);
  if (method != imLzma2 && method != imLzma2Continued)
    return 1;
  std::size_t end = First + 1;
  while (end < Items.size() && Compressed(*Items[end]) == imLzma2Continued)
    ++end;
  return end - First;
}

// At most one item's bytes of the block's stream.
class TBlockReader::TItemWindow final : public TReadOnlyStream {
public:
  explicit TItemWindow(TStream& Source) : Source(Source) {}
  void Open(std::uint32_t Size) {
    Left = Size;
    Delivered = 0;
  }
  bool Whole() const { return Left == 0; }
  std::int32_t Read(void* Buffer, std::int32_t Count) override {
    const std::int32_t n = Source.Read(Buffer, static_cast<std::int32_t>(std::min<std::uint32_t>(
                                                   Left, static_cast<std::uint32_t>(Count))));
    Left -= static_cast<std::uint32_t>(n);
    Delivered += n;
    return n;
  }
  std::int32_t Seek(std::int32_t Offset, std::uint16_t Origin) override {
    if (Offset != 0 || Origin != soCurrent)
      throw EDecompressionError("Invalid stream operation");
    return Delivered;
  }

private:
  TStream& Source;
  std::uint32_t Left = 0;
  std::int32_t Delivered = 0;
};

TBlockReader::TBlockReader(const TResourceModule& Module, const std::string& ResName,
                           const std::string& Password, const TItemRecords& Items,
                           std::size_t First) {
  std::uint64_t plainSize = 0;
  for (std::size_t i = First; i < First + BlockLength(Items, First); ++i) {
    if (i > First && StoredSize(*Items[i]) != 0)
      throw EDecompressionError("error");
    Sizes.push_back(OriginalSize(*Items[i]));
    plainSize += Sizes.back();
  }
  // A continuing item at First finds no stream here: TItemReader refuses it.
  Reader = std::make_unique<TItemReader>(Module, ResName, Password, *Items[First], plainSize);
  if (Compressed(*Items[First]) == imLzma2)
    Window = std::make_unique<TItemWindow>(Reader->Top());
}

TBlockReader::~TBlockReader() = default;

TStream& TBlockReader::Next() {
  const std::uint32_t size = Sizes[Taken++];
  if (!Window)
    return Reader->Top();
  Window->Open(size);
  return *Window;
}

void TBlockReader::CheckComplete() {
  if (!Window)
    return Reader->CheckComplete();
  if (!Window->Whole())
    throw EDecompressionError("error");
  if (!Done())
    return;
  // The stream's end marker and checksum may lie past its last byte: a read makes the
  // stream take them, and raises if more bytes come.
  std::uint8_t more;
  Reader->Top().Read(&more, 1);
  Reader->CheckComplete();
}

namespace {

// The rest of a block item that is not to be written: the next item's bytes follow it.
void DropRest(TStream& Bytes) {
  std::uint8_t dropped[4096];
  while (Bytes.Read(dropped, sizeof dropped) > 0) {
  }
}

} // namespace

bool WriteBlockItem(TBlockReader& Block, const TargetCreator& CreateTarget,
                    const BufferWritten& AfterBuffer) {
  TStream& bytes = Block.Next();
  const std::unique_ptr<TStream> file = CreateTarget();
  if (!file) {
    DropRest(bytes);
    Block.CheckComplete();
    return false;
  }
  CopyStream(bytes, *file, AfterBuffer);
  Block.CheckComplete();
  return true;
}

void SkipBlockItem(TBlockReader& Block) {
  DropRest(Block.Next());
  Block.CheckComplete();
}

bool ExtractItem(const TResourceModule& Module, const std::string& ResName,
                 const std::string& TargetPath, const std::string& Password,
                 const TItemRecord& Item, const BufferWritten& AfterBuffer) {
  if (!IsSafeItemPath(FileName(Item)))
    return false;
  return WriteItem(
      Module, ResName, Password, Item,
      [&TargetPath] { return std::make_unique<TqvFileStream>(TargetPath, fmCreate); }, AfterBuffer);
}

} // namespace vexa
