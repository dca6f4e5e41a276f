#pragma once
// Pseudo-random bytes for tests: incompressible, and the same for the same seed.

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace vexa::test {

inline std::vector<std::uint8_t> RandomBytes(std::size_t Size, unsigned Seed) {
  std::mt19937 random(Seed);
  std::vector<std::uint8_t> bytes(Size);
  for (auto& b : bytes)
    b = static_cast<std::uint8_t>(random());
  return bytes;
}

} // namespace vexa::test
