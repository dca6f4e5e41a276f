#include "crypto/cryptor.h"

#include <cstring>

namespace vexa {

TCryptor::TCryptor(std::int32_t ChainBytes) : Chain(new std::uint8_t[ChainBytes]()) {}

TCryptor::~TCryptor() = default;

void TCryptor::SetIV(const void* Block) {
  std::memcpy(Chain.get(), Block, static_cast<std::size_t>(BlockSize()));
}

void TCryptor64::CryptBuffer(void* Buffer, std::int32_t Count, bool Encrypt) {
  auto* block = static_cast<std::uint8_t*>(Buffer);
  std::uint8_t* const chain = ChainingValue();
  try {
    for (std::int32_t n = Count / Block; n > 0; --n, block += Block) {
      if (Encrypt) {
        for (int i = 0; i < Block; ++i)
          block[i] ^= chain[i];
        CryptBlock(block, 1);
        std::memcpy(chain, block, Block);
      } else {
        std::uint8_t cipherText[Block];
        std::memcpy(cipherText, block, Block);
        CryptBlock(block, 0);
        for (int i = 0; i < Block; ++i)
          block[i] ^= chain[i];
        std::memcpy(chain, cipherText, Block);
      }
    }
  } catch (...) {
    // A cipher's buffer operation never fails; what is done stays done.
  }
}

void TCryptor64::ResetCryptBuffer(void* Buffer, std::int32_t Count, bool Encrypt) {
  const std::uint8_t zero[Block] = {};
  SetIV(zero);
  CryptBuffer(Buffer, Count, Encrypt);
}

} // namespace vexa
