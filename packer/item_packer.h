#pragma once
// One block of a pack: its items' files read, their checksums taken, compressed into one
// stream when that makes them smaller, enciphered when there is a password, and appended
// to a work file. A block is most often one item; a solid block is several, which only
// LZMA2 joins into one stream. One packer per thread; each owns its compressor and its
// work file.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "packer/compressor.h"
#include "packer/work_file.h"
#include "tool_base/progress.h"

namespace vexa::tool {

inline constexpr std::uint64_t MaxItemSize = 0xFFFFFFFFull; // the header holds 32-bit sizes

struct PackedItem {
  std::uint32_t OriginalSize = 0;
  std::uint32_t StoredSize = 0; // before enciphering
  ItemMethod Method = imStored;
  std::uint32_t Checksum = 0; // CRC-32 of the file's bytes
  std::string WorkFile;       // the work file that holds the item's bytes, by name
  std::uint64_t Offset = 0;   // of the item's bytes in that file
  std::uint64_t Length = 0;   // enciphered items are padded to whole cipher blocks
};

class TItemPacker {
public:
  // Compressor: none to store every item as it is. Progress learns of every byte read.
  TItemPacker(std::filesystem::path WorkFile, std::unique_ptr<TCompressor> Compressor,
              const std::optional<std::string>& Password, TProgress& Progress);

  // The block of the files Paths (at least one), its items in the same order: the first
  // holds the block's stream, the others continue it (imLzma2Continued, nothing stored),
  // or each is stored as it is when compressing them together would not make them
  // smaller. Raises ToolError naming a file that cannot be read or has grown to 4 GiB or
  // more.
  std::vector<PackedItem> Pack(std::span<const std::filesystem::path> Paths);
  // Ends the work file's writing, so that the image writer can read it by name.
  void Close() { Work.Close(); }

private:
  TWorkFile Work;
  std::unique_ptr<TCompressor> Compressor;
  const std::optional<std::string>& Password;
  TProgress& Progress;
};

} // namespace vexa::tool
