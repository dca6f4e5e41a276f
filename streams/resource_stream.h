#pragma once
// Reading the archive's RT_RCDATA resources: as a seekable read-only stream over the
// resource's bytes in place (no copy), or as one text up to its first NUL.

#include <cstdint>
#include <string>

#include "streams/resource_module.h"
#include "streams/stream.h"

namespace vexa {

class TResourceStream : public TReadOnlyStream {
public:
  // Raises TStreamReadException when the resource is missing or cannot be loaded.
  TResourceStream(const TResourceModule& Instance, const std::string& ResName);
  ~TResourceStream() override;
  TResourceStream(const TResourceStream&) = delete;
  TResourceStream& operator=(const TResourceStream&) = delete;

  // Never raises: at the end it delivers what is left, then 0. Hands the bytes it has
  // read past to the module's DoneWith, a quarter of a megabyte or more at a time, and the
  // rest of them when it is destroyed.
  std::int32_t Read(void* Buffer, std::int32_t Count) override;
  // A target outside 0..size, or an unknown origin, raises TStreamReadException and
  // leaves the position unchanged.
  std::int32_t Seek(std::int32_t Offset, std::uint16_t Origin) override;

private:
  const TResourceModule& Module;
  const std::uint8_t* Memory = nullptr;
  TResourceModule::Loaded Handle = nullptr;
  std::int32_t ResSize = 0;
  std::int32_t ResPosition = 0;
  std::int32_t DoneUpTo = 0; // the bytes before it have been handed to Module.DoneWith
};

// The resource's bytes up to its first NUL (or its end); empty when it does not exist.
std::string LoadResourceText(const TResourceModule& Instance, const std::string& Name);

// The resource's UTF-16LE units up to its first NUL unit (or its end, where an odd last
// byte is left out); empty when it does not exist.
std::u16string LoadResourceWideText(const TResourceModule& Instance, const std::string& Name);

} // namespace vexa
