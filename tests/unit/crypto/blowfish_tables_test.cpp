#include "crypto/blowfish_tables.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace vexa {
namespace {

// Pi in fixed point from the Bailey-Borwein-Plouffe series,
//   pi = sum over k of 16^-k (4/(8k+1) - 2/(8k+4) - 1/(8k+5) - 1/(8k+6)),
// a different formula and a different program from the generator's, so a fault in
// either shows up here. Word 0 is the integer part; word i weighs 2^(-32 i).
class FixedPi {
public:
  explicit FixedPi(std::size_t fractionWords) : Words(fractionWords + 1 + Guard, 0) {
    const std::size_t terms = 8 * Words.size(); // 16^-k underflows the last word by then
    for (std::uint32_t k = 0; k < terms; ++k) {
      AddScaled(4, k, 8 * k + 1, false);
      AddScaled(2, k, 8 * k + 4, true);
      AddScaled(1, k, 8 * k + 5, true);
      AddScaled(1, k, 8 * k + 6, true);
    }
  }
  std::uint32_t Word(std::size_t i) const { return Words[i]; }

private:
  // Truncation leaves at most one unit of the last word per term, far below the guard.
  static constexpr std::size_t Guard = 2;

  // Adds or subtracts Numerator * 16^-K / Divisor.
  void AddScaled(std::uint64_t Numerator, std::uint32_t K, std::uint64_t Divisor, bool Subtract) {
    const std::size_t n = Words.size();
    const std::size_t first = (4 * std::size_t{K}) / 32;
    if (first >= n)
      return;
    const std::uint64_t top = Numerator << (32 - (4 * K) % 32); // spans words first, first+1
    Quotient.assign(n, 0);
    std::uint64_t remainder = 0;
    for (std::size_t i = first; i < n; ++i) {
      std::uint64_t digit = 0;
      if (i == first)
        digit = top >> 32;
      else if (i == first + 1)
        digit = top & 0xFFFFFFFFu;
      const std::uint64_t current = remainder << 32 | digit;
      Quotient[i] = static_cast<std::uint32_t>(current / Divisor);
      remainder = current % Divisor;
    }
    std::uint64_t carry = 0;
    for (std::size_t i = n; i-- > 0;) {
      std::uint64_t w;
      if (Subtract) {
        w = std::uint64_t{Words[i]} - Quotient[i] - carry;
        carry = (w >> 32) & 1; // borrow
      } else {
        w = std::uint64_t{Words[i]} + Quotient[i] + carry;
        carry = w >> 32;
      }
      Words[i] = static_cast<std::uint32_t>(w);
    }
  }

  std::vector<std::uint32_t> Words;
  std::vector<std::uint32_t> Quotient;
};

TEST(BlowfishTablesTest, AreTheHexadecimalFractionOfPi) {
  const FixedPi pi(BlowfishPWords + BlowfishSWords);
  ASSERT_EQ(pi.Word(0), 3u);
  for (int i = 0; i < BlowfishPWords; ++i)
    EXPECT_EQ(BlowfishInitialP[i], pi.Word(1 + i)) << "P[" << i << "]";
  for (int i = 0; i < BlowfishSWords; ++i)
    EXPECT_EQ(BlowfishInitialS[i], pi.Word(1 + BlowfishPWords + i)) << "S word " << i;
}

} // namespace
} // namespace vexa
