#pragma once
// One item of a pack: a file read, its checksum taken, compressed when that makes it
// smaller, enciphered when there is a password, and appended to a work file. One packer
// per thread; each owns its compressor and its work file.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "packer/compressor.h"
#include "packer/work_file.h"
#include "tool_base/progress.h"

namespace vexa::tool {

inline constexpr std::uint64_t MaxItemSize = 0xFFFFFFFFull; // the header holds 32-bit sizes

struct PackedItem {
  std::uint32_t OriginalSize = 0;
  std::uint32_t StoredSize = 0; // before enciphering
  ItemMethod Method = imStored;
  std::uint32_t Checksum = 0;   // CRC-32 of the file's bytes
  std::string WorkFile;         // the work file that holds the item's bytes, by name
  std::uint64_t Offset = 0;     // of the item's bytes in that file
  std::uint64_t Length = 0;     // enciphered items are padded to whole cipher blocks
};

class TItemPacker {
public:
  // Compressor: none to store every item as it is. Progress learns of every byte read.
  TItemPacker(std::filesystem::path WorkFile, std::unique_ptr<TCompressor> Compressor,
              const std::optional<std::string>& Password, TProgress& Progress);

  // Raises ToolError naming Path when it cannot be read or has grown to 4 GiB or more.
  PackedItem Pack(const std::filesystem::path& Path);
  // Ends the work file's writing, so that the image writer can read it by name.
  void Close() { Work.Close(); }

private:
  TWorkFile Work;
  std::unique_ptr<TCompressor> Compressor;
  const std::optional<std::string>& Password;
  TProgress& Progress;
};

} // namespace vexa::tool
