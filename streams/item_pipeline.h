#pragma once
// One archive item into one file: resource stream → [decrypting stream] →
// [decompression stream] → file stream.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

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
  // Raises TStreamReadException when the item's resource is missing. An LZMA2 item's
  // stream holds PlainSize bytes: the item's own, and those of the items of its block.
  TItemReader(const TResourceModule& Module, const std::string& ResName,
              const std::string& Password, const TItemRecord& Item);
  TItemReader(const TResourceModule& Module, const std::string& ResName,
              const std::string& Password, const TItemRecord& Item, std::uint64_t PlainSize);
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

using TItemRecords = std::vector<std::unique_ptr<TItemRecord>>;

// The items of one block (docs/format.md), Items[First] and the continuing items
// (imLzma2Continued) right after it when it is an LZMA2 item; any other item is a block
// alone. For Items[First] a continuing item, the run of them that no LZMA2 item starts.
std::size_t BlockLength(const TItemRecords& Items, std::size_t First);

// The items of the block that starts at Items[First] read in turn: an LZMA2 block's one
// stream, whose resource is ResName, decoded from its start, each item's OriginalSize
// bytes in item order; any other item's bytes as TItemReader gives them.
class TBlockReader {
public:
  // Raises EDecompressionError "error" when the block's records cannot be right: a
  // continuing item with stored data of its own, or one that no LZMA2 item starts (at
  // First); TStreamReadException when the resource is missing.
  TBlockReader(const TResourceModule& Module, const std::string& ResName,
               const std::string& Password, const TItemRecords& Items, std::size_t First);
  ~TBlockReader();
  TBlockReader(const TBlockReader&) = delete;
  TBlockReader& operator=(const TBlockReader&) = delete;

  std::size_t Length() const { return Sizes.size(); }
  // Whether every item of the block has been taken.
  bool Done() const { return Taken == Sizes.size(); }
  // The next item's bytes, read until Read returns 0.
  TStream& Next();
  // After Next's stream returned 0: raises EDecompressionError "error" when the item's
  // bytes stopped short (a cut-short stream) or, after the block's last item, when the
  // stream did not end right there with its checksum: the block is damaged.
  void CheckComplete();

private:
  class TItemWindow;
  std::vector<std::uint32_t> Sizes;
  std::unique_ptr<TItemReader> Reader;
  std::unique_ptr<TItemWindow> Window; // an LZMA2 block's: one item's bytes of its stream
  std::size_t Taken = 0;
};

// Writes the block's next item to the file that CreateTarget creates, as WriteItem does;
// a refused target gets nothing and the item's bytes are passed over.
bool WriteBlockItem(TBlockReader& Block, const TargetCreator& CreateTarget,
                    const BufferWritten& AfterBuffer = {});
// Reads the block's next item to its end and drops its bytes: an item not to be written.
void SkipBlockItem(TBlockReader& Block);

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
