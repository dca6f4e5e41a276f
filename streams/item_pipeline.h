#pragma once
// One archive item into one file: resource stream → [decrypting stream] →
// [decompression stream] → file stream.

#include <string>

#include "archive/vexa_header.h"
#include "streams/resource_module.h"
#include "streams/stream.h"

namespace vexa {

inline constexpr std::int32_t CopyBufferSize = 61440;

// Copies until Source.Read returns 0. A Write that takes fewer bytes than it was given
// (a full disk, a medium that refuses writing) raises EWriteError, so a file is never
// silently shorter than its item.
void CopyStream(TStream& Source, TStream& Target);

// Writes the item stored in resource ResName to TargetPath. An empty Password means
// the item is not encrypted. Returns false, and writes nothing, when the item's
// FileName is not a plain name that stays inside the destination folder; every other
// failure is raised: TStreamReadException (resource missing; no file created),
// EFCreateError, EWriteError, EDecompressionError (corrupt or cut-short data; the
// partial file stays).
bool ExtractItem(const TResourceModule& Module, const std::string& ResName,
                 const std::string& TargetPath, const std::string& Password,
                 const TItemRecord& Item);

} // namespace vexa
