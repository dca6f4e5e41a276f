// One encrypted, compressed item through the whole extraction pipeline (ExtractItem:
// resource stream, decrypting stream, decompression stream, file) against its parts
// done alone on the same bytes: deciphering, inflating into one buffer, writing the
// file. The pipeline's budget is the sum of the parts plus 10%.

#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "archive/vexa_header.h"
#include "bench_support.h"
#include "crypto/blowfish.h"
#include "crypto/password_check.h"
#include "streams/file_stream.h"
#include "streams/item_pipeline.h"

namespace {

using vexa::bench::Bytes;
using vexa::bench::WineDllCorpus;

const std::string Password = "benchmark password";

struct TEncryptedItem {
  Bytes Plain = WineDllCorpus(8 << 20);
  Bytes Compressed = Compress(Plain);
  Bytes Stored = Encrypt(Compressed);
  vexa::TItemRecord Record = MakeRecord(Compressed.size());
  std::string Target =
      (std::filesystem::temp_directory_path() / "vexa_pipeline_bench.bin").string();

  ~TEncryptedItem() {
    std::error_code ec;
    std::filesystem::remove(Target, ec);
  }

  static Bytes Compress(const Bytes& Plain) {
    libdeflate_compressor* c = libdeflate_alloc_compressor(9);
    Bytes out(libdeflate_zlib_compress_bound(c, Plain.size()));
    out.resize(libdeflate_zlib_compress(c, Plain.data(), Plain.size(), out.data(), out.size()));
    libdeflate_free_compressor(c);
    return out;
  }
  static Bytes Encrypt(const Bytes& Data) {
    Bytes out;
    vexa::TItemEncryptor encryptor(Password);
    encryptor.Add(Data.data(), Data.size(), out);
    encryptor.Finish(out);
    return out;
  }
  static vexa::TItemRecord MakeRecord(std::size_t StoredSize) {
    using namespace vexa::ArchiveLayout;
    vexa::TItemRecord r{};
    std::memcpy(&r[FileNameOffset], "bench.bin", 9);
    r[CompressedOffset] = 1;
    for (int i = 0; i < 4; ++i)
      r[StoredSizeOffset + i] = static_cast<std::uint8_t>(StoredSize >> (8 * i));
    return r;
  }
};

const TEncryptedItem& Item() {
  static const TEncryptedItem item;
  return item;
}

using vexa::bench::TOneItemModule;

bool Ready(benchmark::State& State) {
  if (Item().Plain.empty()) {
    State.SkipWithError("Wine's DLLs are not installed");
    return false;
  }
  return true;
}

void SetBytes(benchmark::State& State) {
  State.SetBytesProcessed(State.iterations() * static_cast<std::int64_t>(Item().Plain.size()));
}

void BM_Pipeline_ExtractItem(benchmark::State& state) {
  if (!Ready(state))
    return;
  const TEncryptedItem& item = Item();
  const TOneItemModule module(item.Stored);
  for (auto _ : state)
    vexa::ExtractItem(module, "Item1", item.Target, Password, item.Record);
  if (std::filesystem::file_size(item.Target) != item.Plain.size())
    state.SkipWithError("the extracted file has the wrong size");
  SetBytes(state);
}

// Deciphering alone: each 64 KiB of the stored bytes copied into a scratch block and
// deciphered there, as the decrypting stream does with the resource's bytes.
void BM_Parts_Decrypt(benchmark::State& state) {
  if (!Ready(state))
    return;
  const Bytes& stored = Item().Stored;
  Bytes scratch(65536);
  for (auto _ : state) {
    vexa::TBlowfish cipher;
    cipher.SetKey(Password);
    for (std::size_t at = 0; at < stored.size(); at += scratch.size()) {
      const std::size_t n = std::min(scratch.size(), stored.size() - at);
      std::memcpy(scratch.data(), stored.data() + at, n);
      cipher.Decrypt(scratch.data(), static_cast<std::int32_t>(n));
      benchmark::ClobberMemory();
    }
  }
  SetBytes(state);
}

void BM_Parts_Inflate(benchmark::State& state) {
  if (!Ready(state))
    return;
  const TEncryptedItem& item = Item();
  Bytes out(item.Plain.size());
  for (auto _ : state) {
    const bool ended = vexa::bench::InflateOnce(item.Compressed, out);
    benchmark::ClobberMemory();
    if (!ended)
      return state.SkipWithError("inflate failed");
  }
  SetBytes(state);
}

// Writing the plain bytes alone, to the same file, in the pipeline's copy-buffer writes.
void BM_Parts_WriteFile(benchmark::State& state) {
  if (!Ready(state))
    return;
  const TEncryptedItem& item = Item();
  for (auto _ : state) {
    vexa::TqvFileStream file(item.Target, vexa::fmCreate);
    for (std::size_t at = 0; at < item.Plain.size(); at += vexa::CopyBufferSize) {
      const auto n = static_cast<std::int32_t>(
          std::min<std::size_t>(vexa::CopyBufferSize, item.Plain.size() - at));
      file.WriteBuffer(item.Plain.data() + at, n);
    }
  }
  SetBytes(state);
}

BENCHMARK(BM_Pipeline_ExtractItem)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Parts_Decrypt)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Parts_Inflate)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Parts_WriteFile)->Unit(benchmark::kMillisecond);

} // namespace
