// One item's read side, TItemReader, over arbitrary item records, passwords and
// resources, copied by CopyStream into a sink so that no file is made.
//
// Input: the 81-byte item record, u8 password length (bit 7: the item's resource is
// missing; the rest, modulo 128, the length), the password, then the ITEM1 resource.
// Properties: only the failures a damaged item may cause come out (TStreamReadException,
// EDecompressionError, EReadError), never another exception or a fault; every loaded
// resource is released; an uncompressed item gives exactly its resource's bytes (plain)
// or exactly StoredSize bytes (encrypted); an unsafe FileName is refused by ExtractItem
// before anything is opened.

#include "archive/archive_paths.h"
#include "fuzz_input.h"
#include "streams/item_pipeline.h"
#include "support/memory_resource_module.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  using namespace vexa;
  fuzz::TInput in(Data, Size);
  TItemRecord item{};
  const auto record = in.Take(item.size());
  std::copy(record.begin(), record.end(), item.begin());
  const std::uint8_t lengthByte = in.U8();
  const bool missing = lengthByte & 0x80;
  const auto passwordBytes = in.Take(lengthByte & 0x7F);
  const std::string password(passwordBytes.begin(), passwordBytes.end());
  const auto resource = in.Rest();

  test::MemoryResourceModule module;
  if (!missing)
    module.Add("ITEM1", fuzz::ToVector(resource));

  // An unsafe name returns false before the resource or a file is touched.
  if (!IsSafeItemPath(FileName(item))) {
    FUZZ_CHECK(!ExtractItem(module, "Item1", "/nonexistent-folder/x", password, item));
    FUZZ_CHECK(module.Outstanding() == 0);
  }

  fuzz::TSinkStream sink(resource.size());
  bool complete = false;
  try {
    TItemReader reader(module, "Item1", password, item);
    CopyStream(reader.Top(), sink);
    reader.CheckComplete();
    complete = true;
  } catch (const TStreamReadException&) {
    // The resource is missing, or an encrypted item is shorter than its padding.
    FUZZ_CHECK(missing || !password.empty());
  } catch (const EDecompressionError&) {
    FUZZ_CHECK(Compressed(item) != 0);
  } catch (const EReadError&) {
    FUZZ_CHECK(false); // nothing on the read side asks for an exact count
  }
  FUZZ_CHECK(module.Outstanding() == 0);
  FUZZ_CHECK(!missing || sink.Total == 0);

  if (!complete || Compressed(item) != 0)
    return 0;
  if (password.empty()) {
    FUZZ_CHECK(sink.Total == resource.size());
    FUZZ_CHECK(std::equal(sink.Kept.begin(), sink.Kept.end(), resource.begin()));
  } else {
    FUZZ_CHECK(sink.Total == StoredSize(item));
  }
  return 0;
}
