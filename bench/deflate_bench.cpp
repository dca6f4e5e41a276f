// Compressing one item for `vexa pack`: libdeflate, the tool's engine, against zlib's
// deflate, its fallback in the Windows build, on the same bytes at the same levels.
// Counters: the stored size, and the ratio stored/original.

#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "bench_support.h"

namespace {

using vexa::bench::Bytes;

using vexa::bench::WineDllCorpus;

const Bytes& Corpus() {
  static const Bytes corpus = WineDllCorpus(4 << 20);
  return corpus;
}

void Report(benchmark::State& state, std::size_t Stored) {
  const auto original = static_cast<double>(Corpus().size());
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(Corpus().size()));
  state.counters["stored_bytes"] = static_cast<double>(Stored);
  state.counters["ratio"] = static_cast<double>(Stored) / original;
}

void BM_Deflate_Libdeflate(benchmark::State& state) {
  const Bytes& in = Corpus();
  if (in.empty())
    return state.SkipWithError("Wine's DLLs are not installed");
  libdeflate_compressor* c = libdeflate_alloc_compressor(static_cast<int>(state.range(0)));
  Bytes out(libdeflate_zlib_compress_bound(c, in.size()));
  std::size_t stored = 0;
  for (auto _ : state) {
    stored = libdeflate_zlib_compress(c, in.data(), in.size(), out.data(), out.size());
    benchmark::DoNotOptimize(stored);
  }
  libdeflate_free_compressor(c);
  Report(state, stored);
}

void BM_Deflate_Zlib(benchmark::State& state) {
  const Bytes& in = Corpus();
  if (in.empty())
    return state.SkipWithError("Wine's DLLs are not installed");
  const int level = static_cast<int>(state.range(0));
  Bytes out(compressBound(static_cast<uLong>(in.size())));
  std::size_t stored = 0;
  for (auto _ : state) {
    uLongf size = static_cast<uLongf>(out.size());
    if (compress2(out.data(), &size, in.data(), static_cast<uLong>(in.size()), level) != Z_OK)
      return state.SkipWithError("compress2 failed");
    stored = size;
  }
  Report(state, stored);
}

BENCHMARK(BM_Deflate_Libdeflate)->Arg(1)->Arg(6)->Arg(9)->Arg(12)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Deflate_Zlib)->Arg(1)->Arg(6)->Arg(9)->Unit(benchmark::kMillisecond);

} // namespace
