#pragma once
// Block ciphers with cipher-block chaining.
//
// A cipher object holds one CBC chaining value, shared by both directions and carried
// from one call to the next: a buffer processed in one call or in several calls split
// at whole blocks gives the same bytes. A fresh object starts the chain with zero bytes.
// Every user keys the object once with SetKey and then runs one chain through it.

#include <cstdint>
#include <memory>
#include <string>

#include "runtime/exceptions.h"

namespace vexa {

class TCryptor : public TObject {
public:
  ~TCryptor() override;
  TCryptor(const TCryptor&) = delete;
  TCryptor& operator=(const TCryptor&) = delete;

  // The key text as last given to SetKey; empty before the first.
  virtual std::string GetKey() const = 0;
  // Runs the key schedule; leaves the chaining value alone.
  virtual void SetKey(const std::string& Key) = 0;
  virtual std::int32_t BlockSize() const = 0;
  // One block in place, no chaining. Enciphers when Direction is exactly 1 and
  // deciphers for every other value.
  virtual void CryptBlock(void* Block, std::int32_t Direction) = 0;
  // CBC in place over the whole blocks of Buffer; the Count mod BlockSize bytes after
  // them, and any buffer shorter than a block, are left untouched. Never raises.
  virtual void CryptBuffer(void* Buffer, std::int32_t Count, bool Encrypt) = 0;
  // Restarts the chain from zero bytes, then CryptBuffer.
  virtual void ResetCryptBuffer(void* Buffer, std::int32_t Count, bool Encrypt) = 0;

  void Encrypt(void* Buffer, std::int32_t Count) { CryptBuffer(Buffer, Count, true); }
  void Decrypt(void* Buffer, std::int32_t Count) { CryptBuffer(Buffer, Count, false); }
  // Copies BlockSize bytes into the chaining value.
  void SetIV(const void* Block);

protected:
  // C++ cannot ask the concrete class for its block size while the base is being
  // built, so each direct subclass passes it in; it must equal BlockSize().
  explicit TCryptor(std::int32_t ChainBytes);
  std::uint8_t* ChainingValue() { return Chain.get(); }

private:
  std::unique_ptr<std::uint8_t[]> Chain;
};

// Every cipher with 64-bit blocks: CBC on top of the subclass's CryptBlock.
class TCryptor64 : public TCryptor {
public:
  static constexpr std::int32_t Block = 8;

  std::int32_t BlockSize() const override { return Block; }
  // A failure raised by CryptBlock is swallowed: the call returns normally with the
  // blocks done so far left as they are, and the chain stands after the last of them.
  void CryptBuffer(void* Buffer, std::int32_t Count, bool Encrypt) override;
  void ResetCryptBuffer(void* Buffer, std::int32_t Count, bool Encrypt) override;

protected:
  TCryptor64() : TCryptor(Block) {}
};

} // namespace vexa
