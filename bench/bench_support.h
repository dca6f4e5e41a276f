#pragma once
// What the benchmarks share: their data, Windows program code as setup programs are,
// and a resource module that serves one item from memory.

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <vector>

#include <zlib.h>

#include "streams/resource_module.h"

namespace vexa::bench {

using Bytes = std::vector<std::uint8_t>;

// zlib's own inflate of a whole zlib stream into Out in one call, the reference the
// decompression stream and the pipeline are measured against. False unless it ended.
inline bool InflateOnce(std::span<const std::uint8_t> Stored, Bytes& Out) {
  z_stream z{};
  inflateInit(&z);
  z.next_in = const_cast<Bytef*>(Stored.data());
  z.avail_in = static_cast<uInt>(Stored.size());
  z.next_out = Out.data();
  z.avail_out = static_cast<uInt>(Out.size());
  const int r = inflate(&z, Z_FINISH);
  inflateEnd(&z);
  return r == Z_STREAM_END;
}

// The first Size bytes of Wine's 32-bit DLLs in name order; empty when Wine is not
// installed or they hold fewer bytes.
inline Bytes WineDllCorpus(std::size_t Size) {
  namespace fs = std::filesystem;
  const fs::path folder = "/usr/lib/i386-linux-gnu/wine/i386-windows";
  std::vector<fs::path> dlls;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec))
    if (entry.path().extension() == ".dll")
      dlls.push_back(entry.path());
  std::sort(dlls.begin(), dlls.end());
  Bytes corpus;
  for (const auto& dll : dlls) {
    if (corpus.size() >= Size)
      break;
    std::ifstream in(dll, std::ios::binary);
    corpus.insert(corpus.end(), std::istreambuf_iterator<char>(in), {});
  }
  if (corpus.size() < Size)
    return {};
  corpus.resize(Size);
  return corpus;
}

// Serves Data as every resource it is asked for.
class TOneItemModule : public TResourceModule {
public:
  explicit TOneItemModule(const Bytes& Data) : Data(Data) {}
  Found Find(const char*) const override { return &Data; }
  Loaded Load(Found Resource) const override { return Resource; }
  const std::uint8_t* Lock(Loaded) const override { return Data.data(); }
  std::uint32_t SizeOf(Found) const override { return static_cast<std::uint32_t>(Data.size()); }
  void Free(Loaded) const override {}

private:
  const Bytes& Data;
};

} // namespace vexa::bench
