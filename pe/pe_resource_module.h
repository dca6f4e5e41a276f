#pragma once
// RT_RCDATA resources of a PE image read from bytes: how the vexa tool opens an archive
// without running it, through the same resource streams the stub uses on its own module.

#include <string>
#include <vector>

#include "pe/pe_image.h"
#include "platform/mapped_file.h"
#include "streams/resource_module.h"

namespace vexa {

class TPeResourceModule : public TResourceModule {
public:
  // The image's bytes must outlive the module. When they are Backing's mapping, the
  // bytes a stream has read past leave memory (see TResourceModule::DoneWith).
  explicit TPeResourceModule(pe::PeImage Image, const platform::MappedFile* Backing = nullptr);
  TPeResourceModule(const TPeResourceModule&) = delete;
  TPeResourceModule& operator=(const TPeResourceModule&) = delete;

  // Matches names as FindResourceA does for ASCII: letters without regard to case; other
  // characters must be equal (the 8-bit name read as Latin-1). When a name has several
  // languages, the first one stored wins.
  Found Find(const char* Name) const override;
  // The data lies in the image already: loading and locking cannot fail for a found
  // resource, and Free has nothing to release.
  Loaded Load(Found Resource) const override { return Resource; }
  const std::uint8_t* Lock(Loaded Handle) const override;
  std::uint32_t SizeOf(Found Resource) const override;
  void Free(Loaded) const override {}
  void DoneWith(const std::uint8_t* Begin, std::size_t Count) const override;

  const pe::PeImage& Image() const { return Parsed; }

private:
  pe::PeImage Parsed;
  const platform::MappedFile* Backing;
  // The RCDATA entries with names, by their names upper-cased; pointers into Parsed, so
  // that thousands of items cost a word each here.
  std::vector<const pe::ResourceEntry*> ByName;
};

} // namespace vexa
