// The PE reader over arbitrary images: PeImage::Parse, the resource list, and the
// archive read through TPeResourceModule as `vexa list`/`extract` read it.
//
// Input: the image's bytes.
// Properties: a bad image is refused with PeFormatError, never a fault; every resource
// span lies inside the image; the module finds each RT_RCDATA name it lists, without
// regard to case, with that entry's size; the header and every item of an archive found
// inside load through the resource streams without a fault, and so does a version resource.

#include "archive/vexa_header.h"
#include "fuzz_input.h"
#include "pe/pe_image.h"
#include "pe/pe_resource_module.h"
#include "pe/version_info.h"
#include "streams/item_pipeline.h"
#include "streams/resource_stream.h"

namespace {

using namespace vexa;

void NoReport(unsigned) {}

// The archive the image carries, if any, read as the tool reads it.
void ReadArchive(const TPeResourceModule& Module) {
  LoadResourceText(Module, "WelcomeText");
  TVexaHeader header;
  if (!header.LoadFromResource(Module, "Header", NoReport))
    return;
  fuzz::TSinkStream sink;
  for (std::size_t i = 0; i < header.Items.size() && i < 64; ++i) {
    try {
      TItemReader reader(Module, "Item" + std::to_string(i + 1), "", *header.Items[i]);
      CopyStream(reader.Top(), sink);
    } catch (const TStreamReadException&) {
    } catch (const EDecompressionError&) {
    }
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  // A copy of exactly Size bytes on the heap: any read past the image is reported.
  const std::vector<std::uint8_t> bytes(Data, Data + Size);
  const std::span<const std::uint8_t> image(bytes);
  std::optional<pe::PeImage> parsed;
  try {
    parsed = pe::PeImage::Parse(image);
  } catch (const pe::PeFormatError&) {
    return 0;
  }

  const auto inside = [&](std::span<const std::uint8_t> Part) {
    return Part.empty() || (Part.data() >= image.data() &&
                            Part.data() + Part.size() <= image.data() + image.size());
  };
  std::uint32_t sum = 0;
  for (const pe::ResourceEntry& e : parsed->Entries()) {
    FUZZ_CHECK(inside(e.Data));
    for (std::uint8_t b : e.Data)
      sum += b;
    if (!e.Type.IsName() && e.Type.Id == pe::RtVersion)
      pe::ParseVersionInfo(e.Data);
  }
  FUZZ_CHECK(parsed->Resources().size() == parsed->Entries().size());
  parsed->HasCertificate();
  for (const pe::Section& s : parsed->Sections())
    if (auto at = parsed->SectionOf(s.VirtualAddress, 1))
      FUZZ_CHECK(parsed->FileOffsetOf(*at, s.VirtualAddress) < Size);

  const TPeResourceModule module(std::move(*parsed));
  for (const pe::ResourceEntry& e : module.Image().Entries()) {
    if (e.Type.IsName() || e.Type.Id != pe::RtRcData || !e.Name.IsName())
      continue;
    std::string name;
    for (char16_t c : e.Name.Name)
      name.push_back(c >= u'A' && c <= u'Z' ? static_cast<char>(c - u'A' + u'a')
                                            : static_cast<char>(c));
    if (name.find('\0') != std::string::npos ||
        std::any_of(e.Name.Name.begin(), e.Name.Name.end(), [](char16_t c) { return c > 0xFF; }))
      continue;
    const auto found = module.Find(name.c_str());
    FUZZ_CHECK(found != nullptr);
    FUZZ_CHECK(module.SizeOf(found) <= Size);
  }
  ReadArchive(module);
  return static_cast<int>(sum & 0); // the sum only makes every byte be read
}
