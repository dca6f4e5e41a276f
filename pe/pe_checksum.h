#pragma once
// The PE header checksum, taken over a file as it is written: a 16-bit one's-complement
// style sum of the little-endian words of the whole file, folded, plus the file's length.
// The CheckSum field itself counts as zero, so the writer emits zero there and patches
// the field afterwards with Value().

#include <cstdint>
#include <functional>
#include <span>

namespace vexa::pe {

class PeChecksum {
public:
  // Bytes continue the file where the previous call ended; any split is allowed.
  void Add(std::span<const std::uint8_t> Bytes);
  std::uint32_t Value() const;
  std::uint64_t Length() const { return Count; }

private:
  std::uint64_t Sum = 0; // words added unfolded; cannot overflow below 2^48 bytes
  std::uint64_t Count = 0;
};

// The checksum of a whole file as Windows computes it (CheckSumMappedFile): every byte,
// the 4-byte field at CheckSumOffset counted as zero. The certificate table is summed
// too, so a signing tool that appends one rewrites the field. Summed, when given, is
// handed each piece of File once it is summed (in order, every byte but the field's, a
// MiB at most at a time): a reader of a mapped file lets those pages go, and sums a large
// file in a flat footprint.
std::uint32_t
FileChecksum(std::span<const std::uint8_t> File, std::uint64_t CheckSumOffset,
             const std::function<void(std::span<const std::uint8_t>)>& Summed = nullptr);

} // namespace vexa::pe
