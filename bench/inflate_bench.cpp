// Inflating one item: TDecompressionStream over a resource stream, read in the
// pipeline's 61440-byte copy buffer, against zlib's inflate of the same stream into one
// buffer in one call, the floor that the stream's buffering and bookkeeping add to.

#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "bench_support.h"
#include "streams/decompression_stream.h"
#include "streams/resource_stream.h"

namespace {

using vexa::bench::Bytes;

using vexa::bench::WineDllCorpus;

struct TItem {
  Bytes Plain = WineDllCorpus(8 << 20);
  Bytes Stored = Compress(Plain);

  static Bytes Compress(const Bytes& Plain) {
    libdeflate_compressor* c = libdeflate_alloc_compressor(6);
    Bytes out(libdeflate_zlib_compress_bound(c, Plain.size()));
    out.resize(libdeflate_zlib_compress(c, Plain.data(), Plain.size(), out.data(), out.size()));
    libdeflate_free_compressor(c);
    return out;
  }
};

const TItem& Item() {
  static const TItem item;
  return item;
}

using vexa::bench::TOneItemModule;

void BM_Inflate_DecompressionStream(benchmark::State& state) {
  const TItem& item = Item();
  if (item.Plain.empty())
    return state.SkipWithError("Wine's DLLs are not installed");
  const TOneItemModule module(item.Stored);
  Bytes buffer(61440);
  for (auto _ : state) {
    vexa::TResourceStream resource(module, "Item1");
    vexa::TDecompressionStream stream(resource);
    std::size_t total = 0;
    while (const std::int32_t n = stream.Read(buffer.data(), 61440))
      total += static_cast<std::size_t>(n);
    benchmark::DoNotOptimize(total);
    if (total != item.Plain.size())
      return state.SkipWithError("wrong length");
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(item.Plain.size()));
}

void BM_Inflate_ZlibOneBuffer(benchmark::State& state) {
  const TItem& item = Item();
  if (item.Plain.empty())
    return state.SkipWithError("Wine's DLLs are not installed");
  Bytes out(item.Plain.size());
  for (auto _ : state) {
    const bool ended = vexa::bench::InflateOnce(item.Stored, out);
    benchmark::ClobberMemory();
    if (!ended)
      return state.SkipWithError("inflate failed");
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(item.Plain.size()));
}

BENCHMARK(BM_Inflate_DecompressionStream)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Inflate_ZlibOneBuffer)->Unit(benchmark::kMillisecond);

} // namespace
