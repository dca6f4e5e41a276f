#pragma once
// The string table of a Windows image: resource type 6, block n holding the 16 strings
// with ids 16(n-1) to 16n-1, each a 16-bit length and that many UTF-16 units.

#include <vector>

#include "pe/pe_image.h"
#include "texts/texts_file.h"

namespace vexa::tool {

// Rewrites, in Resources (the writer's copy of Image's resources), every string-table
// block of Image that holds an id of Texts, so that it holds Texts' strings; the block's
// other strings and its language stay. Ids whose block Image lacks are left out: that
// stub never loads them.
void ReplaceStrings(const pe::PeImage& Image, std::vector<pe::Resource>& Resources,
                    const TextTable& Texts);

// The non-empty strings of Image's string table by id; where a block exists in several
// languages, the first one's.
TextTable ReadStrings(const pe::PeImage& Image);

} // namespace vexa::tool
