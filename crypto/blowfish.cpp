#include "crypto/blowfish.h"

#include <algorithm>

namespace vexa {

namespace {

inline std::uint32_t LoadBigEndian(const std::uint8_t* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 |
         std::uint32_t{p[3]};
}

inline void StoreBigEndian(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}

} // namespace

// Two rounds per step, so the halves never swap; the final exchange is folded into
// which word comes out first.
inline void TBlowfish::Encipher(std::uint32_t& Left, std::uint32_t& Right) const {
  std::uint32_t l = Left, r = Right;
#pragma GCC unroll 8
  for (int i = 0; i < 16; i += 2) {
    l ^= P[i];
    r ^= F(l);
    r ^= P[i + 1];
    l ^= F(r);
  }
  Left = r ^ P[17];
  Right = l ^ P[16];
}

inline void TBlowfish::Decipher(std::uint32_t& Left, std::uint32_t& Right) const {
  std::uint32_t l = Left, r = Right;
#pragma GCC unroll 8
  for (int i = 17; i > 1; i -= 2) {
    l ^= P[i];
    r ^= F(l);
    r ^= P[i - 1];
    l ^= F(r);
  }
  Left = r ^ P[0];
  Right = l ^ P[1];
}

inline void TBlowfish::Decipher2(std::uint32_t& Left0, std::uint32_t& Right0,
                                 std::uint32_t& Left1, std::uint32_t& Right1) const {
  std::uint32_t l0 = Left0, r0 = Right0, l1 = Left1, r1 = Right1;
#pragma GCC unroll 8
  for (int i = 17; i > 1; i -= 2) {
    l0 ^= P[i];
    l1 ^= P[i];
    r0 ^= F(l0) ^ P[i - 1];
    r1 ^= F(l1) ^ P[i - 1];
    l0 ^= F(r0);
    l1 ^= F(r1);
  }
  Left0 = r0 ^ P[0];
  Right0 = l0 ^ P[1];
  Left1 = r1 ^ P[0];
  Right1 = l1 ^ P[1];
}

void TBlowfish::SetKey(const std::string& NewKey) {
  Key = NewKey;
  std::copy(std::begin(BlowfishInitialP), std::end(BlowfishInitialP), P);
  std::copy(std::begin(BlowfishInitialS), std::end(BlowfishInitialS), S);
  if (Key.empty())
    return;

  const std::size_t n = Key.size();
  std::size_t j = 0;
  for (std::uint32_t& word : P) {
    std::uint32_t k = 0;
    for (int b = 0; b < 4; ++b, ++j)
      k = k << 8 | static_cast<std::uint8_t>(Key[j % n]);
    word ^= k;
  }

  std::uint32_t l = 0, r = 0;
  for (int i = 0; i < BlowfishPWords; i += 2) {
    Encipher(l, r);
    P[i] = l;
    P[i + 1] = r;
  }
  for (int i = 0; i < BlowfishSWords; i += 2) {
    Encipher(l, r);
    S[i] = l;
    S[i + 1] = r;
  }
}

void TBlowfish::CryptBlock(void* Block, std::int32_t Direction) {
  auto* b = static_cast<std::uint8_t*>(Block);
  std::uint32_t l = LoadBigEndian(b), r = LoadBigEndian(b + 4);
  if (Direction == 1)
    Encipher(l, r);
  else
    Decipher(l, r);
  StoreBigEndian(b, l);
  StoreBigEndian(b + 4, r);
}

void TBlowfish::CryptBuffer(void* Buffer, std::int32_t Count, bool Encrypt) {
  auto* b = static_cast<std::uint8_t*>(Buffer);
  std::uint8_t* const chain = ChainingValue();
  std::uint32_t cl = LoadBigEndian(chain), cr = LoadBigEndian(chain + 4);
  const std::int32_t blocks = Count / Block;
  if (Encrypt) {
    for (std::int32_t n = blocks; n > 0; --n, b += Block) {
      cl ^= LoadBigEndian(b);
      cr ^= LoadBigEndian(b + 4);
      Encipher(cl, cr);
      StoreBigEndian(b, cl);
      StoreBigEndian(b + 4, cr);
    }
  } else {
    // Deciphering blocks do not depend on one another; only the XOR needs the chain.
    std::int32_t n = blocks;
    for (; n >= 2; n -= 2, b += 2 * Block) {
      const std::uint32_t xl0 = LoadBigEndian(b), xr0 = LoadBigEndian(b + 4);
      const std::uint32_t xl1 = LoadBigEndian(b + 8), xr1 = LoadBigEndian(b + 12);
      std::uint32_t l0 = xl0, r0 = xr0, l1 = xl1, r1 = xr1;
      Decipher2(l0, r0, l1, r1);
      StoreBigEndian(b, l0 ^ cl);
      StoreBigEndian(b + 4, r0 ^ cr);
      StoreBigEndian(b + 8, l1 ^ xl0);
      StoreBigEndian(b + 12, r1 ^ xr0);
      cl = xl1;
      cr = xr1;
    }
    for (; n > 0; --n, b += Block) {
      const std::uint32_t xl = LoadBigEndian(b), xr = LoadBigEndian(b + 4);
      std::uint32_t l = xl, r = xr;
      Decipher(l, r);
      StoreBigEndian(b, l ^ cl);
      StoreBigEndian(b + 4, r ^ cr);
      cl = xl;
      cr = xr;
    }
  }
  StoreBigEndian(chain, cl);
  StoreBigEndian(chain + 4, cr);
}

} // namespace vexa
