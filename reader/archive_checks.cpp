#include "reader/archive_checks.h"

#include <cstdio>

namespace vexa::tool {

namespace {
std::string Hex(std::uint32_t Value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(Value));
  return text;
}
} // namespace

ImageChecksumCheck CheckImageChecksum(const TArchiveFile& Archive) {
  const std::uint32_t stored = Archive.StoredChecksum();
  if (stored == 0)
    return {ImageChecksumCheck::Verdict::NotChecked, "the header holds none"};
  const std::uint32_t actual = Archive.ActualChecksum();
  if (stored == actual)
    return {ImageChecksumCheck::Verdict::Fits, {}};
  if (!Archive.PackedByVexa())
    return {ImageChecksumCheck::Verdict::NotChecked,
            "it does not fit the file, but this archive was not packed by vexa: builders that "
            "write their resources into a copy of the stub leave the stub's own checksum"};
  return {ImageChecksumCheck::Verdict::Damaged,
          "the image checksum is " + Hex(actual) + " where the header says " + Hex(stored)};
}

std::optional<std::string> ItemsPastHeaderWarning(const TArchiveFile& Archive) {
  const std::size_t extra = Archive.ItemResourcesPastHeader();
  if (extra == 0)
    return std::nullopt;
  const std::size_t named = Archive.Header().Items.size();
  const std::string first = "ITEM" + std::to_string(named + 1);
  return Archive.Path() + ": item resources go on past the header's " + std::to_string(named) +
         " item(s) (" + (extra == 1 ? first : first + " to ITEM" + std::to_string(named + extra)) +
         "), which are not read; another builder may leave such resources, but if the "
         "archive should hold them, its header is damaged";
}

} // namespace vexa::tool
