// The header loader over arbitrary HEADER resources.
//
// Input: the resource's bytes, as they would stand in the stub.
// Properties: the loader never reads past the resource (the sanitizers watch that), a
// load that succeeds holds exactly ItemCount records copied from the table and a
// ProgramPath inside its field, a failed load leaves the header empty, a second load
// gives the same result, and every loaded resource is released.

#include <cstring>

#include "archive/vexa_header.h"
#include "fuzz_input.h"
#include "support/memory_resource_module.h"

namespace {

int Reports = 0;
void CountReport(unsigned) { ++Reports; }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  using namespace vexa;
  using namespace vexa::ArchiveLayout;
  test::MemoryResourceModule module;
  module.Add("HEADER", std::vector<std::uint8_t>(Data, Data + Size));

  TVexaHeader header;
  Reports = 0;
  const bool loaded = header.LoadFromResource(module, "Header", CountReport);
  FUZZ_CHECK(module.Outstanding() == 0);
  FUZZ_CHECK(Reports == (loaded ? 0 : 1));
  if (!loaded) {
    FUZZ_CHECK(header.Items.empty() && header.Texts.empty());
    for (std::uint8_t b : header.Block)
      FUZZ_CHECK(b == 0);
    return 0;
  }

  const std::size_t count = header.ItemCount();
  FUZZ_CHECK(Size >= BlockSize + ItemRecordSize * count + 1);
  FUZZ_CHECK(std::memcmp(header.Block.data(), Data, BlockSize) == 0);
  FUZZ_CHECK(header.Items.size() == count);
  for (std::size_t i = 0; i < count; ++i) {
    const TItemRecord& item = *header.Items[i];
    FUZZ_CHECK(std::memcmp(item.data(), Data + BlockSize + ItemRecordSize * i, ItemRecordSize) ==
               0);
    FUZZ_CHECK(FileName(item).size() <= NameFieldSize);
  }
  FUZZ_CHECK(header.ProgramPath().size() < PathFieldSize);
  FUZZ_CHECK(header.DestinationPath().size() <= PathFieldSize);
  for (const std::string& line : header.Texts)
    FUZZ_CHECK(line.find_first_of(std::string("\r\n\0", 3)) == std::string::npos);

  // Loading again replaces everything the first load gave.
  const auto texts = header.Texts;
  FUZZ_CHECK(header.LoadFromResource(module, "HEADER", CountReport));
  FUZZ_CHECK(header.Items.size() == count && header.Texts == texts);
  FUZZ_CHECK(module.Outstanding() == 0);
  return 0;
}
