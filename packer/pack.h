#pragma once
// Files and a plan in, a self-extracting .exe out. Every check that can refuse the job
// runs before the output is touched, and the output appears whole or not at all.

#include <cstdint>
#include <string>

#include "packer/pack_plan.h"

namespace vexa::tool {

struct PackReport {
  std::size_t Items = 0;
  std::uint64_t OriginalBytes = 0;
  std::uint64_t StoredBytes = 0;
  bool DroppedCertificate = false;
  std::uint32_t ImageSize = 0; // what the loader maps in one piece
};

// The warning for an archive whose image 32-bit Windows may fail to map; empty when there
// is nothing to say.
std::string ImageSizeWarning(std::uint32_t ImageSize);

// Writes the archive Plan describes. Raises ToolError naming the file that cannot be read
// or written, or when the items do not fit the image of a 32-bit program.
PackReport PackArchive(const PackPlan& Plan);

} // namespace vexa::tool
