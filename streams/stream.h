#pragma once
// The stream contract every stream of the extractor keeps.
//
// Read(Buffer, Count) delivers up to Count bytes and returns how many it delivered;
// 0 means the data has ended (and only a Read of 0 ends a copy). A short Read is not
// an error by itself. Write returns the bytes it took; a short count means failure.
// Seek returns the new position; origins are 0 (beginning), 1 (current), 2 (end).
// No stream owns the stream it reads from.

#include <cstdint>

#include "runtime/exceptions.h"

namespace vexa {

enum : std::uint16_t { soBeginning = 0, soCurrent = 1, soEnd = 2 };

class TStream : public TObject {
public:
  virtual void SetSize(std::int32_t /*NewSize*/) {}
  virtual std::int32_t Read(void* Buffer, std::int32_t Count) = 0;
  virtual std::int32_t Write(const void* Buffer, std::int32_t Count) = 0;
  virtual std::int32_t Seek(std::int32_t Offset, std::uint16_t Origin) = 0;

  std::int32_t Position() { return Seek(0, soCurrent); }
  void SetPosition(std::int32_t p) { Seek(p, soBeginning); }
  // Costs three seeks and leaves the position where it was.
  std::int32_t Size();

  // Exact-count transfers: a short count raises EReadError / EWriteError.
  void ReadBuffer(void* Buffer, std::int32_t Count);
  void WriteBuffer(const void* Buffer, std::int32_t Count);
  // Reads and discards Count bytes, for the forward seeks of streams that cannot seek:
  // running out on the way raises EReadError.
  void ReadAndDiscard(std::int64_t Count);
};

// The new position of a seek over data of Size bytes, for streams that refuse to leave
// it: an unknown origin or a target outside 0..Size raises TStreamReadException.
std::int32_t BoundedSeekTarget(std::int32_t Offset, std::uint16_t Origin, std::int32_t Position,
                               std::int32_t Size);

// A read-only stream has no Write; calling it is a programming error, reported like
// any run-time error (a bare TObject, which the failure policy ends with exit code 1).
class TReadOnlyStream : public TStream {
public:
  std::int32_t Write(const void* Buffer, std::int32_t Count) override;
};

} // namespace vexa
