#pragma once
// Streams over an OS file handle. The extractor only ever creates files (mode 0xFFFF)
// and writes them.

#include <cstdint>
#include <string>

#include "platform/file.h"
#include "streams/stream.h"

namespace vexa {

class THandleStream : public TStream {
public:
  explicit THandleStream(platform::FileHandle Handle) : Handle(Handle) {}

  // Bytes transferred; 0 when the OS call fails.
  std::int32_t Read(void* Buffer, std::int32_t Count) override;
  std::int32_t Write(const void* Buffer, std::int32_t Count) override;
  std::int32_t Seek(std::int32_t Offset, std::uint16_t Origin) override;
  void SetSize(std::int32_t NewSize) override;

protected:
  platform::FileHandle Handle;
};

inline constexpr std::uint16_t fmCreate = 0xFFFF;
inline constexpr std::uint16_t fmOpenRead = 0x0000;

class TFileStream : public THandleStream {
public:
  // fmCreate creates or empties Path for this stream alone (EFCreateError "Cannot create
  // file <Path>" when it cannot); any other mode opens an existing file for reading
  // (EFOpenError "Cannot open file <Path>"). No folder is ever created.
  TFileStream(const std::string& Path, std::uint16_t Mode);
  // A file that its caller created (the stub names its items in UTF-16), closed with the
  // stream.
  explicit TFileStream(platform::FileHandle Created) : THandleStream(Created) {}
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;
};

// The extraction target: a file stream whose Read never lets a failure out.
class TqvFileStream : public TFileStream {
public:
  using TFileStream::TFileStream;
  // 0 when the read failed.
  std::int32_t Read(void* Buffer, std::int32_t Count) override;
};

} // namespace vexa
