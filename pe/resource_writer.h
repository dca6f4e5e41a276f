#pragma once
// Writes a copy of a PE32 (or PE32+) image whose resource tree is replaced by a given list: the
// packer's way of putting an archive into the stub.
//
// The new tree goes into a new section ".rsrc" laid out as the Windows loader searches it:
// at every level named entries first, sorted by their UTF-16 names with an ordinal
// comparison, then ids ascending; names are stored with ASCII letters upper-cased, because
// FindResourceA upper-cases the name it looks for ("Item1" finds "ITEM1"). The data follows
// in the order the resources are given, each on an 8-byte boundary. When the old resource section
// is the image's last section, in memory and in the file, the new one takes its place; otherwise
// the new one follows the last section and the old one stays, unused. The headers are updated
// (resource directory, section table, NumberOfSections, SizeOfImage, SizeOfInitializedData) and
// CheckSum is computed over the final file. A certificate table is dropped: a signature cannot
// survive the change, and one left behind would only fail verification.

#include <cstdint>
#include <string>
#include <vector>

#include "pe/pe_image.h"
#include "pe/resource.h"

namespace vexa::pe {

// The largest SizeOfImage written. A 32-bit process that is not large-address-aware has
// 2 GiB of address space and must map the image in one piece below it; the last MiB is
// left for the loader's own needs. Near this size a fragmented process may still fail to
// map the image, so it is a ceiling, not a promise.
inline constexpr std::uint32_t MaxImageSize = 0x7FF00000;

struct WriteReport {
  bool DroppedCertificate = false; // the stub carried a signature; the output has none
  std::uint32_t SizeOfImage = 0;   // what the loader maps in one piece
};

// The largest image that 32-bit Windows can be trusted to map. A 32-bit Windows gives a
// program 2 GiB of address space, and the image must lie in one piece between the
// program's start address (4 MiB) and the system DLLs, which since Vista are placed at
// random below 2 GiB, often well below 1.8 GiB, and share that space with the stacks,
// heaps and whatever DLLs security products inject. 1 GiB leaves room on every such system;
// on 64-bit Windows the large-address-aware stub has 4 GiB and takes up to MaxImageSize.
inline constexpr std::uint32_t Mappable32BitImageSize = 0x40000000;

// Writes Stub with exactly Resources as its resources to OutputPath (created, or truncated
// when it exists). Stub's own resources are kept only if they are in the list (see
// PeImage::Resources). Every check that can refuse the job (duplicate keys, a stub without
// room for another section header, an image above MaxImageSize) runs before the file is
// created; when a data source fails midway, the partial file is removed. Resource data is
// streamed through a fixed buffer, never held whole. Throws PeWriteError.
WriteReport WriteImageWithResources(const PeImage& Stub, const std::vector<Resource>& Resources,
                                    const std::string& OutputPath);

} // namespace vexa::pe
