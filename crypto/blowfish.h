#pragma once
// Blowfish: 16 rounds, the standard initial tables, the standard key schedule; each
// 8-byte block is read as two big-endian 32-bit words.

#include <cstdint>
#include <span>
#include <string>

#include "crypto/blowfish_tables.h"
#include "crypto/cryptor.h"

namespace vexa {

class TBlowfish final : public TCryptor64 {
public:
  // Tables stay zero until SetKey: every user keys the object right after creating it.
  TBlowfish() = default;

  std::string GetKey() const override { return Key; }
  // Starts from the initial tables every time; an empty key keeps them as they are.
  // Otherwise 72 key bytes are drawn, repeating a shorter key from its start, so bytes
  // after the 72nd have no effect.
  void SetKey(const std::string& NewKey) override;
  void CryptBlock(void* Block, std::int32_t Direction) override;
  // The same CBC as TCryptor64's, on words and without a virtual call per block;
  // nothing in it can fail.
  void CryptBuffer(void* Buffer, std::int32_t Count, bool Encrypt) override;

  std::span<const std::uint32_t, BlowfishPWords> PArray() const { return std::span(P); }
  std::span<const std::uint32_t, BlowfishSWords> SBoxes() const { return std::span(S); }

private:
  // (Left, Right) in, (Left, Right) out, as the words stand in the block.
  void Encipher(std::uint32_t& Left, std::uint32_t& Right) const;
  void Decipher(std::uint32_t& Left, std::uint32_t& Right) const;
  // Two independent blocks at once, so their rounds overlap in the processor.
  void Decipher2(std::uint32_t& Left0, std::uint32_t& Right0, std::uint32_t& Left1,
                 std::uint32_t& Right1) const;
  std::uint32_t F(std::uint32_t X) const {
    return ((S[X >> 24] + S[256 + ((X >> 16) & 0xFF)]) ^ S[512 + ((X >> 8) & 0xFF)]) +
           S[768 + (X & 0xFF)];
  }

  std::uint32_t P[BlowfishPWords] = {};
  std::uint32_t S[BlowfishSWords] = {};
  std::string Key;
};

} // namespace vexa
