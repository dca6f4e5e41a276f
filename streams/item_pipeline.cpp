#include "streams/item_pipeline.h"

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
    Lzma2 = std::make_unique<TLzma2DecompressionStream>(*top, OriginalSize(Item));
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
