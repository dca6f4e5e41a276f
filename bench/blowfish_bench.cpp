// Blowfish-CBC deciphering of the same bytes by TBlowfish and by OpenSSL's
// BF_cbc_encrypt, the reference it must keep up with.

#define OPENSSL_SUPPRESS_DEPRECATED // the BF_* calls are deprecated, not gone
#include <openssl/blowfish.h>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "crypto/blowfish.h"

namespace {

const std::string Key = "benchmark password";

std::vector<std::uint8_t> Data(std::size_t n) {
  std::vector<std::uint8_t> b(n);
  std::uint32_t x = 12345;
  for (auto& c : b) {
    x = x * 1103515245u + 12345u;
    c = static_cast<std::uint8_t>(x >> 24);
  }
  return b;
}

void SetOpenSslKey(BF_KEY& key) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(Key.data());
  BF_set_key(&key, static_cast<int>(Key.size()), bytes);
}

// Deciphering (or enciphering) in place, chunk by chunk, as the item stream does; the
// chain runs on across chunks and iterations, so the cipher never sees a restart.
void RunVexa(benchmark::State& state, bool Encrypt) {
  auto buffer = Data(static_cast<std::size_t>(state.range(0)));
  vexa::TBlowfish bf;
  bf.SetKey(Key);
  for (auto _ : state) {
    bf.CryptBuffer(buffer.data(), static_cast<std::int32_t>(buffer.size()), Encrypt);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void RunOpenSsl(benchmark::State& state, int Mode) {
  auto buffer = Data(static_cast<std::size_t>(state.range(0)));
  BF_KEY key;
  SetOpenSslKey(key);
  unsigned char iv[8] = {};
  for (auto _ : state) {
    BF_cbc_encrypt(buffer.data(), buffer.data(), static_cast<long>(buffer.size()), &key, iv, Mode);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_BlowfishCbcDecrypt_Vexa(benchmark::State& state) { RunVexa(state, false); }
void BM_BlowfishCbcDecrypt_OpenSSL(benchmark::State& state) { RunOpenSsl(state, BF_DECRYPT); }
void BM_BlowfishCbcEncrypt_Vexa(benchmark::State& state) { RunVexa(state, true); }
void BM_BlowfishCbcEncrypt_OpenSSL(benchmark::State& state) { RunOpenSsl(state, BF_ENCRYPT); }

// Both sides must compute the same thing, or the comparison means nothing.
void BM_BlowfishSameBytes(benchmark::State& state) {
  auto ours = Data(1 << 16), theirs = ours;
  vexa::TBlowfish bf;
  bf.SetKey(Key);
  BF_KEY key;
  SetOpenSslKey(key);
  unsigned char iv[8] = {};
  for (auto _ : state) {
    bf.Decrypt(ours.data(), static_cast<std::int32_t>(ours.size()));
    BF_cbc_encrypt(theirs.data(), theirs.data(), static_cast<long>(theirs.size()), &key, iv,
                   BF_DECRYPT);
    if (ours != theirs) {
      state.SkipWithError("TBlowfish and BF_cbc_encrypt disagree");
      break;
    }
  }
}

constexpr std::int64_t MiB = 1 << 20;

} // namespace

BENCHMARK(BM_BlowfishSameBytes)->Iterations(4);
BENCHMARK(BM_BlowfishCbcDecrypt_Vexa)->Arg(61440)->Arg(MiB);
BENCHMARK(BM_BlowfishCbcDecrypt_OpenSSL)->Arg(61440)->Arg(MiB);
BENCHMARK(BM_BlowfishCbcEncrypt_Vexa)->Arg(MiB);
BENCHMARK(BM_BlowfishCbcEncrypt_OpenSSL)->Arg(MiB);
