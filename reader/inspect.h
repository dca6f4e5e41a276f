#pragma once
// `vexa list`, `vexa extract` and `vexa verify`: opening an archive without running it.

#include <ostream>
#include <string>

#include "reader/archive_file.h"

namespace vexa::tool {

// The header and the item table, as a table or as JSON. Item resources past the header's
// last item are warned of on Err.
void ListArchive(const std::string& Path, bool Json, std::ostream& Out, std::ostream& Err);

struct ExtractOptions {
  std::string Directory;
  bool Force = false; // overwrite existing files
  bool Progress = false;
  PasswordSource Password; // asked only when the archive is encrypted
};

// Writes what the stub would write into Options.Directory (created when missing), an item
// named in a subfolder (sub\inner.txt or sub/inner.txt, or a path of ITEMPATHS) into that
// subfolder, which is created too, and the recorded empty folders. Checks every item's name and
// every target before writing anything: a name that could lead outside the folder or that Windows
// cannot hold, two items that are one file on Windows, a link or a file where a subfolder goes, a
// damaged ITEMPATHS, or an existing file without Force, refuses the whole extraction, and so does
// an image checksum that shows a vexa-packed archive changed after packing. Item resources past the
// header's last item are warned of on Err. The writes go through folder handles, never
// through a link, so one planted in the folder while extract runs is refused too, and
// nothing goes outside. Raises ToolError.
void ExtractArchiveTo(const std::string& Path, const ExtractOptions& Options, std::ostream& Out,
                      std::ostream& Err);

struct VerifyResult {
  std::size_t DamagedItems = 0;
  // Every item reads whole, but the PE image checksum of a vexa-packed file is not the one
  // its header holds: the stub, the headers or another resource changed after packing.
  bool DamagedOutsideItems = false;
  // A damaged ITEMPATHS resource, or recorded empty folders the extractor would not make.
  std::size_t PathProblems = 0;
  bool Passed() const { return DamagedItems == 0 && !DamagedOutsideItems && PathProblems == 0; }
};

// Reads every item to its end through the extractor's own streams and reports each
// damaged one by name, and each item or empty folder whose path the extractor refuses; when all are
// whole, compares the image checksum (reported as not checked when the header holds none, or when
// it does not fit an archive that another builder made). The report goes to Out and Err as text, or
// to Out as JSON. Raises ToolError when the archive cannot be opened or the password is wrong.
VerifyResult VerifyArchive(const std::string& Path, const PasswordSource& Password, bool Json,
                           std::ostream& Out, std::ostream& Err);

} // namespace vexa::tool
