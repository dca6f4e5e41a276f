#pragma once
// One archive item into one file: resource stream → [decrypting stream] →
// [decompression stream] → file stream.

#include <functional>
#include <memory>
#include <string>

#include "archive/vexa_header.h"
#include "streams/resource_module.h"
#include "streams/stream.h"

namespace vexa {

class TResourceStream;
class TDeCryptStream;
class TDecompressionStream;
class TLzma2DecompressionStream;

inline constexpr std::int32_t CopyBufferSize = 61440;

// Copies until Source.Read returns 0. A Write that takes fewer bytes than it was given
// (a full disk, a medium that refuses writing) raises EWriteError, so a file is never
// silently shorter than its item. AfterBuffer, when given, runs after every buffer that
// was written, with its size: a long item is no reason for the caller's window to stop
// answering, or its progress to stand still.
using BufferWritten = std::function<void(std::int32_t Bytes)>;
void CopyStream(TStream& Source, TStream& Target, const BufferWritten& AfterBuffer = {});

// The read side of one item's pipeline: the item's plain bytes come out of Top(). An
// empty Password means the item is not encrypted.
class TItemReader {
public:
  // Raises TStreamReadException when the item's resource is missing.
  TItemReader(const TResourceModule& Module, const std::string& ResName,
              const std::string& Password, const TItemRecord& Item);
  ~TItemReader();
  TItemReader(const TItemReader&) = delete;
  TItemReader& operator=(const TItemReader&) = delete;

  TStream& Top();
  // After Top() returned 0: raises EDecompressionError "error" when a compressed item's
  // data stopped before the end of its zlib or LZMA2 stream (a damaged archive).
  void CheckComplete() const;

private:
  std::unique_ptr<TResourceStream> Resource;
  std::unique_ptr<TDeCryptStream> Decrypt;
  std::unique_ptr<TDecompressionStream> Inflate;
  std::unique_ptr<TLzma2DecompressionStream> Lzma2;
};

// Writes the plain bytes of the item stored in resource ResName to the file that
// CreateTarget creates once the resource has been found. False, and nothing written, when
// CreateTarget gives no file: it refused the target. Raises as ExtractItem does.
using TargetCreator = std::function<std::unique_ptr<TStream>()>;
bool WriteItem(const TResourceModule& Module, const std::string& ResName,
               const std::string& Password, const TItemRecord& Item,
               const TargetCreator& CreateTarget, const BufferWritten& AfterBuffer = {});

// Writes the item stored in resource ResName to TargetPath. Returns false, and writes
// nothing, when the item's FileName could name something outside the destination folder
// (IsSafeItemPath); no folder is created, so a name in a missing subfolder fails like any
// file that cannot be created. Every other failure is raised: TStreamReadException
// (resource missing or an encrypted item shorter than its padding; no file when missing),
// EFCreateError, EWriteError, EDecompressionError (corrupt or cut-short data). A partly
// written file stays. AfterBuffer is CopyStream's.
bool ExtractItem(const TResourceModule& Module, const std::string& ResName,
                 const std::string& TargetPath, const std::string& Password,
                 const TItemRecord& Item, const BufferWritten& AfterBuffer = {});

} // namespace vexa
