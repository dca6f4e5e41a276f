#pragma once
// Writes the HEADER resource that the stub's TVexaHeader loads: the 656-byte block, one
// 81-byte record per item and the text section of the interface texts.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "archive/vexa_header.h"

namespace vexa::tool {

struct ItemRecordFields {
  std::string FileName; // at most 32 bytes; also written as ItemName
  ItemMethod Method = imStored;
  double FileTime = 0; // days since 30 December 1899
  std::uint32_t OriginalSize = 0;
  std::uint32_t StoredSize = 0; // after compression, before encryption
};

// The 18 interface texts in English, each ended by CR LF, then one NUL.
std::string InterfaceTextSection();

struct HeaderFields {
  std::uint8_t Flags = 0;
  std::array<std::uint8_t, 128> PasswordCheck{};
  std::string DestinationPath; // at most 256 bytes
  std::string ProgramPath;     // at most 255 bytes: its NUL must fit the field
  std::string TextSection = InterfaceTextSection(); // in the archive's language
  bool RefuseUnattended = false;
};

// Raises std::invalid_argument when a field does not fit its width or there are more
// than 65535 items (the packer checks these earlier, with the offending input named).
std::vector<std::uint8_t> BuildHeaderResource(const HeaderFields& Header,
                                              const std::vector<ItemRecordFields>& Items);

// Seconds since 1970 (UTC) as days since 30 December 1899, the fraction being the time
// of day.
double DaysSince1899(std::int64_t UnixSeconds);

} // namespace vexa::tool
