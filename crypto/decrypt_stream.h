#pragma once
// Reading an encrypted item: its stored bytes are one CBC chain over the plaintext,
// started from a zero chaining value and padded to whole blocks. TDeCryptStream reads
// the source in whole blocks, deciphers them, and hands out exactly the bytes asked
// for, never more than the plaintext length; the padding is deciphered and dropped.

#include <cstdint>
#include <memory>

#include "crypto/cryptor.h"
#include "streams/stream.h"

namespace vexa {

// An owned block of Size bytes, not initialised.
class TBuffer : public TObject {
public:
  explicit TBuffer(std::int32_t Size);
  std::uint8_t* Data() const { return Bytes.get(); }
  std::int32_t Size() const { return BufSize; }

private:
  std::unique_ptr<std::uint8_t[]> Bytes;
  std::int32_t BufSize;
};

// Holds the cipher (owned), the source (not owned: the caller keeps it alive for the
// stream's lifetime and frees it afterwards) and the read-ahead state.
class TCryptStream : public TReadOnlyStream {
public:
  // Ciphers with blocks of up to this many bytes fit the leftover array.
  static constexpr std::int32_t MaxBlockSize = 256;

  TCryptStream(std::unique_ptr<TCryptor> Cipher, TStream& Source);
  TCryptStream(const TCryptStream&) = delete;
  TCryptStream& operator=(const TCryptStream&) = delete;

protected:
  TStream& Source;
  std::unique_ptr<TCryptor> Cipher;
  std::unique_ptr<TBuffer> Scratch;
  std::int32_t LastFill = 0;
  std::int32_t TotalFill = 0;
  std::int32_t LeftoverCount = 0; // always fewer than one block
  std::int32_t FPosition = 0;     // logical position in the plaintext
  std::uint8_t Leftover[MaxBlockSize] = {};
};

class TDeCryptStream : public TCryptStream {
public:
  // Cipher: keyed, with its chain at the start; the stream owns it from now on.
  // PlainSize: the plaintext length; the source must hold it rounded up to whole blocks.
  // A negative PlainSize raises TStreamReadException.
  TDeCryptStream(std::unique_ptr<TCryptor> Cipher, std::int32_t PlainSize, TStream& Source);

  // Delivers min(Count, what is left of the plaintext); 0 at its end. Costs at most one
  // source read (more only when the source reads short) and one Decrypt. A source that
  // ends before the padded length raises TStreamReadException rather than hand out
  // bytes that were never read.
  std::int32_t Read(void* Buffer, std::int32_t Count) override;
  // Moves the logical position only: the source, the chain and the leftover stay as
  // they are, so the next Read continues with the next stored bytes. The consumers read
  // forward and only seek to where they are. Outside 0..size, or an unknown origin,
  // raises TStreamReadException.
  std::int32_t Seek(std::int32_t Offset, std::uint16_t Origin) override;

private:
  std::int32_t FSize;
  std::int32_t LastRead = 0;
};

} // namespace vexa
