#include "streams/file_stream.h"

namespace vexa {

std::int32_t THandleStream::Read(void* Buffer, std::int32_t Count) {
  return platform::ReadFile(Handle, Buffer, Count);
}

std::int32_t THandleStream::Write(const void* Buffer, std::int32_t Count) {
  return platform::WriteFile(Handle, Buffer, Count);
}

std::int32_t THandleStream::Seek(std::int32_t Offset, std::uint16_t Origin) {
  return platform::SeekFile(Handle, Offset, Origin);
}

void THandleStream::SetSize(std::int32_t NewSize) {
  Seek(NewSize, soBeginning);
  if (!platform::SetEndOfFile(Handle))
    throw EStreamError("Stream size error");
}

namespace {
platform::FileHandle OpenFile(const std::string& Path, std::uint16_t Mode) {
  if (Mode == fmCreate) {
    const platform::FileHandle h = platform::CreateFileExclusive(Path);
    if (h == platform::InvalidFileHandle)
      throw EFCreateError(Path);
    return h;
  }
  const platform::FileHandle h = platform::OpenFileForReading(Path);
  if (h == platform::InvalidFileHandle)
    throw EFOpenError(Path);
  return h;
}
} // namespace

TFileStream::TFileStream(const std::string& Path, std::uint16_t Mode)
    : THandleStream(OpenFile(Path, Mode)) {}

TFileStream::~TFileStream() { platform::CloseFile(Handle); }

std::int32_t TqvFileStream::Read(void* Buffer, std::int32_t Count) {
  try {
    return THandleStream::Read(Buffer, Count);
  } catch (...) {
    return 0;
  }
}

} // namespace vexa
