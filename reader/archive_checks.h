#pragma once
// What an archive tells about itself before any item is read, in the words that list,
// extract and verify share: whether its image checksum still fits the file, and item
// resources that its header does not name.

#include <optional>
#include <string>

#include "reader/archive_file.h"

namespace vexa::tool {

struct ImageChecksumCheck {
  enum class Verdict {
    Fits,       // the file is as its builder wrote it
    NotChecked, // nothing can be concluded; Text says why
    Damaged,    // a vexa-packed file changed after packing; Text gives both checksums
  };
  Verdict Result = Verdict::NotChecked;
  std::string Text;
};

// Sums the whole file once.
ImageChecksumCheck CheckImageChecksum(const TArchiveFile& Archive);

// The warning about item resources past the header's last item, or nothing when there are
// none. They are not damage by themselves: a builder that reuses a copy of a larger
// archive may leave them. But a header whose item count was lost leaves them too.
std::optional<std::string> ItemsPastHeaderWarning(const TArchiveFile& Archive);

} // namespace vexa::tool
