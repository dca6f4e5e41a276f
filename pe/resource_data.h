#pragma once
// The resource data sources the packer needs: bytes it owns, bytes that live elsewhere (the
// stub image's own resources), and a region of a file, read only while it is written.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "pe/resource.h"

namespace vexa::pe {

class BytesData final : public ResourceData {
public:
  explicit BytesData(std::vector<std::uint8_t> Bytes) : Bytes(std::move(Bytes)) {}
  std::uint64_t Size() const override { return Bytes.size(); }
  void WriteTo(OutputSink& Out) const override { Out.Write(Bytes); }

private:
  std::vector<std::uint8_t> Bytes;
};

// Bytes must outlive every write.
class SpanData final : public ResourceData {
public:
  explicit SpanData(std::span<const std::uint8_t> Bytes) : Bytes(Bytes) {}
  std::uint64_t Size() const override { return Bytes.size(); }
  void WriteTo(OutputSink& Out) const override { Out.Write(Bytes); }

private:
  std::span<const std::uint8_t> Bytes;
};

// Size bytes of the file at Path from Offset, copied in bounded chunks when written, so an
// item of any size costs one buffer. Offset must stay below 2 GiB (the file calls seek with
// 32-bit offsets); an image that holds the region is smaller than that anyway. A file that
// cannot be opened or ends early raises PeWriteError naming it.
class FileRegionData final : public ResourceData {
public:
  FileRegionData(std::string Path, std::uint64_t Offset, std::uint64_t Size)
      : Path(std::move(Path)), Offset(Offset), Length(Size) {}
  std::uint64_t Size() const override { return Length; }
  void WriteTo(OutputSink& Out) const override;

private:
  std::string Path;
  std::uint64_t Offset;
  std::uint64_t Length;
};

} // namespace vexa::pe
