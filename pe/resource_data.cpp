#include "pe/resource_data.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "platform/file.h"

namespace vexa::pe {

namespace {

class ReadHandle {
public:
  explicit ReadHandle(const std::string& Path) : H(platform::OpenFileForReading(Path)) {}
  ~ReadHandle() {
    if (H != platform::InvalidFileHandle)
      platform::CloseFile(H);
  }
  ReadHandle(const ReadHandle&) = delete;
  ReadHandle& operator=(const ReadHandle&) = delete;
  platform::FileHandle Get() const { return H; }

private:
  platform::FileHandle H;
};

} // namespace

void FileRegionData::WriteTo(OutputSink& Out) const {
  ReadHandle file(Path);
  if (file.Get() == platform::InvalidFileHandle)
    throw PeWriteError("Cannot open file " + Path);
  constexpr auto MaxSeek = static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max());
  if (Offset > MaxSeek)
    throw PeWriteError("Cannot read " + Path + ": offset " + std::to_string(Offset) +
                       " lies beyond 2 GiB");
  const auto offset = static_cast<std::int32_t>(Offset);
  if (platform::SeekFile(file.Get(), offset, 0) != offset)
    throw PeWriteError("Cannot seek in file " + Path);

  std::vector<std::uint8_t> buffer(std::min<std::uint64_t>(Length, 1u << 16));
  std::uint64_t left = Length;
  while (left > 0) {
    const auto want = static_cast<std::int32_t>(std::min<std::uint64_t>(left, buffer.size()));
    const std::int32_t got = platform::ReadFile(file.Get(), buffer.data(), want);
    if (got <= 0)
      throw PeWriteError("File " + Path + " ended " + std::to_string(left) +
                         " bytes before the expected end (did it change?)");
    Out.Write(std::span(buffer.data(), static_cast<std::size_t>(got)));
    left -= static_cast<std::uint64_t>(got);
  }
}

} // namespace vexa::pe
