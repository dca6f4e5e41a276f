#pragma once
// What the fuzz targets share: a reader that takes the fields of a target's input in
// order (running short is fine: missing bytes read as zero), the read sizes a consumer
// might ask for, a source stream and a sink stream.
//
// Each target's input layout is written at the top of its file; fuzz/make_seeds.py
// builds seeds in those layouts from archives that `vexa pack` wrote.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "streams/stream.h"

namespace vexa::fuzz {

// A violated property: abort so that libFuzzer (or the replay) reports the input.
#define FUZZ_CHECK(cond)                                                                           \
  do {                                                                                             \
    if (!(cond)) {                                                                                 \
      std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #cond);             \
      std::abort();                                                                                \
    }                                                                                              \
  } while (0)

class TInput {
public:
  TInput(const std::uint8_t* Data, std::size_t Size) : Bytes(Data, Size) {}

  std::uint8_t U8() { return Take(1).empty() ? 0 : Bytes[Pos - 1]; }
  std::uint32_t U32() {
    std::uint32_t v = 0;
    const auto b = Take(4);
    for (std::size_t i = 0; i < b.size(); ++i)
      v |= std::uint32_t{b[i]} << (8 * i);
    return v;
  }
  // Up to Count bytes: fewer when the input runs out.
  std::span<const std::uint8_t> Take(std::size_t Count) {
    const std::size_t n = std::min(Count, Bytes.size() - Pos);
    const auto part = Bytes.subspan(Pos, n);
    Pos += n;
    return part;
  }
  std::span<const std::uint8_t> Rest() { return Take(Bytes.size() - Pos); }

private:
  std::span<const std::uint8_t> Bytes;
  std::size_t Pos = 0;
};

inline std::vector<std::uint8_t> ToVector(std::span<const std::uint8_t> Bytes) {
  return {Bytes.begin(), Bytes.end()};
}

// Read counts for a consumer, drawn from a seed: the copy buffer and the inflater's
// chunk, block edges, odd small sizes, and 0.
class TReadSizes {
public:
  static constexpr std::int32_t Largest = 65537;

  explicit TReadSizes(std::uint32_t Seed) : State(Seed | 1) {}
  std::int32_t Next() {
    State ^= State << 13;
    State ^= State >> 17;
    State ^= State << 5;
    static constexpr std::int32_t Fixed[] = {61440, 65536, Largest, 1, 7, 8, 9, 4096, 0};
    const std::uint32_t pick = State % 12;
    if (pick < std::size(Fixed))
      return Fixed[pick];
    return static_cast<std::int32_t>((State >> 8) % 20000);
  }

private:
  std::uint32_t State;
};

// Hands out Bytes: as much as asked, as the resource stream does, or (Stingy) at most a few
// bytes per Read, as a stream that reads short may.
class TSourceStream : public TReadOnlyStream {
public:
  TSourceStream(std::span<const std::uint8_t> Bytes, bool Stingy, std::uint32_t Seed)
      : Bytes(Bytes), Stingy(Stingy), State(Seed | 1) {}
  std::int32_t Read(void* Buffer, std::int32_t Count) override {
    State = State * 1103515245u + 12345u;
    std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(Count), Bytes.size() - Pos);
    if (Stingy)
      n = std::min<std::size_t>(n, 1 + (State >> 16) % 3000);
    std::copy_n(Bytes.data() + Pos, n, static_cast<std::uint8_t*>(Buffer));
    Pos += n;
    return static_cast<std::int32_t>(n);
  }
  std::int32_t Seek(std::int32_t Offset, std::uint16_t Origin) override {
    const std::int64_t base = Origin == soBeginning ? 0 : Origin == soCurrent ? Pos : Bytes.size();
    const std::int64_t target = base + Offset;
    if (Origin > soEnd || target < 0 || target > static_cast<std::int64_t>(Bytes.size()))
      throw TStreamReadException();
    Pos = static_cast<std::size_t>(target);
    return static_cast<std::int32_t>(Pos);
  }

private:
  std::span<const std::uint8_t> Bytes;
  bool Stingy;
  std::size_t Pos = 0;
  std::uint32_t State;
};

// Takes everything written to it, keeping at most Limit bytes for comparison.
class TSinkStream : public TStream {
public:
  explicit TSinkStream(std::size_t Limit = 0) : Limit(Limit) {}
  std::int32_t Read(void*, std::int32_t) override { return 0; }
  std::int32_t Write(const void* Buffer, std::int32_t Count) override {
    const auto* p = static_cast<const std::uint8_t*>(Buffer);
    const std::size_t keep = std::min<std::size_t>(Count, Limit - std::min(Limit, Kept.size()));
    Kept.insert(Kept.end(), p, p + keep);
    Total += static_cast<std::uint64_t>(Count);
    return Count;
  }
  std::int32_t Seek(std::int32_t, std::uint16_t) override {
    return static_cast<std::int32_t>(Total);
  }

  std::uint64_t Total = 0;
  std::vector<std::uint8_t> Kept;

private:
  std::size_t Limit;
};

} // namespace vexa::fuzz
