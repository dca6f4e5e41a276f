#include "packer/header_builder.h"

#include <cstring>
#include <stdexcept>

#include "archive/vexa_header.h"
#include "texts/stub_texts.h"

namespace vexa::tool {

namespace {

using namespace ArchiveLayout;

void PutU16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

void PutU32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i)
    p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void PutText(std::uint8_t* Field, std::size_t Width, const std::string& Text, const char* What) {
  if (Text.size() > Width)
    throw std::invalid_argument(std::string(What) + " is longer than " + std::to_string(Width) +
                                " bytes: " + Text);
  std::memcpy(Field, Text.data(), Text.size());
}

} // namespace

std::string InterfaceTextSection() {
  return BuildHeaderTextSection([](std::uint16_t Id) { return FindStubText(Id)->English; });
}

std::vector<std::uint8_t> BuildHeaderResource(const HeaderFields& Header,
                                              const std::vector<ItemRecordFields>& Items) {
  if (Items.size() > 0xFFFF)
    throw std::invalid_argument("an archive holds at most 65535 items");
  const std::string& texts = Header.TextSection;
  std::vector<std::uint8_t> out(BlockSize + ItemRecordSize * Items.size() + texts.size(), 0);

  std::uint8_t* block = out.data();
  block[FlagsOffset] = Header.Flags;
  PutU16(block + 2, 14); // reserved; of bytes 1-11 the stub reads only UnattendedOffset
  block[UnattendedOffset] = Header.RefuseUnattended ? RefuseUnattended : 0;
  PutU16(block + ItemCountOffset, static_cast<std::uint16_t>(Items.size()));
  PutU16(block + TextLengthOffset, static_cast<std::uint16_t>(texts.size()));
  std::memcpy(block + PasswordCheckOffset, Header.PasswordCheck.data(), PasswordCheckSize);
  PutText(block + DestinationPathOffset, PathFieldSize, Header.DestinationPath,
          "the destination path");
  PutText(block + ProgramPathOffset, PathFieldSize - 1, Header.ProgramPath, "the program path");

  for (std::size_t i = 0; i < Items.size(); ++i) {
    const ItemRecordFields& item = Items[i];
    std::uint8_t* record = block + BlockSize + ItemRecordSize * i;
    PutText(record + ItemNameOffset, NameFieldSize, item.FileName, "an item name");
    PutText(record + FileNameOffset, NameFieldSize, item.FileName, "an item name");
    record[CompressedOffset] = item.Method;
    std::memcpy(record + FileTimeOffset, &item.FileTime, sizeof item.FileTime);
    PutU32(record + OriginalSizeOffset, item.OriginalSize);
    PutU32(record + StoredSizeOffset, item.StoredSize);
  }
  std::memcpy(block + BlockSize + ItemRecordSize * Items.size(), texts.data(), texts.size());
  return out;
}

double DaysSince1899(std::int64_t UnixSeconds) {
  // 25569 days lie between 30 December 1899 and 1 January 1970.
  return 25569.0 + static_cast<double>(UnixSeconds) / 86400.0;
}

} // namespace vexa::tool
